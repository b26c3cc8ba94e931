#include "loader/DPDictScanner_p.h"

#include "core/NestingGuard_p.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace kivo {

namespace {

// Checks the characters from p that start before limit: tab, LF, CR before LF, ASCII from the
// blank to '~', and well-formed UTF-8 for U+0080 and above without U+FEFF, U+FFFE and U+FFFF,
// which both readings take alike. Where the check ended; null at any other character.
// Counts the line feeds it passes in lines; sets cut when it stops at a character that end cuts
// short.
const uchar* plainCharacters(
    const uchar* p, const uchar* limit, const uchar* end, int* lines, bool* cut)
{
    constexpr quint64 ones = 0x0101010101010101u;
    constexpr quint64 highs = 0x8080808080808080u;
    while (p < limit) {
        // Eight bytes at a time while they are all from the blank to '~'.
        if (limit - p >= 8) {
            quint64 w;
            std::memcpy(&w, p, sizeof w);
            const quint64 del = w ^ (0x7F * ones);
            if (((w | ((w - 0x20 * ones) & ~w) | ((del - ones) & ~del)) & highs) == 0) {
                p += 8;
                continue;
            }
        }
        const uchar c = *p;
        if (c >= 0x20 && c < 0x7F) {
            ++p;
            continue;
        }
        if (c == '\n' || c == '\t') {
            *lines += c == '\n';
            ++p;
            continue;
        }
        if (c == '\r') {
            if (p + 1 == end || p[1] != '\n') {
                *cut = p + 1 == end;
                return nullptr;
            }
            ++*lines;
            p += 2;
            continue;
        }
        int length;
        uchar low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return nullptr;
        }
        for (int i = 1; i < length; ++i) {
            if (p + i == end) {
                *cut = true;
                return nullptr;
            }
            if (p[i] < (i == 1 ? low : 0x80) || p[i] > (i == 1 ? high : 0xBF)) {
                return nullptr;
            }
        }
        // U+FFFE and U+FFFF are no XML characters; the DOM reading drops U+FEFF.
        if (c == 0xEF && ((p[1] == 0xBF && p[2] >= 0xBE) || (p[1] == 0xBB && p[2] == 0xBF))) {
            return nullptr;
        }
        p += length;
    }
    return p;
}

// The scanner checks characters this far ahead of its position, so that the check reads bytes
// still in the cache when the scanner reads them again.
constexpr int checkAhead = 16 * 1024;

// A window never grows beyond this; a longer token goes to the DOM reading.
constexpr int maxWindowSize = 1 << 30;

// More attributes on one element than the dictionary format ever has go to the DOM reading.
constexpr int maxAttributes = 64;

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// A reference at p: a predefined entity or a character reference to a character from the blank
// up, a code beyond U+FFFF standing for its low 16 bits. Its length, with the UTF-8 of the
// character it stands for in replacement; 0 for anything else.
struct Reference
{
    int size = 0;
    int replacementSize = 0;
    char replacement[4];
};

