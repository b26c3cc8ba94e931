#include "loader/DPDictStreamReader_p.h"

#include "core/NestingGuard_p.h"

#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>

#include <QBuffer>
#include <QVarLengthArray>
#include <QXmlStreamReader>

#include <cstring>

namespace kivo {

namespace {

// What an element name can stand for; the position of the element decides which applies.
struct NameRole
{
    enum Kind : qint8 {
        Other,
        VariableDef,
        EnumDef,
        Enum,
        DataItem,
        Worksheet,
        DisplayHint,
        Access,
        AssociatedVariable
    };

    QString name;
    Kind kind = Other;
    qint8 childText = -1; // the DPDictEntry::Text of such a child of a VariableDef
    qint8 itemText = -1; // ... of a DataItem
    qint8 worksheetText = -1; // ... of a Worksheet
};

// The element names the reader looks for, grouped by length.
class NameTable
{
public:
    NameTable()
    {
        using L = DPDictLoader;
        for (qint8 text = 0; text < DPDictEntry::TextCount; ++text) {
            NameRole& r = role(DPDictEntry::elementName(text));
            (text < DPDictEntry::WorksheetName       ? r.childText
                    : text < DPDictEntry::RawDefault ? r.worksheetText
                                                     : r.itemText)
                = text;
        }
        role(L::variableDefNode).kind = NameRole::VariableDef;
        role(L::enumDefNode).kind = NameRole::EnumDef;
        role(QStringLiteral("Enum")).kind = NameRole::Enum;
        role(L::dataItemNode).kind = NameRole::DataItem;
        role(L::worksheetNode).kind = NameRole::Worksheet;
        role(L::displayHintNode).kind = NameRole::DisplayHint;
        role(L::accessNode).kind = NameRole::Access;
        role(L::associatedVariableNode).kind = NameRole::AssociatedVariable;
    }

    const NameRole* find(QStringView name) const
    {
        const int length = int(name.size());
        if (length >= m_byLength.size()) {
            return nullptr;
        }
        for (const NameRole& candidate : m_byLength.at(length)) {
            if (std::memcmp(candidate.name.constData(), name.data(), size_t(length) * sizeof(QChar))
                == 0) {
                return &candidate;
            }
        }
        return nullptr;
    }

private:
    NameRole& role(const QString& name)
    {
        if (name.size() >= m_byLength.size()) {
            m_byLength.resize(name.size() + 1);
        }
        QVector<NameRole>& sameLength = m_byLength[name.size()];
        for (NameRole& existing : sameLength) {
            if (existing.name == name) {
                return existing;
            }
        }
        sameLength.append(NameRole());
        sameLength.last().name = name;
        return sameLength.last();
    }

    QVector<QVector<NameRole>> m_byLength;
};

// What an open element is to the reader.
struct Frame
{
    enum Kind : qint8 { Plain, Text, DataItem, Worksheet, Access, Associated, EnumItem };

    Kind kind = Plain;
    int index = -1; // the DPDictEntry::Text of a Text frame, the entry's record of an Associated
    int textStart = -1; // where the element's text starts in the text buffer; -1: not read
};

// The value of an attribute as QDomElement::attribute gives it: null when missing, otherwise
// never null.
QString attributeText(const QXmlStreamAttributes& attributes, const QString& name)
{
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (attribute.qualifiedName() == name) {
            const QStringView value = attribute.value();
            return value.isEmpty() ? QString(QLatin1String("")) : value.toString();
        }
    }
    return QString();
}

// The stream reader replaces tabs and line ends in attribute values by blanks, which the DOM
// parser keeps; where an attribute is read exactly, a blank may stand for either.
bool mayDiffer(const QString& exactAttribute)
{
    return exactAttribute.contains(QLatin1Char(' '));
}

// Whether the DOM parser drops text as white space: it drops text between two pieces of markup
// when every character of it is white space by QChar::isSpace (not only XML's four).
bool isBlank(const QXmlStreamReader& xml)
{
    if (xml.isWhitespace()) {
        return true;
    }
    const QStringView text = xml.text();
    for (const QChar c : text) {
        if (!c.isSpace()) {
            return false;
        }
    }
    return true;
}

// Whether name is made of ASCII letters, digits, '_', ':', '.' and '-', not starting with a digit,
// '.' or '-': a name both parsers take.
bool isPlainName(QStringView name)
{
    for (int i = 0; i < name.size(); ++i) {
        const ushort c = name.at(i).unicode();
        const bool letter
            = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '.' || c == '-'))) {
            return false;
        }
    }
    return !name.isEmpty();
}

