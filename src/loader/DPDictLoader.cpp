#include <kivo/loader/DPDictLoader.h>

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QFile>
#include <QMap>
#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <cstring>

namespace kivo {

const QString DPDictLoader::enumDefNode = QStringLiteral("EnumDef");
const QString DPDictLoader::variableDefNode = QStringLiteral("VariableDef");
const QString DPDictLoader::variableNameAttr = QStringLiteral("variableName");
const QString DPDictLoader::dataItemNode = QStringLiteral("DataItem");
const QString DPDictLoader::typeAttr = QStringLiteral("type");
const QString DPDictLoader::externalNameNode = QStringLiteral("ExternalName");
const QString DPDictLoader::lineIdNode = QStringLiteral("LineID");
const QString DPDictLoader::pxcIdNode = QStringLiteral("PxcId");
const QString DPDictLoader::worksheetNode = QStringLiteral("Worksheet");
const QString DPDictLoader::nameNode = QStringLiteral("Name");
const QString DPDictLoader::largeDisplayNode = QStringLiteral("LargeDisplay");
const QString DPDictLoader::showVarNode = QStringLiteral("ShowVar");
const QString DPDictLoader::displayHintsNode = QStringLiteral("DisplayHints");
const QString DPDictLoader::displayHintNode = QStringLiteral("DisplayHint");
const QString DPDictLoader::groupIdAttr = QStringLiteral("grpid");
const QString DPDictLoader::rowIdAttr = QStringLiteral("rowid");
const QString DPDictLoader::accessNode = QStringLiteral("Access");

const QString DPDictLoader::rawDefaultValueNode = QStringLiteral("RawValueDflt");
const QString DPDictLoader::minValueNode = QStringLiteral("RawValueMin");
const QString DPDictLoader::maxValueNode = QStringLiteral("RawValueMax");
const QString DPDictLoader::unitsNode = QStringLiteral("UomId");
const QString DPDictLoader::unitsLabelNode = QStringLiteral("UnitsOfMeasure");
const QString DPDictLoader::enumDefIdNode = QStringLiteral("EnumDefId");
const QString DPDictLoader::enumDefIdAttr = QStringLiteral("enumDefId");
const QString DPDictLoader::defaultValueNode = QStringLiteral("Default");
const QString DPDictLoader::charRegexNode = QStringLiteral("CharRegex");
const QString DPDictLoader::formatNode = QStringLiteral("Format");
const QString DPDictLoader::maxLengthNode = QStringLiteral("LengthMax");
const QString DPDictLoader::epochNode = QStringLiteral("Epoch");
const QString DPDictLoader::eventTypeNode = QStringLiteral("EventType");
const QString DPDictLoader::changeableAttr = QStringLiteral("changeable");
const QString DPDictLoader::ackTypeNode = QStringLiteral("AckType");
const QString DPDictLoader::resetTypeNode = QStringLiteral("ResetType");
const QString DPDictLoader::eventIdNode = QStringLiteral("EventId");
const QString DPDictLoader::descriptionNode = QStringLiteral("Description");
const QString DPDictLoader::explanationNode = QStringLiteral("EventExplanation");
const QString DPDictLoader::associatedVariableNode = QStringLiteral("AssociatedVariable");

const QString DPDictLoader::eventItemAttr = QStringLiteral("Event");
const QString DPDictLoader::ipItemAttr = QStringLiteral("IPv4");
const QString DPDictLoader::enumItemAttr = QStringLiteral("Enum");
const QString DPDictLoader::stringItemAttr = QStringLiteral("String");
const QString DPDictLoader::numberIntItemAttr = QStringLiteral("Int");
const QString DPDictLoader::numberRealItemAttr = QStringLiteral("Real");
const QString DPDictLoader::timeItemAttr = QStringLiteral("Time");

const QString DPDictLoader::trueString = QStringLiteral("true");
const QString DPDictLoader::invalidString = QStringLiteral("_invalid_");
const QString DPDictLoader::invalidString2 = QStringLiteral("-32768");
const QString DPDictLoader::alarmString = QStringLiteral("Alarm");
const QString DPDictLoader::warningString = QStringLiteral("Warning");
const QString DPDictLoader::messageString = QStringLiteral("Message");
const QString DPDictLoader::ackManualString = QStringLiteral("MA");
const QString DPDictLoader::ackAutoString = QStringLiteral("AA");
const QString DPDictLoader::ackNoString = QStringLiteral("NA");
const QString DPDictLoader::resetManualString = QStringLiteral("MR");
const QString DPDictLoader::resetAutoString = QStringLiteral("AR");
const QString DPDictLoader::sysUpTimeString = QStringLiteral("SysUpTime");
const QString DPDictLoader::jan_01_LocalTimeString = QStringLiteral("1970-Jan-01 (local time)");
const QString DPDictLoader::january_1_String = QStringLiteral("January_1");
const QString DPDictLoader::firstOfMonthString = QStringLiteral("1st_Of_Month");
const QString DPDictLoader::midnightString = QStringLiteral("Midnight");
const QString DPDictLoader::jan_01_GMT_String = QStringLiteral("1970-Jan-01 (GMT)");

const QString DPDictLoader::componentItemAttr = QStringLiteral("Component");
const QString DPDictLoader::componentRootNode = QStringLiteral("ComponentsModel");
const QString DPDictLoader::componentInventoryIdNode = QStringLiteral("ComponentInventoryId");
const QString DPDictLoader::componentIdNode = QStringLiteral("ComponentId");
const QString DPDictLoader::componentTypeNode = QStringLiteral("ComponentType");
const QString DPDictLoader::componentTypeEnumAttr = QStringLiteral("enumDefId");
const QString DPDictLoader::componentPosXNode = QStringLiteral("ComponentPosX");
const QString DPDictLoader::componentPosYNode = QStringLiteral("ComponentPosY");
const QString DPDictLoader::componentWidthNode = QStringLiteral("ComponentWidth");
const QString DPDictLoader::componentHeightNode = QStringLiteral("ComponentHeight");

namespace {

const char obsoleteRunMessage[] = "DPDictLoader run method is obsolete.";

// The DOM parser recurses per nesting level and overflows the stack near 100,000 levels;
// deeper documents are refused before parsing.
constexpr int maxNestingDepth = 10000;

const QString enumElementName = QStringLiteral("Enum");
const QString idAttrName = QStringLiteral("id");
const QString valueAttrName = QStringLiteral("value");

// Reads the code units of raw XML bytes in the encoding the parser will see: UTF-32 and
// UTF-16 by their byte-order mark or their first character '<', every other encoding as
// ASCII-compatible single bytes.
class XmlUnits
{
public:
    XmlUnits(const uchar* data, qint64 size)
        : m_data(data)
    {
        if (size >= 4 && matches(data, "\xFF\xFE\x00\x00")) {
            setUnits(4, false, size);
        } else if (size >= 4 && matches(data, "\x00\x00\xFE\xFF")) {
            setUnits(4, true, size);
        } else if (size >= 4 && matches(data, "\x3C\x00\x00\x00")) {
            setUnits(4, false, size);
        } else if (size >= 4 && matches(data, "\x00\x00\x00\x3C")) {
            setUnits(4, true, size);
        } else if (size >= 2 && (matches(data, "\xFF\xFE") || matches(data, "\x3C\x00"))) {
            setUnits(2, false, size);
        } else if (size >= 2 && (matches(data, "\xFE\xFF") || matches(data, "\x00\x3C"))) {
            setUnits(2, true, size);
        } else {
            setUnits(1, false, size);
        }
    }