Reference reference(const char* p, const char* end)
{
    static const struct
    {
        const char* text;
        int size;
        char character;
    } predefined[] = { { "&lt;", 4, '<' }, { "&gt;", 4, '>' }, { "&amp;", 5, '&' },
        { "&quot;", 6, '"' }, { "&apos;", 6, '\'' } };
    Reference r;
    if (end - p > 2 && p[1] == '#') {
        const bool hex = p[2] == 'x';
        const char* digit = p + (hex ? 3 : 2);
        uint code = 0;
        for (const char* q = digit; q < end && q - digit < 8; ++q) {
            const char c = *q;
            int value = c >= '0' && c <= '9' ? c - '0' : -1;
            if (hex && value < 0 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
                value = (c | 0x20) - 'a' + 10;
            }
            if (value < 0) {
                // The DOM reading keeps the low 16 bits of a larger code (U+1F600 gives
                // U+F600); the character it then stands for is checked as any other.
                code &= 0xFFFF;
                if (c != ';' || q == digit || code < 0x20 || (code >= 0xD800 && code < 0xE000)
                    || code == 0xFFFE || code == 0xFFFF) {
                    return r;
                }
                char* out = r.replacement;
                if (code < 0x80) {
                    *out++ = char(code);
                } else if (code < 0x800) {
                    *out++ = char(0xC0 | (code >> 6));
                    *out++ = char(0x80 | (code & 0x3F));
                } else {
                    *out++ = char(0xE0 | (code >> 12));
                    *out++ = char(0x80 | ((code >> 6) & 0x3F));
                    *out++ = char(0x80 | (code & 0x3F));
                }
                r.replacementSize = int(out - r.replacement);
                r.size = int(q - p) + 1;
                return r;
            }
            code = code * (hex ? 16 : 10) + uint(value);
        }
        return r;
    }
    for (const auto& entity : predefined) {
        if (end - p >= entity.size && std::memcmp(p, entity.text, size_t(entity.size)) == 0) {
            r.size = entity.size;
            r.replacementSize = 1;
            r.replacement[0] = entity.character;
            break;
        }
    }
    return r;
}

// Whether every '&' in [p, end) starts a reference the scanner reads.
bool plainReferences(const char* p, const char* end)
{
    while ((p = static_cast<const char*>(std::memchr(p, '&', size_t(end - p))))) {
        const int size = reference(p, end).size;
        if (size == 0) {
            return false;
        }
        p += size;
    }
    return true;
}

// Appends [p, end) to out, references replaced.
void appendResolved(const char* p, const char* end, bool hasReference, QByteArray* out)
{
    if (!hasReference) {
        out->append(p, int(end - p));
        return;
    }
    while (p < end) {
        const char* amp = static_cast<const char*>(std::memchr(p, '&', size_t(end - p)));
        if (!amp) {
            out->append(p, int(end - p));
            return;
        }
        out->append(p, int(amp - p));
        const Reference r = reference(amp, end);
        out->append(r.replacement, r.replacementSize);
        p = amp + r.size;
    }
}

// Whether the bytes from p to end begin text, of size bytes, and end before it does.
bool isCutText(const char* p, const char* end, const char* text, int size)
{
    return end - p < size && std::memcmp(p, text, size_t(end - p)) == 0;
}

bool sameName(const char* p, int size, const QString& name)
{
    if (size != name.size()) {
        return false;
    }
    for (int i = 0; i < size; ++i) {
        if (name.at(i).unicode() != uchar(p[i])) {
            return false;
        }
    }
    return true;
}

// The line feeds in [from, to).
int countLines(const char* from, const char* to)
{
    int lines = 0;
    while (from < to
        && (from = static_cast<const char*>(std::memchr(from, '\n', size_t(to - from))))) {
        ++lines;
        ++from;
    }
    return lines;
}

} // namespace

DPDictScanner::DPDictScanner(const QByteArray& content)
    : m_base(content.constData())
    , m_pos(content.constData())
    , m_end(content.constData() + content.size())
{ }

DPDictScanner::DPDictScanner(QIODevice* device, int windowSize)
    : m_device(device)
    , m_windowSize(qMax(windowSize, 1))
    , m_atEnd(false)
{ }

bool DPDictScanner::ended(const char* p)
{
    if (p < m_end) {
        return false;
    }
    m_short = true;
    return true;
}

bool DPDictScanner::isCut(const char* p, const char* text, int size) const
{
    return isCutText(p, m_end, text, size);
}

DPDictScanner::Token DPDictScanner::next()
{
    while (!m_started && m_valid) {
        const char* const start = m_pos;
        m_short = false;
        if (startDocument()) {
            break;
        }
        if (!m_short || !refill(start)) {
            m_valid = false;
            return Declined;
        }
    }
    while (true) {
        const char* const tokenStart = m_pos;
        m_short = false;
        const Token token = scan();
        // A token the window cut short is scanned again with more bytes; at any other decline
        // the scanner stops where it is.
        if (token != Declined || !m_short || !refill(tokenStart)) {
            return token;
        }
        m_valid = true;
    }
}

