#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVarLengthArray>

#include <initializer_list>

class QIODevice;

namespace kivo {

/// A pull scanner over the bytes of a dictionary document, for the documents a DOM reading
/// reads plainly: UTF-8 without a document type declaration, ASCII names, the predefined
/// entities and character references to characters from the blank up, attribute values without
/// tabs or line ends, CR only in CR LF, processing instructions only as the XML declaration. It
/// reports Declined at the first byte outside that set and at every well-formedness error, and
/// reads no further; the caller then reads the document with the DOM, which gives its own
/// message.
///
/// It reads either a whole document in memory, which must outlive the scanner, or a device
/// through a window that it reuses: a token that reaches the window's end is scanned again once
/// the window holds more, so that names, attributes and texts are spans valid until the next
/// call of next(), and a large file never sits in memory whole.
class DPDictScanner
{
public:
    enum Token { StartElement, EndElement, Text, CData, Comment, EndDocument, Declined };

    explicit DPDictScanner(const QByteArray& content);
    /// Reads device from its position on, windowSize bytes at a time (more for a longer token).
    DPDictScanner(QIODevice* device, int windowSize);

    Token next();

    /// The element just started or ended, as a span of the document.
    const char* name() const { return m_name; }
    int nameSize() const { return m_nameSize; }
    /// The value of the started element's attribute name (Latin-1) as QDomElement::attribute
    /// gives it: null when missing, otherwise never null.
    QString attribute(const QString& name) const;
    int attributeCount() const;
    /// Whether the started element has no attribute but those named in known (Latin-1).
    bool hasOnlyAttributes(std::initializer_list<const QString*> known) const;
    /// The name of the started element's attribute at index, in document order.
    QString attributeName(int index) const;
    /// The place just after the token just read, counted in bytes from the document's start.
    qint64 offset() const { return m_baseOffset + (m_pos - m_base); }
    /// The line of a place (1 for the first); 0 for a place the scanner no longer holds (before
    /// the place kept with keepFrom and before the token just read, when reading a device).
    int lineAt(qint64 offset) const;
    /// Keeps the bytes from offset on (none for -1) while the window moves on.
    void keepFrom(qint64 offset);
    /// Whether the text just read is white space only, which a DOM reading drops.
    bool isBlank() const;
    /// Appends the text, CDATA or comment just read, references replaced, as UTF-8.
    void appendText(QByteArray* out) const;

private:
    struct Span
    {
        const char* begin;
        int size;
    };
    struct Attribute
    {
        Span name;
        Span value;
        bool hasReference;
    };

    Q_ALWAYS_INLINE Token scan();
    bool startDocument();
    bool refill(const char* keep);
    Token scanMarkup();
    Token scanStartTag();
    Token scanEndTag();
    bool scanDeclaration();
    bool skipComment();
    bool checkCharacters(const char* limit);
    bool scanText(const char* end);
    bool scanName(Span* span);
    bool scanValue(Span* value);
    void skipSpace();
    /// Whether p is at the end of the bytes at hand; then the token may be cut short.
    bool ended(const char* p);
    /// Whether the bytes from p on begin text, of size bytes, and end before it does.
    bool isCut(const char* p, const char* text, int size) const;

    QIODevice* const m_device = nullptr;
    const char* m_base = nullptr; // the window's start, or the document's
    qint64 m_baseOffset = 0; // of m_base in the document
    const char* m_keep = nullptr;
    int m_checkedLines = 0; // the line feeds before m_checked
    mutable const char* m_cursor = nullptr; // a place lineAt counted to, and its line feeds
    mutable int m_cursorLines = 0;
    QByteArray m_window; // what the device gave and the scanner has not passed, from the
                         // start of the current token
    int m_windowSize = 0;
    bool m_atEnd = true; // nothing more to read beyond m_end
    bool m_started = false; // the byte-order mark and the XML declaration are passed
    const char* m_pos = nullptr;
    const char* m_end = nullptr;
    const char* m_checked = nullptr; // the characters before are checked
    bool m_valid = true;
    bool m_rootClosed = false;
    bool m_pendingEnd = false; // an empty-element tag reports its end next
    bool m_short = false; // the token just declined ran into the end of the bytes at hand
    const char* m_name = nullptr;
    int m_nameSize = 0;
    const char* m_text = nullptr;
    int m_textSize = 0;
    bool m_textHasReference = false;
    QVarLengthArray<Span, 64> m_open; // the names of the open elements
    QList<QByteArray> m_savedNames; // of open elements, the names the window no longer holds
    QVarLengthArray<Attribute, 8> m_attributes;
};

} // namespace kivo