    qint64 count() const { return m_count; }

    uint at(qint64 i) const
    {
        const uchar* p = m_data + i * m_width;
        switch (m_width) {
        case 1:
            return p[0];
        case 2:
            return m_bigEndian ? (uint(p[0]) << 8 | p[1]) : (uint(p[1]) << 8 | p[0]);
        default:
            return m_bigEndian
                ? (uint(p[0]) << 24 | uint(p[1]) << 16 | uint(p[2]) << 8 | p[3])
                : (uint(p[3]) << 24 | uint(p[2]) << 16 | uint(p[1]) << 8 | p[0]);
        }
    }

    // Index of the first unit c at or after from; -1 when there is none.
    qint64 find(uint c, qint64 from) const
    {
        if (from >= m_count) {
            return -1;
        }
        if (m_width == 1) {
            const void* hit = std::memchr(m_data + from, int(c), size_t(m_count - from));
            return hit ? static_cast<const uchar*>(hit) - m_data : -1;
        }
        for (qint64 i = from; i < m_count; ++i) {
            if (at(i) == c) {
                return i;
            }
        }
        return -1;
    }

    // Index just past the first occurrence of the ASCII text at or after from; -1 when none.
    qint64 findEnd(const char* text, qint64 from) const
    {
        const qint64 length = qint64(std::strlen(text));
        for (qint64 i = find(uchar(text[0]), from); i >= 0; i = find(uchar(text[0]), i + 1)) {
            if (startsWith(i, text)) {
                return i + length;
            }
        }
        return -1;
    }