// Moves the bytes from keep on (from the first unchecked one, if earlier) to the window's start
// and reads more after them; the window grows when they fill it. False when the device has
// nothing more.
bool DPDictScanner::refill(const char* keep)
{
    if (m_atEnd) {
        return false;
    }
    const char* from = m_checked && m_checked < keep ? m_checked : keep;
    if (m_keep && m_keep < from) {
        from = m_keep;
    }
    const int kept = int(m_end - from);
    if (kept >= m_windowSize) {
        if (kept >= maxWindowSize) {
            return false; // the DOM reading reports what it makes of such a token
        }
        m_windowSize = qMin(kept * 2, maxWindowSize);
    }
    // The names of open elements that the window drops, or that were kept aside before, are
    // kept aside; the others move with the window.
    QList<QByteArray> savedNames;
    for (Span& open : m_open) {
        if (open.begin < from || open.begin >= m_end) {
            savedNames.append(QByteArray(open.begin, open.size));
            open.begin = savedNames.last().constData();
        }
    }
    m_savedNames.swap(savedNames);
    if (from != m_window.constData() && kept > 0) {
        std::memmove(m_window.data(), from, size_t(kept));
    }
    if (m_window.size() < m_windowSize) {
        m_window.resize(m_windowSize);
    }
    char* const data = m_window.data();
    for (Span& open : m_open) {
        if (open.begin >= from && open.begin < m_end) {
            open.begin = data + (open.begin - from);
        }
    }
    m_baseOffset += from - m_base;
    m_base = data;
    if (m_keep) {
        m_keep = data + (m_keep - from);
    }
    m_cursor = m_cursor && m_cursor >= from ? data + (m_cursor - from) : nullptr;
    const qint64 read = m_device->read(data + kept, m_windowSize - kept);
    m_atEnd = read <= 0;
    m_pos = data + (keep - from);
    m_checked = m_checked ? data + (m_checked - from) : data;
    m_end = data + kept + qMax<qint64>(read, 0);
    return true;
}

// A UTF-8 byte-order mark is no character of the document; an XML declaration must be plain.
bool DPDictScanner::startDocument()
{
    if (m_end - m_pos < 8 && !m_atEnd) {
        m_short = true;
        return false;
    }
    if (m_end - m_pos >= 3 && std::memcmp(m_pos, "\xEF\xBB\xBF", 3) == 0) {
        m_pos += 3;
    }
    m_checked = m_pos;
    if (m_end - m_pos >= 5 && std::memcmp(m_pos, "<?xml", 5) == 0 && !scanDeclaration()) {
        return false;
    }
    m_started = true;
    return true;
}

DPDictScanner::Token DPDictScanner::scan()
{
    if (!m_valid || !checkCharacters(m_pos + checkAhead)) {
        m_valid = false;
        return Declined;
    }
    if (m_pendingEnd) {
        m_pendingEnd = false;
        const Span closed = m_open.last();
        m_open.removeLast();
        m_rootClosed = m_open.isEmpty();
        m_name = closed.begin;
        m_nameSize = closed.size;
        return EndElement;
    }
    while (m_pos < m_end) {
        if (*m_pos == '<') {
            if (m_end - m_pos < 4 && isCut(m_pos, "<!--", 4)) {
                m_short = true;
                m_valid = false;
                return Declined;
            }
            if (m_end - m_pos >= 4 && std::memcmp(m_pos, "<!--", 4) == 0) {
                if (skipComment()) {
                    return Comment;
                }
                m_valid = false;
                return Declined;
            }
            const Token token = scanMarkup();
            m_valid = token != Declined;
            return token;
        }
        const char* lt = static_cast<const char*>(std::memchr(m_pos, '<', size_t(m_end - m_pos)));
        // A text ends at the next markup; the window may end before it.
        if (!lt && !m_atEnd) {
            m_short = true;
            m_valid = false;
            return Declined;
        }
        if (!scanText(lt ? lt : m_end)) {
            m_valid = false;
            return Declined;
        }
        if (!m_open.isEmpty()) {
            return Text;
        }
    }
    m_short = !m_atEnd;
    const bool complete = m_atEnd && m_rootClosed && checkCharacters(m_end);
    m_valid = false; // nothing more to read
    return complete ? EndDocument : Declined;
}

