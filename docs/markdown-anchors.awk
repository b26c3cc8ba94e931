# Input filter of the API reference for the Markdown pages (awk -v main=README.md-path): gives
# every heading outside code blocks the label GitHub gives it, prefixed with the page's name so
# that labels stay unique across pages ("## Threads" of docs/lifetime.md gets
# {#lifetime-threads}; the front page's labels have no prefix), points the pages' links to
# headings, on the same page or another, at those labels, and keeps only the text of links to
# files and folders of the source tree, which the reference does not hold.
function page_prefix(path,    n, parts, name) {
    n = split(path, parts, "/")
    name = parts[n]
    sub(/\.md$/, "", name)
    if (name == "README") {
        # The README of a subfolder is named after the folder; the top-level one is the front page.
        if (n >= 2 && parts[n - 1] != ".." && parts[n - 1] != "." && path != main)
            return parts[n - 1] "-"
        return ""
    }
    return name "-"
}
function slug(text) {
    text = tolower(text)
    gsub(/[^a-z0-9 _-]/, "", text)
    gsub(/ /, "-", text)
    return text
}
FNR == 1 { prefix = page_prefix(FILENAME); fenced = 0 }
/^(```|~~~)/ { fenced = !fenced; print; next }
fenced { print; next }
/^#+ / {
    heading = $0
    sub(/^#+ +/, "", heading)
    print $0 " {#" prefix slug(heading) "}"
    next
}
{
    line = $0
    out = ""
    while (match(line, /\]\([^)]*\)/)) {
        before = substr(line, 1, RSTART - 1)
        target = substr(line, RSTART + 2, RLENGTH - 3)
        line = substr(line, RSTART + RLENGTH)
        if (target ~ /#/) {
            # A link to a heading: "](#label)" or "](page.md#label)".
            file = target
            sub(/#.*/, "", file)
            label = target
            sub(/^[^#]*#/, "", label)
            if (file == "")
                target = "#" prefix label
            else if (file ~ /\.md$/)
                target = "#" page_prefix(file) label
        } else if (target !~ /^[a-z]+:/ && target !~ /\.(md|png|jpg|svg)$/) {
            # A file or folder of the source tree, which the reference does not hold: the
            # link's text alone.
            open = 0
            for (i = length(before); i > 0 && !open; i--)
                if (substr(before, i, 1) == "[")
                    open = i
            if (open) {
                out = out substr(before, 1, open - 1) substr(before, open + 1)
                continue
            }
        }
        out = out before "](" target ")"
    }
    print out line
}