    bool startsWith(qint64 i, const char* text) const
    {
        for (; *text; ++text, ++i) {
            if (i >= m_count || at(i) != uchar(*text)) {
                return false;
            }
        }
        return true;
    }

    // Index just past the next '>' that is not inside a quoted literal; -1 when none.
    qint64 skipMarkup(qint64 i) const
    {
        uint quote = 0;
        for (; i < m_count; ++i) {
            const uint c = at(i);
            if (quote) {
                if (c == quote) {
                    quote = 0;
                }
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i + 1;
            }
        }
        return -1;
    }

    // Index just past a <!DOCTYPE ...> or other <!...> declaration whose name starts at i,
    // including an internal subset with its comments, processing instructions and literals.
    qint64 skipDeclaration(qint64 i) const
    {
        uint quote = 0;
        bool inSubset = false;
        while (i >= 0 && i < m_count) {
            const uint c = at(i);
            if (quote) {
                if (c == quote) {
                    quote = 0;
                }
                ++i;
            } else if (c == '"' || c == '\'') {
                quote = c;
                ++i;
            } else if (inSubset && c == '<') {
                if (startsWith(i, "<!--")) {
                    i = findEnd("-->", i + 4);
                } else if (startsWith(i, "<?")) {
                    i = findEnd("?>", i + 2);
                } else {
                    i = skipMarkup(i + 1);
                }
            } else if (c == '[') {
                inSubset = true;
                ++i;
            } else if (c == ']') {
                inSubset = false;
                ++i;
            } else if (c == '>' && !inSubset) {
                return i + 1;
            } else {
                ++i;
            }
        }
        return -1;
    }

    int lineOf(qint64 index) const
    {
        int line = 1;
        for (qint64 i = find('\n', 0); i >= 0 && i < index; i = find('\n', i + 1)) {
            ++line;
        }
        return line;
    }

private:
    template<int N>
    static bool matches(const uchar* data, const char (&bytes)[N])
    {
        return std::memcmp(data, bytes, N - 1) == 0;
    }

    void setUnits(int width, bool bigEndian, qint64 size)
    {
        m_width = width;
        m_bigEndian = bigEndian;
        m_count = size / width;
    }

    const uchar* m_data;
    qint64 m_count = 0;
    int m_width = 1;
    bool m_bigEndian = false;
};

// Counts element nesting the way a conforming parser would see it, skipping comments,
// CDATA sections, processing instructions, declarations and quoted attribute values; far
// cheaper than the DOM parse that follows. Malformed markup is left to the parser to report.
bool checkNestingDepth(const uchar* data, qint64 size, QString* message, int* line)
{
    const XmlUnits units(data, size);
    const qint64 count = units.count();
    int depth = 0;
    qint64 i = units.find('<', 0);
    while (i >= 0 && i + 1 < count) {
        const uint next = units.at(i + 1);
        if (next == '/') {
            if (depth > 0) {
                --depth;
            }
            i = units.skipMarkup(i + 2);
        } else if (next == '?') {
            i = units.findEnd("?>", i + 2);
        } else if (next == '!') {
            if (units.startsWith(i + 2, "--")) {
                i = units.findEnd("-->", i + 4);
            } else if (units.startsWith(i + 2, "[CDATA[")) {
                i = units.findEnd("]]>", i + 9);
            } else {
                i = units.skipDeclaration(i + 2);
            }
        } else {
            const qint64 end = units.skipMarkup(i + 1);
            if (end < 0) {
                break;
            }
            if (units.at(end - 2) != '/' && ++depth > maxNestingDepth) {
                *message = QStringLiteral("document nested deeper than %1 levels")
                               .arg(maxNestingDepth);
                *line = units.lineOf(i);
                return false;
            }
            i = end;
        }
        if (i < 0) {
            break;
        }
        i = units.find('<', i);
    }
    return true;
}

// The text of the first direct child node named name; empty when there is none.
inline QString childText(const QDomNode& parent, const QString& name)
{
    return parent.namedItem(name).toElement().text();
}

QHash<int, QString> enumTableOf(const QDomElement& enumDef)
{
    QHash<int, QString> table;
    for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == enumElementName) {
            const QDomElement item = node.toElement();
            table.insert(item.attribute(valueAttrName).toInt(nullptr, 10), item.text());
        }
    }
    return table;
}

} // namespace