// Checks the characters up to at least limit (or the end) that are not checked yet.
bool DPDictScanner::checkCharacters(const char* limit)
{
    if (m_checked - m_pos >= checkAhead / 2 || m_checked == m_end) {
        return true;
    }
    int lines = 0;
    bool cut = false;
    const auto* checked = plainCharacters(reinterpret_cast<const uchar*>(m_checked),
        reinterpret_cast<const uchar*>(qMin(limit, m_end)), reinterpret_cast<const uchar*>(m_end),
        &lines, &cut);
    if (!checked) {
        m_short = cut && !m_atEnd;
        return false;
    }
    m_checked = reinterpret_cast<const char*>(checked);
    m_checkedLines += lines;
    return true;
}

// Text from m_pos to end: inside the document element any, outside it white space only.
bool DPDictScanner::scanText(const char* end)
{
    m_text = m_pos;
    m_textSize = int(end - m_pos);
    m_pos = end;
    if (m_open.isEmpty()) {
        return std::all_of(m_text, end, isSpace);
    }
    m_textHasReference = std::memchr(m_text, '&', size_t(m_textSize)) != nullptr;
    if (m_textHasReference && !plainReferences(m_text, end)) {
        return false;
    }
    // "]]>" may not appear in text.
    for (const char* p = m_text;
         (p = static_cast<const char*>(std::memchr(p, '>', size_t(end - p)))); ++p) {
        if (p - m_text >= 2 && p[-1] == ']' && p[-2] == ']') {
            return false;
        }
    }
    return true;
}

// A comment: "--" may only end it.
bool DPDictScanner::skipComment()
{
    const char* dashes = m_pos + 4;
    while ((dashes = static_cast<const char*>(std::memchr(dashes, '-', size_t(m_end - dashes))))) {
        if (m_end - dashes < 3) {
            m_short = true;
            return false;
        }
        if (dashes[1] == '-') {
            m_text = m_pos + 4;
            m_textSize = int(dashes - m_text);
            m_textHasReference = false;
            m_pos = dashes + 3;
            return dashes[2] == '>';
        }
        ++dashes;
    }
    m_short = true;
    return false;
}

DPDictScanner::Token DPDictScanner::scanMarkup()
{
    const char* const p = m_pos;
    const qptrdiff left = m_end - p;
    if (left < 2 || (left < 9 && isCut(p, "<![CDATA[", 9))) {
        m_short = true;
        return Declined;
    }
    if (p[1] == '/') {
        return scanEndTag();
    }
    if (left >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0 && !m_open.isEmpty()) {
        const char* text = p + 9;
        for (const char* q = text;
             (q = static_cast<const char*>(std::memchr(q, ']', size_t(m_end - q)))); ++q) {
            if (m_end - q >= 3 && q[1] == ']' && q[2] == '>') {
                m_text = text;
                m_textSize = int(q - text);
                m_textHasReference = false;
                m_pos = q + 3;
                return CData;
            }
        }
        m_short = true;
        return Declined;
    }
    if (isNameStart(p[1])) {
        return scanStartTag();
    }
    return Declined; // a document type declaration, a processing instruction, an error
}

