# Input filter of the API reference for the Markdown pages (awk -v main=README.md-path): gives
# every heading outside code blocks the label GitHub gives it, prefixed with the page's name so
# that labels stay unique across pages ("## Threads" of docs/lifetime.md gets
# {#lifetime-threads}; the front page's labels have no prefix), and points the pages' links to
# headings, on the same page or another, at those labels.
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
    # Links to a heading: "](#label)" and "](page.md#label)".
    while (match(line, /\]\([^)#]*#[^)]*\)/)) {
        target = substr(line, RSTART + 2, RLENGTH - 3)
        file = target
        sub(/#.*/, "", file)
        label = target
        sub(/^[^#]*#/, "", label)
        if (file == "")
            label = prefix label
        else if (file ~ /\.md$/)
            label = page_prefix(file) label
        else
            label = ""
        if (label == "")
            out = out substr(line, 1, RSTART + RLENGTH - 1)
        else
            out = out substr(line, 1, RSTART - 1) "](#" label ")"
        line = substr(line, RSTART + RLENGTH)
    }
    print out line
}