// State of one load: texts shared between definitions and the EnumDef tables already built.
struct DPDictLoader::LoadContext
{
    QSet<QString> texts;
    QHash<QString, int> enumDefIndex;
    QHash<QString, QHash<int, QString>> enumTables;
};

DPDictLoader::DPDictLoader(QObject* parent, QThread* thread, MeasurementRegistry* registry)
    : QThread(parent)
    , m_thread(thread)
    , m_registry(registry)
{ }

DPDictLoader::~DPDictLoader() = default;

DPointDictionary* DPDictLoader::load(const QString& fileName, const QString& dictName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Q_EMIT error(QLatin1String("Could not open '") + fileName + QLatin1Char('\''));
        return nullptr;
    }

    QDomDocument document;
    QString parseError;
    int errorLine = 0;
    bool parsed = false;
    const qint64 size = file.size();
    if (uchar* mapped = size > 0 ? file.map(0, size) : nullptr) {
        const bool shallow = checkNestingDepth(mapped, size, &parseError, &errorLine);
        file.unmap(mapped);
        parsed = shallow && document.setContent(&file, false, &parseError, &errorLine);
    } else {
        // Not mappable (a pipe, an empty file): read it whole and parse the bytes.
        const QByteArray bytes = file.readAll();
        parsed = checkNestingDepth(reinterpret_cast<const uchar*>(bytes.constData()),
                     bytes.size(), &parseError, &errorLine)
            && document.setContent(bytes, false, &parseError, &errorLine);
    }
    if (!parsed) {
        Q_EMIT error(QLatin1String("Failed to parse ") + fileName + QLatin1String(", error: ")
            + parseError + QLatin1String(", errLine: ") + QString::number(errorLine));
        return nullptr;
    }

    auto* dictionary = new DPointDictionary(nullptr);
    dictionary->setObjectName(dictName);

    const QDomElement root = document.documentElement();
    keepEnumDefs(root);

    LoadContext context;
    for (int i = 0, count = m_enumDefs.count(); i < count; ++i) {
        const QString id = m_enumDefs.item(i).toElement().attribute(idAttrName);
        if (!context.enumDefIndex.contains(id)) {
            context.enumDefIndex.insert(id, i);
        }
    }
    m_context = &context;

    // The list caches its walk of the document; reading items in increasing order keeps the
    // whole loop linear.
    const QDomNodeList variableDefs = root.elementsByTagName(variableDefNode);
    for (int i = 0, count = variableDefs.count(); i < count; ++i) {
        const QDomElement variableDef = variableDefs.item(i).toElement();
        if (DPTypeBase* type = createType(variableDef)) {
            dictionary->addDef(loadDPointDef(variableDef, *type));
        }
    }

    m_context = nullptr;
    file.close();
    return dictionary;
}