bool DPDictScanner::scanName(Span* span)
{
    if (ended(m_pos) || !isNameStart(*m_pos)) {
        return false;
    }
    span->begin = m_pos;
    while (++m_pos < m_end && isNameChar(*m_pos)) { }
    span->size = int(m_pos - span->begin);
    return true;
}

// "=" and a quoted value, blanks around the "=" allowed; value spans the text between the quotes.
bool DPDictScanner::scanValue(Span* value)
{
    skipSpace();
    if (ended(m_pos) || *m_pos != '=') {
        return false;
    }
    ++m_pos;
    skipSpace();
    if (ended(m_pos) || (*m_pos != '"' && *m_pos != '\'')) {
        return false;
    }
    const char quote = *m_pos++;
    const char* close = static_cast<const char*>(std::memchr(m_pos, quote, size_t(m_end - m_pos)));
    if (!close) {
        m_short = true;
        return false;
    }
    *value = { m_pos, int(close - m_pos) };
    m_pos = close + 1;
    return true;
}

void DPDictScanner::skipSpace()
{
    while (m_pos < m_end && isSpace(*m_pos)) {
        ++m_pos;
    }
}

DPDictScanner::Token DPDictScanner::scanStartTag()
{
    if (m_rootClosed || m_open.size() >= maxNestingDepth) {
        return Declined;
    }
    ++m_pos;
    Span element;
    if (!scanName(&element)) {
        return Declined;
    }
    m_attributes.clear();
    while (true) {
        const char* const beforeSpace = m_pos;
        skipSpace();
        if (ended(m_pos)) {
            return Declined;
        }
        if (*m_pos == '>' || *m_pos == '/') {
            if (*m_pos == '/' && (ended(++m_pos) || *m_pos != '>')) {
                return Declined;
            }
            m_pendingEnd = m_pos[-1] == '/';
            ++m_pos;
            break;
        }
        Attribute attribute;
        if (m_pos == beforeSpace || !scanName(&attribute.name)) {
            return Declined;
        }
        if (!scanValue(&attribute.value)) {
            return Declined;
        }
        const char* const close = attribute.value.begin + attribute.value.size;
        attribute.hasReference = false;
        for (const char* q = attribute.value.begin; q < close; ++q) {
            if (*q == '<' || *q == '\t' || *q == '\n' || *q == '\r') {
                return Declined;
            }
            attribute.hasReference = attribute.hasReference || *q == '&';
        }
        if (attribute.hasReference && !plainReferences(attribute.value.begin, close)) {
            return Declined;
        }
        // The duplicate check compares with every earlier attribute: a bound keeps it linear.
        if (m_attributes.size() == maxAttributes) {
            return Declined;
        }
        for (const Attribute& earlier : m_attributes) {
            if (earlier.name.size == attribute.name.size
                && std::memcmp(
                       earlier.name.begin, attribute.name.begin, size_t(attribute.name.size))
                    == 0) {
                return Declined;
            }
        }
        m_attributes.append(attribute);
    }
    m_open.append(element);
    m_name = element.begin;
    m_nameSize = element.size;
    return StartElement;
}

DPDictScanner::Token DPDictScanner::scanEndTag()
{
    m_pos += 2;
    Span element;
    if (m_open.isEmpty() || !scanName(&element) || ended(m_pos)) {
        return Declined;
    }
    const Span open = m_open.last();
    if (element.size != open.size
        || std::memcmp(element.begin, open.begin, size_t(element.size)) != 0) {
        return Declined;
    }
    skipSpace();
    if (ended(m_pos) || *m_pos != '>') {
        return Declined;
    }
    ++m_pos;
    m_open.removeLast();
    m_rootClosed = m_open.isEmpty();
    m_name = element.begin;
    m_nameSize = element.size;
    return EndElement;
}