class StreamReader
{
public:
    StreamReader(QIODevice* device, DPDictBuilder& builder, bool crlf)
        : m_xml(device)
        , m_builder(builder)
        , m_crlf(crlf)
    {
        m_xml.setNamespaceProcessing(false);
    }

    bool read();

private:
    bool startElement();
    void endElement();
    bool claim(uint bit);
    void startText(Frame& frame);
    QString takeText(int start);

    static const NameTable& names()
    {
        static const NameTable table;
        return table;
    }

    QXmlStreamReader m_xml;
    DPDictBuilder& m_builder;
    const bool m_crlf; // every line of the document ends in CR LF
    QVarLengthArray<Frame, 64> m_frames;
    // The texts of the open elements that are read, in document order, each element's text
    // from its textStart to the end.
    QString m_text;
    int m_openTexts = 0;

    int m_entryDepth = 0; // of the open VariableDef, 0 when none is open
    DPDictEntry m_entry;
    uint m_claimed = 0; // the children of the open VariableDef found so far
    int m_enumDefDepth = 0;
    DPDictEnumDef m_enumDef;
    int m_enumValue = 0;
};

constexpr uint dataItemBit = 1u << DPDictEntry::TextCount;
constexpr uint worksheetBit = dataItemBit << 1;

bool StreamReader::read()
{
    while (!m_xml.atEnd()) {
        switch (m_xml.readNext()) {
        case QXmlStreamReader::StartDocument: {
            const QStringView encoding = m_xml.documentEncoding();
            if (!encoding.isEmpty()
                && encoding.compare(QStringView(u"UTF-8"), Qt::CaseInsensitive) != 0) {
                return false;
            }
            break;
        }
        case QXmlStreamReader::StartElement:
            if (!startElement()) {
                return false;
            }
            break;
        case QXmlStreamReader::EndElement:
            endElement();
            break;
        case QXmlStreamReader::Characters:
            if (m_openTexts > 0 && (m_xml.isCDATA() || !isBlank(m_xml))) {
                m_text.append(m_xml.text());
            }
            break;
        case QXmlStreamReader::ProcessingInstruction:
            // The DOM's look-up by name also finds a processing instruction.
            if (m_entryDepth > 0) {
                return false;
            }
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::EndDocument:
            break;
        default: // a document type declaration, an entity reference, an error
            return false;
        }
    }
    return !m_xml.hasError();
}

bool StreamReader::claim(uint bit)
{
    if (m_claimed & bit) {
        return false;
    }
    m_claimed |= bit;
    return true;
}

void StreamReader::startText(Frame& frame)
{
    frame.textStart = m_text.size();
    ++m_openTexts;
}

QString StreamReader::takeText(int start)
{
    // Never null, as QDomElement::text of an element is not.
    QString text = start < m_text.size()
        ? QString(m_text.constData() + start, m_text.size() - start)
        : QString(QLatin1String(""));
    if (--m_openTexts == 0) {
        m_text.resize(0);
    }
    if (m_crlf) {
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    }
    return text;
}