DPTypeBase* DPDictLoader::createType(const QDomElement& variableDef)
{
    const QDomElement dataItem = variableDef.namedItem(dataItemNode).toElement();
    const DPDictFormat::Selection selection = DPDictFormat::selectType(dataItem);
    if (selection.skipReason != DPDictFormat::NotSkipped) {
        return nullptr;
    }

    switch (selection.kind) {
    case DPDictFormat::EventPoint: {
        QMap<QString, DPTypeEvent::AssociatedVariable*> associatedVariables;
        const QDomNodeList elements = variableDef.elementsByTagName(associatedVariableNode);
        for (int i = 0, count = elements.count(); i < count; ++i) {
            const QDomElement element = elements.item(i).toElement();
            auto* record = new DPTypeEvent::AssociatedVariable;
            record->names = element.text();
            record->changeable = DPDictFormat::isTrueText(element.attribute(changeableAttr));
            const QString key = intern(element.attribute(typeAttr));
            auto it = associatedVariables.find(key);
            if (it != associatedVariables.end()) {
                delete it.value();
                it.value() = record;
            } else {
                associatedVariables.insert(key, record);
            }
        }
        auto* type = new DPTypeEvent(nullptr);
        type->_init(childText(variableDef, eventIdNode).toInt(nullptr, 10),
            childText(variableDef, descriptionNode),
            childText(variableDef, explanationNode).simplified(), selection.eventType,
            selection.eventChangeable, selection.ackType, selection.resetType,
            associatedVariables);
        return type;
    }
    case DPDictFormat::IPv4Point:
        return new DPTypeIPv4(nullptr);
    case DPDictFormat::EnumPoint: {
        const QString enumDefId = childText(dataItem, enumDefIdNode);
        QHash<int, QString> values;
        if (m_context) {
            // One table per EnumDef and load, shared by every point that names it.
            auto it = m_context->enumTables.find(enumDefId);
            if (it == m_context->enumTables.end()) {
                const int index = m_context->enumDefIndex.value(enumDefId, -1);
                it = m_context->enumTables.insert(enumDefId,
                    index < 0 ? QHash<int, QString>()
                              : enumTableOf(m_enumDefs.item(index).toElement()));
            }
            values = it.value();
        } else {
            values = getEnumDef(enumDefId);
        }
        auto* type = new DPTypeEnum(nullptr);
        type->_init(
            DPDictFormat::enumDefault(childText(dataItem, rawDefaultValueNode), values), values);
        return type;
    }
    case DPDictFormat::StringPoint: {
        auto* type = new DPTypeString(nullptr);
        type->_init(intern(childText(dataItem, defaultValueNode)),
            intern(childText(dataItem, charRegexNode)), intern(childText(dataItem, formatNode)),
            childText(dataItem, maxLengthNode).toInt(nullptr, 10));
        return type;
    }
    case DPDictFormat::NumberPoint: {
        auto* type = new DPTypeNumber(nullptr);
        type->_init(DPDictFormat::numberDefault(childText(dataItem, rawDefaultValueNode)),
            childText(dataItem, minValueNode).toInt(nullptr, 10),
            childText(dataItem, maxValueNode).toInt(nullptr, 10),
            intern(childText(dataItem, unitsNode)), intern(childText(dataItem, unitsLabelNode)));
        return type;
    }
    case DPDictFormat::RealPoint: {
        auto* type = new DPTypeReal(nullptr);
        type->_init(DPDictFormat::realDefault(intern(childText(dataItem, rawDefaultValueNode))),
            childText(dataItem, minValueNode).toDouble(),
            childText(dataItem, maxValueNode).toDouble(), intern(childText(dataItem, unitsNode)),
            intern(childText(dataItem, unitsLabelNode)));
        return type;
    }
    case DPDictFormat::TimePoint: {
        auto* type = new DPTypeTime(nullptr);
        type->_init(DPDictFormat::timeDefault(
                        childText(dataItem, rawDefaultValueNode), selection.epoch),
            selection.epoch);
        return type;
    }
    case DPDictFormat::NoPointKind:
        break;
    }
    return nullptr;
}

