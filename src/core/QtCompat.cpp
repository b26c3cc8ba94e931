#include "core/QtCompat_p.h"

#include <QBuffer>
#include <QDomDocument>
#include <QPair>
#include <QVector>

#include <limits>

#include <QXmlSimpleReader>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QXmlDefaultHandler>
#include <QXmlInputSource>
#endif

namespace kivo {

namespace QtCompat {

namespace {

// Two ints, the values points hold most, compare without QVariant's general comparison.
bool bothInts(const QVariant& left, const QVariant& right)
{
    return left.userType() == QMetaType::Int && right.userType() == QMetaType::Int;
}

int intOf(const QVariant& value)
{
    return *static_cast<const int*>(value.constData());
}

bool isFloatingPoint(const QVariant& value)
{
    return value.userType() == QMetaType::Double || value.userType() == QMetaType::Float;
}

// Qt 5's qRound64: halves go up. Values outside the range of qint64 give its minimum, as the
// processor's conversion does.
qint64 qt5Round64(double d)
{
    if (!(d > -9.2e18 && d < 9.2e18)) {
        return std::numeric_limits<qint64>::min();
    }
    return d >= 0.0 ? qint64(d + 0.5) : qint64(d - double(qint64(d - 1)) + 0.5) + qint64(d - 1);
}

} // namespace

qlonglong toLongLong(const QVariant& value, bool* ok)
{
    if (!isFloatingPoint(value)) {
        return value.toLongLong(ok);
    }
    if (ok) {
        *ok = true;
    }
    return qt5Round64(value.toDouble());
}

int toInt(const QVariant& value, bool* ok)
{
    if (!isFloatingPoint(value)) {
        return value.toInt(ok);
    }
    return int(quint32(quint64(toLongLong(value, ok))));
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

namespace {

bool isNumeric(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// Builds the nodes Qt 5's QDomDocument builds from the events of Qt 5's parser (without
// namespace processing): elements with their attributes, text and CDATA sections, processing
// instructions, comments, and references to entities the parser skips.
class DomBuilder : public QXmlDefaultHandler
{
public:
    explicit DomBuilder(QDomDocument& document)
        : m_document(document)
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

    QString m_message;
    int m_line = 0;

private:
    QDomDocument& m_document;
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

} // namespace

bool variantsEqual(const QVariant& left, const QVariant& right)
{
    if (bothInts(left, right)) {
        return intOf(left) == intOf(right);
    }
    if (left.metaType() == right.metaType() || (isNumeric(left) && isNumeric(right))) {
        return left == right;
    }
    if (right.canConvert(left.metaType())) {
        QVariant converted = right;
        return converted.convert(left.metaType()) && left == converted;
    }
    QVariant converted = left;
    return converted.convert(right.metaType()) && converted == right;
}

bool convert(QVariant& value, int typeId)
{
    return value.convert(QMetaType(typeId));
}

bool setDomContent(QDomDocument* document, const QByteArray& content, QString* message, int* line)
{
    QDomDocument qt5Document;
    {
        QBuffer buffer;
        buffer.setData(content);
        buffer.open(QIODevice::ReadOnly);
        QXmlInputSource source(&buffer);
        QXmlSimpleReader reader;
        setDomReaderFeatures(&reader);
        DomBuilder builder(qt5Document);
        reader.setContentHandler(&builder);
        reader.setErrorHandler(&builder);
        reader.setLexicalHandler(&builder);
        if (!reader.parse(&source, false)) {
            *document = QDomDocument();
            *message = builder.m_message;
            *line = builder.m_line;
            return false;
        }
    }
    // Qt 6's reading of the same bytes gives the elements their line numbers; its texts and
    // attribute values are replaced by Qt 5's.
    QDomDocument qt6Document;
    if (qt6Document.setContent(content, false) && adoptContent(qt6Document, qt5Document)) {
        *document = qt6Document;
    } else {
        *document = qt5Document;
    }
    return true;
}

#else

bool variantsEqual(const QVariant& left, const QVariant& right)
{
    if (bothInts(left, right)) {
        return intOf(left) == intOf(right);
    }
    return left == right;
}

bool convert(QVariant& value, int typeId)
{
    return value.convert(typeId);
}

bool setDomContent(QDomDocument* document, const QByteArray& content, QString* message, int* line)
{
    return document->setContent(content, false, message, line);
}

#endif

// Qt 5 marks its own parser deprecated; it is still the one its QDomDocument uses.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
void setDomReaderFeatures(QXmlSimpleReader* reader)
{
    reader->setFeature(QStringLiteral("http://xml.org/sax/features/namespaces"), false);
    reader->setFeature(QStringLiteral("http://xml.org/sax/features/namespace-prefixes"), true);
    reader->setFeature(
        QStringLiteral("http://trolltech.com/xml/features/report-whitespace-only-CharData"), false);
}
QT_WARNING_POP

} // namespace QtCompat

} // namespace kivo
