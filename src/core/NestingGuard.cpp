#include "core/NestingGuard_p.h"

#include <QBuffer>
#include <QDomDocument>
#include <QPair>
#include <QVector>
#include <QXmlDefaultHandler>
#include <QXmlInputSource>
#include <QXmlSimpleReader>

#include <cstring>
#include <limits>

namespace kivo {

namespace {

// Qt 5 marks its own parser deprecated; it is still the one its QDomDocument uses, and on Qt 6
// the one this file builds Qt 5's DOM with.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

// The features Qt 5's QDomDocument gives its parser (no namespace processing, prefixed names
// kept, blank text dropped), so that a reader sees a document as the DOM does.
void setDomReaderFeatures(QXmlSimpleReader* reader)
{
    reader->setFeature(QStringLiteral("http://xml.org/sax/features/namespaces"), false);
    reader->setFeature(QStringLiteral("http://xml.org/sax/features/namespace-prefixes"), true);
    reader->setFeature(
        QStringLiteral("http://trolltech.com/xml/features/report-whitespace-only-CharData"), false);
}

QString tooDeepMessage()
{
    return QStringLiteral("document nested deeper than %1 levels").arg(maxNestingDepth);
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

// Builds the nodes Qt 5's QDomDocument builds from the events of Qt 5's parser (without
// namespace processing): elements with their attributes, text and CDATA sections, processing
// instructions, comments, and references to entities the parser skips.
class DomBuilder : public QXmlDefaultHandler
{
public:
    DomBuilder(QDomDocument& document, int maxDepth)
        : m_document(document)
        , m_maxDepth(maxDepth)
    {
        m_document = QDomDocument(QDomDocumentType());
        m_node = m_document;
    }

    bool startDTD(const QString& name, const QString& publicId, const QString& systemId) override
    {
        // The document type is given when the document is made: the nodes before it (the XML
        // declaration, comments) move into a new document.
        const QDomDocument before = m_document;
        m_document
            = QDomDocument(QDomImplementation().createDocumentType(name, publicId, systemId));
        for (QDomNode node = before.firstChild(); !node.isNull(); node = node.nextSibling()) {
            if (!node.isDocumentType()) {
                m_document.appendChild(m_document.importNode(node, true));
            }
        }
        m_node = m_document;
        return true;
    }

    bool startElement(const QString&, const QString&, const QString& qName,
        const QXmlAttributes& attributes) override
    {
        if (++m_depth > m_maxDepth) {
            m_tooDeepLine = m_locator ? m_locator->lineNumber() : 1;
            return false;
        }
        QDomElement element = m_document.createElement(qName);
        for (int i = 0; i < attributes.length(); ++i) {
            element.setAttribute(attributes.qName(i), attributes.value(i));
        }
        m_node = m_node.appendChild(element);
        return true;
    }
    bool endElement(const QString&, const QString&, const QString&) override
    {
        if (m_node.isNull() || m_node.isDocument()) {
            return false;
        }
        --m_depth;
        m_node = m_node.parentNode();
        return true;
    }
    bool characters(const QString& text) override
    {
        if (m_node.isDocument()) {
            return false;
        }
        if (m_cdata) {
            m_node.appendChild(m_document.createCDATASection(text));
        } else {
            m_node.appendChild(m_document.createTextNode(text));
        }
        return true;
    }
    bool processingInstruction(const QString& target, const QString& data) override
    {
        m_node.appendChild(m_document.createProcessingInstruction(target, data));
        return true;
    }
    bool skippedEntity(const QString& name) override
    {
        m_node.appendChild(m_document.createEntityReference(name));
        return true;
    }
    bool comment(const QString& text) override
    {
        m_node.appendChild(m_document.createComment(text));
        return true;
    }
    bool startCDATA() override
    {
        m_cdata = true;
        return true;
    }
    bool endCDATA() override
    {
        m_cdata = false;
        return true;
    }
    bool fatalError(const QXmlParseException& exception) override
    {
        m_message = exception.message();
        m_line = exception.lineNumber();
        return false;
    }

    void setDocumentLocator(QXmlLocator* locator) override { m_locator = locator; }

    QString m_message;
    int m_line = 0;
    int m_tooDeepLine = 0;

private:
    QDomDocument& m_document;
    const int m_maxDepth;
    int m_depth = 0;
    QXmlLocator* m_locator = nullptr;
    QDomNode m_node;
    bool m_cdata = false;
};

void adoptAttributes(QDomElement element, const QDomNode& model)
{
    const QDomNamedNodeMap old = element.attributes();
    QStringList names;
    for (int i = 0; i < old.count(); ++i) {
        names.append(old.item(i).nodeName());
    }
    for (const QString& name : names) {
        element.removeAttribute(name);
    }
    const QDomNamedNodeMap wanted = model.attributes();
    for (int i = 0; i < wanted.count(); ++i) {
        const QDomNode attribute = wanted.item(i);
        element.setAttribute(attribute.nodeName(), attribute.nodeValue());
    }
}

// Gives the elements of document, which Qt 6 built from the same bytes, the attributes and the
// other child nodes that model (Qt 5's reading) has. False, with document partly changed, when
// the two disagree on the elements. A loop, not a recursion: the nesting may be as deep as the
// parser allows, on a small thread stack.
bool adoptContent(QDomDocument& document, const QDomDocument& model)
{
    QVector<QPair<QDomNode, QDomNode>> pending { { document, model } };
    while (!pending.isEmpty()) {
        const QPair<QDomNode, QDomNode> pair = pending.takeLast();
        QDomNode target = pair.first;
        if (target.isElement()) {
            adoptAttributes(target.toElement(), pair.second);
        }
        for (QDomNode child = target.firstChild(); !child.isNull();) {
            const QDomNode next = child.nextSibling();
            if (!child.isElement() && !child.isDocumentType()) {
                target.removeChild(child);
            }
            child = next;
        }
        QDomElement cursor = target.firstChildElement();
        for (QDomNode child = pair.second.firstChild(); !child.isNull();
             child = child.nextSibling()) {
            if (!child.isElement()) {
                const QDomNode copy = document.importNode(child, true);
                if (cursor.isNull()) {
                    target.appendChild(copy);
                } else {
                    target.insertBefore(copy, cursor);
                }
                continue;
            }
            if (cursor.isNull() || cursor.nodeName() != child.nodeName()) {
                return false;
            }
            pending.append({ cursor, child });
            cursor = cursor.nextSiblingElement();
        }
        if (!cursor.isNull()) {
            return false;
        }
    }
    return true;
}

// content with every character reference beyond U+FFFF written as one to its low 16 bits, which
// is how Qt 5's parser reads it (&#x1F600; gives U+F600); the Qt 5 parser of Qt 6 gives the whole
// character. Markup where "&#" is no reference (comments, CDATA sections, processing
// instructions) is left alone, and so are documents in UTF-16 or UTF-32, whose bytes this does
// not read.
QByteArray withQt5CharacterReferences(const QByteArray& content)
{
    if (!content.contains("&#") || content.left(4).contains('\0')) {
        return content;
    }
    QByteArray result;
    result.reserve(content.size());
    const char* p = content.constData();
    const char* const end = p + content.size();
    const auto startsWith = [&end](const char* at, const char* text) {
        const auto size = qsizetype(std::strlen(text));
        return end - at >= size && std::memcmp(at, text, size_t(size)) == 0;
    };
    // The markup that ends at closer, from p on, copied as it is.
    const auto copyThrough = [&](const char* closer) {
        const auto close = content.indexOf(closer, p - content.constData());
        const char* stop
            = close < 0 ? end : content.constData() + close + qsizetype(std::strlen(closer));
        result.append(p, int(stop - p));
        p = stop;
    };
    while (p < end) {
        if (*p == '<' && startsWith(p, "<!--")) {
            copyThrough("-->");
        } else if (*p == '<' && startsWith(p, "<![CDATA[")) {
            copyThrough("]]>");
        } else if (*p == '<' && startsWith(p, "<?")) {
            copyThrough("?>");
        } else if (*p == '&' && startsWith(p, "&#")) {
            const bool hex = end - p > 2 && p[2] == 'x';
            const char* digit = p + (hex ? 3 : 2);
            quint64 code = 0;
            const char* q = digit;
            for (; q < end && q - digit < 20; ++q) {
                const char c = *q;
                int value = c >= '0' && c <= '9' ? c - '0' : -1;
                if (hex && value < 0 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
                    value = (c | 0x20) - 'a' + 10;
                }
                if (value < 0) {
                    break;
                }
                code = code * (hex ? 16 : 10) + quint64(value);
            }
            if (q < end && *q == ';' && q > digit && q - digit < 20 && code > 0xFFFF
                && code <= 0xFFFFFFFFu) {
                result += "&#x" + QByteArray::number(uint(code & 0xFFFF), 16) + ';';
                p = q + 1;
            } else {
                result += *p++;
            }
        } else {
            result += *p++;
        }
    }
    return result;
}

// Qt 5's parse on Qt 6: Qt 5's parser builds the nodes (refusing elements deeper than
// maxDepth), and Qt 6's reading of the same bytes gives the elements their line numbers; its
// texts and attribute values are replaced by Qt 5's. The bytes are parsed twice.
bool parse(
    const QByteArray& content, int maxDepth, QDomDocument* document, QString* message, int* line)
{
    QDomDocument qt5Document;
    {
        QBuffer buffer;
        buffer.setData(withQt5CharacterReferences(content));
        buffer.open(QIODevice::ReadOnly);
        QXmlInputSource source(&buffer);
        QXmlSimpleReader reader;
        setDomReaderFeatures(&reader);
        DomBuilder builder(qt5Document, maxDepth);
        reader.setContentHandler(&builder);
        reader.setErrorHandler(&builder);
        reader.setLexicalHandler(&builder);
        if (!reader.parse(&source, false)) {
            *document = QDomDocument();
            *message = builder.m_tooDeepLine ? tooDeepMessage() : builder.m_message;
            *line = builder.m_tooDeepLine ? builder.m_tooDeepLine : builder.m_line;
            return false;
        }
    }
    QDomDocument qt6Document;
    if (qt6Document.setContent(content, false) && adoptContent(qt6Document, qt5Document)) {
        *document = qt6Document;
    } else {
        *document = qt5Document;
    }
    return true;
}

#else

// The DOM is built by QXmlSimpleReader, which recurses once per element level; the same reader,
// with the features QDomDocument sets, sees exactly the nesting the DOM would build.
class DepthCounter : public QXmlDefaultHandler
{
public:
    bool startElement(
        const QString&, const QString&, const QString&, const QXmlAttributes&) override
    {
        if (++m_depth <= maxNestingDepth) {
            return true;
        }
        m_tooDeepLine = m_locator ? m_locator->lineNumber() : 1;
        return false;
    }
    bool endElement(const QString&, const QString&, const QString&) override
    {
        --m_depth;
        return true;
    }
    void setDocumentLocator(QXmlLocator* locator) override { m_locator = locator; }

    int m_depth = 0;
    int m_tooDeepLine = 0;

private:
    QXmlLocator* m_locator = nullptr;
};

// The line of the first element deeper than maxNestingDepth; 0 when there is none or the parser
// stops at an error first.
int tooDeepLine(const QByteArray& content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    QXmlInputSource source(&buffer);
    QXmlSimpleReader reader;
    setDomReaderFeatures(&reader);
    DepthCounter counter;
    reader.setContentHandler(&counter);
    reader.parse(&source, false);
    return counter.m_tooDeepLine;
}

// Qt 5's own parse, after a first pass of the same parser that builds nothing looks for an
// element deeper than maxDepth (QDomDocument cannot be stopped midway). The bytes are parsed
// twice when there is a limit.
bool parse(
    const QByteArray& content, int maxDepth, QDomDocument* document, QString* message, int* line)
{
    if (maxDepth == maxNestingDepth) {
        if (const int tooDeep = tooDeepLine(content)) {
            *message = tooDeepMessage();
            *line = tooDeep;
            return false;
        }
    }
    return document->setContent(content, false, message, line);
}

#endif

QT_WARNING_POP

} // namespace

bool parseGuarded(const QByteArray& content, QDomDocument* document, QString* message, int* line)
{
    return parse(content, maxNestingDepth, document, message, line);
}

bool setDomContent(QDomDocument* document, const QByteArray& content, QString* message, int* line)
{
    return parse(content, std::numeric_limits<int>::max(), document, message, line);
}

} // namespace kivo