// The XML declaration: version 1.0, then optionally an encoding, which must be UTF-8, and
// standalone.
bool DPDictScanner::scanDeclaration()
{
    m_pos += 5;
    static const char* const names[] = { "version", "encoding", "standalone" };
    int next = 0;
    while (true) {
        const char* const beforeSpace = m_pos;
        skipSpace();
        if (m_end - m_pos < 2) {
            m_short = true;
            return false;
        }
        if (m_pos[0] == '?' && m_pos[1] == '>') {
            m_pos += 2;
            return next > 0;
        }
        Span name;
        if (m_pos == beforeSpace || !scanName(&name) || ended(m_pos)) {
            return false;
        }
        while (next < 3
            && (int(std::strlen(names[next])) != name.size
                || std::memcmp(names[next], name.begin, size_t(name.size)) != 0)) {
            if (next == 0) {
                return false; // the version comes first
            }
            ++next;
        }
        if (next == 3) {
            return false;
        }
        Span span;
        if (!scanValue(&span)) {
            return false;
        }
        const QByteArray value(span.begin, span.size);
        const bool accepted = next == 0 ? value == "1.0"
            : next == 1                 ? value.compare("UTF-8", Qt::CaseInsensitive) == 0
                                        : value == "yes" || value == "no";
        if (!accepted) {
            return false;
        }
        ++next;
    }
}

QString DPDictScanner::attribute(const QString& name) const
{
    for (const Attribute& attribute : m_attributes) {
        if (sameName(attribute.name.begin, attribute.name.size, name)) {
            if (attribute.value.size == 0) {
                return QString(QLatin1String(""));
            }
            QByteArray value;
            appendResolved(attribute.value.begin, attribute.value.begin + attribute.value.size,
                attribute.hasReference, &value);
            return QString::fromUtf8(value);
        }
    }
    return QString();
}

bool DPDictScanner::isBlank() const
{
    if (m_textHasReference) {
        QByteArray text;
        appendText(&text);
        return QString::fromUtf8(text).trimmed().isEmpty();
    }
    bool ascii = true;
    for (int i = 0; i < m_textSize; ++i) {
        if (!isSpace(m_text[i])) {
            if (uchar(m_text[i]) < 0x80) {
                return false;
            }
            ascii = false;
        }
    }
    if (ascii) {
        return true;
    }
    // White space by QChar::isSpace, as the DOM parser judges it.
    return QString::fromUtf8(m_text, m_textSize).trimmed().isEmpty();
}

bool DPDictScanner::hasOnlyAttributes(std::initializer_list<const QString*> known) const
{
    for (const Attribute& attribute : m_attributes) {
        if (std::none_of(known.begin(), known.end(), [&attribute](const QString* name) {
                return sameName(attribute.name.begin, attribute.name.size, *name);
            })) {
            return false;
        }
    }
    return true;
}

int DPDictScanner::attributeCount() const
{
    return m_attributes.size();
}

QString DPDictScanner::attributeName(int index) const
{
    const Span& name = m_attributes.at(index).name;
    return QString::fromLatin1(name.begin, name.size);
}

int DPDictScanner::lineAt(qint64 offset) const
{
    const char* const p = m_base + (offset - m_baseOffset);
    if (offset < m_baseOffset || p > m_end || !m_checked) {
        return 0;
    }
    // From the nearer of the two places whose line is known.
    const char* from = m_checked;
    int lines = m_checkedLines;
    if (m_cursor && std::abs(m_cursor - p) < std::abs(m_checked - p)) {
        from = m_cursor;
        lines = m_cursorLines;
    }
    lines += p >= from ? countLines(from, p) : -countLines(p, from);
    m_cursor = p;
    m_cursorLines = lines;
    return lines + 1;
}

void DPDictScanner::keepFrom(qint64 offset)
{
    m_keep = offset < 0 ? nullptr : m_base + (offset - m_baseOffset);
}

void DPDictScanner::appendText(QByteArray* out) const
{
    appendResolved(m_text, m_text + m_textSize, m_textHasReference, out);
}

} // namespace kivo