bool StreamReader::startElement()
{
    using L = DPDictLoader;
    const int depth = m_frames.size() + 1;
    if (depth > maxNestingDepth) {
        return false;
    }
    // The stream reader does not check attribute names, and takes some names outside ASCII
    // that the DOM parser refuses.
    const QStringView name = m_xml.qualifiedName();
    for (const QChar c : name) {
        if (c.unicode() >= 0x80) {
            return false;
        }
    }
    const QXmlStreamAttributes attributes = m_xml.attributes();
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (!isPlainName(attribute.qualifiedName())) {
            return false;
        }
    }
    Frame frame;
    const NameRole* role = depth > 1 ? names().find(name) : nullptr;
    if (!role) {
        m_frames.append(frame);
        return true;
    }

    const int level = m_entryDepth > 0 ? depth - m_entryDepth : 0;
    switch (role->kind) {
    case NameRole::VariableDef:
        if (m_entryDepth > 0) {
            return false;
        }
        m_entryDepth = depth;
        m_entry = DPDictEntry();
        m_entry.variableName = attributeText(attributes, L::variableNameAttr);
        m_claimed = 0;
        break;
    case NameRole::EnumDef:
        if (m_enumDefDepth > 0) {
            return false;
        }
        m_enumDefDepth = depth;
        m_enumDef.id = attributeText(attributes, QStringLiteral("id"));
        m_enumDef.items.clear();
        if (mayDiffer(m_enumDef.id)) {
            return false;
        }
        break;
    case NameRole::Enum:
        if (m_enumDefDepth > 0 && depth == m_enumDefDepth + 1) {
            frame.kind = Frame::EnumItem;
            m_enumValue = attributeText(attributes, QStringLiteral("value")).toInt(nullptr, 10);
            startText(frame);
        }
        break;
    case NameRole::DataItem:
        if (level == 1 && claim(dataItemBit)) {
            frame.kind = Frame::DataItem;
            m_entry.type = attributeText(attributes, L::typeAttr);
        }
        break;
    case NameRole::Worksheet:
        if (level == 1 && claim(worksheetBit)) {
            frame.kind = Frame::Worksheet;
        }
        break;
    case NameRole::DisplayHint:
        if (level > 0) {
            m_entry.hints.append({ attributeText(attributes, L::groupIdAttr),
                attributeText(attributes, L::rowIdAttr) });
            if (mayDiffer(m_entry.hints.last().group) || mayDiffer(m_entry.hints.last().row)) {
                return false;
            }
        }
        break;
    case NameRole::Access:
        if (level > 0) {
            frame.kind = Frame::Access;
            startText(frame);
        }
        break;
    case NameRole::AssociatedVariable:
        if (level > 0) {
            m_entry.associated.append({ attributeText(attributes, L::typeAttr), QString(),
                attributeText(attributes, L::changeableAttr) });
            if (mayDiffer(m_entry.associated.last().type)) {
                return false;
            }
            frame.kind = Frame::Associated;
            frame.index = m_entry.associated.size() - 1;
            startText(frame);
        }
        break;
    case NameRole::Other: {
        int text = -1;
        if (level == 1) {
            text = role->childText;
        } else if (level == 2 && m_frames.last().kind == Frame::DataItem) {
            text = role->itemText;
        } else if (level == 2 && m_frames.last().kind == Frame::Worksheet) {
            text = role->worksheetText;
        }
        if (text >= 0 && claim(1u << text)) {
            frame.kind = Frame::Text;
            frame.index = text;
            startText(frame);
            if (text == DPDictEntry::EventType) {
                m_entry.eventChangeable = attributeText(attributes, L::changeableAttr);
            }
        }
        break;
    }
    }
    m_frames.append(frame);
    return true;
}

void StreamReader::endElement()
{
    const Frame frame = m_frames.last();
    m_frames.removeLast();
    const int depth = m_frames.size() + 1;
    if (frame.textStart >= 0) {
        const QString text = takeText(frame.textStart);
        switch (frame.kind) {
        case Frame::Text:
            m_entry.texts[frame.index] = text;
            break;
        case Frame::Access:
            m_entry.readable = m_entry.readable || DPDictFormat::grantsRead(text);
            m_entry.writable = m_entry.writable || DPDictFormat::grantsWrite(text);
            break;
        case Frame::Associated:
            m_entry.associated[frame.index].names = text;
            break;
        case Frame::EnumItem:
            m_enumDef.items.append({ m_enumValue, text });
            break;
        default:
            break;
        }
    }
    if (depth == m_entryDepth) {
        m_builder.addEntry(m_entry);
        m_entryDepth = 0;
    }
    if (depth == m_enumDefDepth) {
        m_builder.addEnumDef(m_enumDef);
        m_enumDefDepth = 0;
    }
}

// How many times c occurs in data; -1 when it occurs once not preceded by before (when given).
qint64 countBytes(const QByteArray& data, char c, char before)
{
    qint64 count = 0;
    const char* end = data.constData() + data.size();
    for (const char* p = data.constData();
         (p = static_cast<const char*>(std::memchr(p, c, size_t(end - p)))); ++p, ++count) {
        if (before && (p == data.constData() || p[-1] != before)) {
            return -1;
        }
    }
    return count;
}

} // namespace

bool readStream(const QByteArray& content, DPDictBuilder& builder)
{
    // UTF-16 and UTF-32 (a byte-order mark or a zero byte among the first two) are left to the
    // DOM. So are CR characters, which the stream reader turns into LF and the DOM parser keeps,
    // unless every line ends in CR LF and no character reference may make a CR or LF.
    if (content.size() < 2 || uchar(content[0]) >= 0xFE || content[0] == 0 || content[1] == 0) {
        return false;
    }
    const qint64 crs = countBytes(content, '\r', 0);
    const bool crlf = crs > 0;
    if (crlf && (countBytes(content, '\n', '\r') != crs || content.contains("&#"))) {
        return false;
    }
    QBuffer device;
    device.setData(content);
    device.open(QIODevice::ReadOnly);
    return StreamReader(&device, builder, crlf).read();
}

} // namespace kivo
