#include "loader/DPDictStreamReader_p.h"

#include "loader/DPDictScanner_p.h"

#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>

#include <QVarLengthArray>

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

    QByteArray name;
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

    const NameRole* find(const char* name, int length) const
    {
        if (length >= m_byLength.size()) {
            return nullptr;
        }
        for (const NameRole& candidate : m_byLength.at(length)) {
            if (std::memcmp(candidate.name.constData(), name, size_t(length)) == 0) {
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
        const QByteArray latin1 = name.toLatin1();
        for (NameRole& existing : sameLength) {
            if (existing.name == latin1) {
                return existing;
            }
        }
        sameLength.append(NameRole());
        sameLength.last().name = latin1;
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

class StreamReader
{
public:
    StreamReader(const QByteArray& content, DPDictBuilder& builder)
        : m_scanner(content)
        , m_builder(builder)
    { }

    StreamReader(QIODevice* device, int windowSize, DPDictBuilder& builder)
        : m_scanner(device, windowSize)
        , m_builder(builder)
    { }

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

    DPDictScanner m_scanner;
    DPDictBuilder& m_builder;
    QVarLengthArray<Frame, 64> m_frames;
    // The texts (UTF-8) of the open elements that are read, in document order, each element's
    // text from its textStart to the end.
    QByteArray m_text;
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
    while (true) {
        switch (m_scanner.next()) {
        case DPDictScanner::StartElement:
            if (!startElement()) {
                return false;
            }
            break;
        case DPDictScanner::EndElement:
            endElement();
            break;
        case DPDictScanner::Text:
            if (m_openTexts > 0 && !m_scanner.isBlank()) {
                m_scanner.appendText(&m_text);
            }
            break;
        case DPDictScanner::CData:
            if (m_openTexts > 0) {
                m_scanner.appendText(&m_text);
            }
            break;
        case DPDictScanner::EndDocument:
            return true;
        case DPDictScanner::Declined:
            return false;
        }
    }
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
    const QString text = start < m_text.size()
        ? QString::fromUtf8(m_text.constData() + start, m_text.size() - start)
        : QString(QLatin1String(""));
    if (--m_openTexts == 0) {
        m_text.resize(0);
    }
    return text;
}

bool StreamReader::startElement()
{
    using L = DPDictLoader;
    const int depth = m_frames.size() + 1;
    Frame frame;
    const NameRole* role
        = depth > 1 ? names().find(m_scanner.name(), m_scanner.nameSize()) : nullptr;
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
        m_entry.variableName = m_scanner.attribute(L::variableNameAttr);
        m_claimed = 0;
        break;
    case NameRole::EnumDef:
        if (m_enumDefDepth > 0) {
            return false;
        }
        m_enumDefDepth = depth;
        m_enumDef.id = m_scanner.attribute(QStringLiteral("id"));
        m_enumDef.items.clear();
        break;
    case NameRole::Enum:
        if (m_enumDefDepth > 0 && depth == m_enumDefDepth + 1) {
            frame.kind = Frame::EnumItem;
            m_enumValue = m_scanner.attribute(QStringLiteral("value")).toInt(nullptr, 10);
            startText(frame);
        }
        break;
    case NameRole::DataItem:
        if (level == 1 && claim(dataItemBit)) {
            frame.kind = Frame::DataItem;
            m_entry.type = m_scanner.attribute(L::typeAttr);
        }
        break;
    case NameRole::Worksheet:
        if (level == 1 && claim(worksheetBit)) {
            frame.kind = Frame::Worksheet;
        }
        break;
    case NameRole::DisplayHint:
        if (level > 0) {
            m_entry.hints.append(
                { m_scanner.attribute(L::groupIdAttr), m_scanner.attribute(L::rowIdAttr) });
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
            m_entry.associated.append({ m_scanner.attribute(L::typeAttr), QString(),
                m_scanner.attribute(L::changeableAttr) });
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
                m_entry.eventChangeable = m_scanner.attribute(L::changeableAttr);
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

} // namespace

bool readStream(const QByteArray& content, DPDictBuilder& builder)
{
    return StreamReader(content, builder).read();
}

bool readStream(QIODevice* device, DPDictBuilder& builder, int windowSize)
{
    return StreamReader(device, windowSize, builder).read();
}

} // namespace kivo