DPointDef* DPDictLoader::loadDPointDef(const QDomElement& variableDef, DPTypeBase& type)
{
    const QDomNode worksheet = variableDef.namedItem(worksheetNode);
    QString lineId = childText(variableDef, lineIdNode);
    if (lineId.isEmpty()) {
        lineId = childText(worksheet, lineIdNode);
    }
    const QString name = variableDef.attribute(variableNameAttr).simplified();
    const QString externalName = childText(variableDef, externalNameNode).simplified();

    // One walk of the entry's subtree, in document order, for both kinds of descendant.
    QMap<QString, QString> displayHints;
    bool readable = false;
    bool writable = false;
    QDomNode node = variableDef.firstChild();
    while (!node.isNull()) {
        if (node.isElement()) {
            const QString tagName = node.nodeName();
            if (tagName == displayHintNode) {
                const QDomElement hint = node.toElement();
                displayHints.insert(
                    intern(hint.attribute(groupIdAttr)), intern(hint.attribute(rowIdAttr)));
            } else if (tagName == accessNode) {
                const QString access = node.toElement().text();
                writable = writable || DPDictFormat::grantsWrite(access);
                readable = readable || DPDictFormat::grantsRead(access);
            }
        }
        QDomNode next = node.firstChild();
        while (next.isNull() && node != variableDef) {
            next = node.nextSibling();
            if (next.isNull()) {
                node = node.parentNode();
            }
        }
        node = next;
    }

    auto* def = new DPointDef(nullptr);
    def->_init(name, name, externalName, intern(lineId),
        childText(variableDef, pxcIdNode).toInt(nullptr, 10), &type);
    type.setParent(def);
    if (qobject_cast<DPTypeNumber*>(&type) || qobject_cast<DPTypeReal*>(&type)) {
        def->m_registry = m_registry;
    }

    def->setProperty("DisplayHints", QVariant::fromValue(displayHints));
    def->setProperty("Worksheet", intern(childText(worksheet, nameNode)));
    const QString largeDisplay = childText(variableDef, largeDisplayNode).simplified();
    if (!largeDisplay.isEmpty() && largeDisplay != externalName) {
        def->setProperty("LargeDisplay", largeDisplay);
    }
    const QString showVar = childText(variableDef, showVarNode).simplified();
    if (!showVar.isEmpty()) {
        def->setProperty("ShowVar", intern(showVar));
    }
    def->m_writable = writable;
    def->m_readable = readable;
    return def;
}

QHash<int, QString> DPDictLoader::getEnumDef(QString enumDefId)
{
    const QDomElement enumDef = findEnumDef(enumDefId);
    return enumDef.isNull() ? QHash<int, QString>() : enumTableOf(enumDef);
}

QHash<QString, int> DPDictLoader::getIndexEnumDef(QString enumDefId)
{
    QHash<QString, int> table;
    const QDomElement enumDef = findEnumDef(enumDefId);
    for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == enumElementName) {
            const QDomElement item = node.toElement();
            table.insert(item.text(), item.attribute(valueAttrName).toInt(nullptr, 10));
        }
    }
    return table;
}

void DPDictLoader::run()
{
    qRegisterMetaType<DictRefSP>("DictRefSP");
    qCritical("%s", obsoleteRunMessage);
    setFinished();
    Q_EMIT error(QLatin1String(obsoleteRunMessage));
}

void DPDictLoader::setFinished()
{
    m_finished = true;
}

QDomElement DPDictLoader::findEnumDef(const QString& enumDefId) const
{
    for (int i = 0, count = m_enumDefs.count(); i < count; ++i) {
        const QDomElement enumDef = m_enumDefs.item(i).toElement();
        if (enumDef.attribute(idAttrName) == enumDefId) {
            return enumDef;
        }
    }
    return QDomElement();
}

void DPDictLoader::keepEnumDefs(const QDomElement& root)
{
    // Keeps the id, and per Enum child the value text and the label, of every EnumDef in
    // document order: all that getEnumDef and getIndexEnumDef read.
    QDomDocument copies;
    QDomElement holder = copies.createElement(enumDefNode + QLatin1String("s"));
    copies.appendChild(holder);
    const QDomNodeList enumDefs = root.elementsByTagName(enumDefNode);
    for (int i = 0, count = enumDefs.count(); i < count; ++i) {
        const QDomElement enumDef = enumDefs.item(i).toElement();
        QDomElement copy = copies.createElement(enumDefNode);
        if (enumDef.hasAttribute(idAttrName)) {
            copy.setAttribute(idAttrName, enumDef.attribute(idAttrName));
        }
        for (QDomNode node = enumDef.firstChild(); !node.isNull(); node = node.nextSibling()) {
            if (node.isElement() && node.nodeName() == enumElementName) {
                const QDomElement item = node.toElement();
                QDomElement itemCopy = copies.createElement(enumElementName);
                if (item.hasAttribute(valueAttrName)) {
                    itemCopy.setAttribute(valueAttrName, item.attribute(valueAttrName));
                }
                itemCopy.appendChild(copies.createTextNode(item.text()));
                copy.appendChild(itemCopy);
            }
        }
        holder.appendChild(copy);
    }
    // The old list lets go of the old copies before their document goes.
    m_enumDefs = holder.childNodes();
    m_enumDocument = copies;
}

QString DPDictLoader::intern(const QString& text) const
{
    return m_context ? *m_context->texts.insert(text) : text;
}

} // namespace kivo
