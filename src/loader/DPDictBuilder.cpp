#include "loader/DPDictBuilder_p.h"

#include "loader/DPDictFormat_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QHash>
#include <QMap>

namespace kivo {

namespace {

// The text in a buffer of its own size: kept texts outlive the buffers they were read into.
QString compacted(QString text)
{
    if (text.capacity() > text.size()) {
        text.squeeze();
    }
    return text;
}

} // namespace

QString simplifiedText(const QString& text)
{
    const QChar* chars = text.constData();
    const int length = text.size();
    bool needed = length > 0 && (chars[0].isSpace() || chars[length - 1].isSpace());
    for (int i = 0; !needed && i + 1 < length; ++i) {
        needed = chars[i].isSpace() && (chars[i] != QLatin1Char(' ') || chars[i + 1].isSpace());
    }
    return needed ? text.simplified() : text;
}

namespace {

int toInt(const QString& text)
{
    return text.toInt(nullptr, 10);
}

} // namespace

const QString& DPDictEntry::elementName(int text)
{
    using L = DPDictLoader;
    static const QString* const names[TextCount] = { &L::externalNameNode, &L::lineIdNode,
        &L::pxcIdNode, &L::largeDisplayNode, &L::showVarNode, &L::eventIdNode, &L::descriptionNode,
        &L::explanationNode, &L::nameNode, &L::lineIdNode, &L::rawDefaultValueNode,
        &L::minValueNode, &L::maxValueNode, &L::unitsNode, &L::unitsLabelNode, &L::enumDefIdNode,
        &L::defaultValueNode, &L::charRegexNode, &L::formatNode, &L::maxLengthNode, &L::epochNode,
        &L::eventTypeNode, &L::ackTypeNode, &L::resetTypeNode };
    return *names[text];
}

DPDictSource::~DPDictSource() = default;

DPDictBuilder::DPDictBuilder(MeasurementRegistry* registry)
    : m_registry(registry)
{ }

DPDictBuilder::~DPDictBuilder()
{
    delete m_dictionary;
}

QString DPDictBuilder::intern(const QString& text)
{
    // An empty text stays as it is, so that a null text stays null.
    if (text.isEmpty()) {
        return text;
    }
    const auto it = m_texts.constFind(text);
    if (it != m_texts.constEnd()) {
        return *it;
    }
    const QString kept = compacted(text);
    m_texts.insert(kept);
    return kept;
}

void DPDictBuilder::addEntry(const DPDictEntry& entry, const DPDictSource& source)
{
    if (!m_dictionary) {
        m_dictionary = new DPointDictionary(nullptr);
    }
    const int line = source.lineAt(entry.mark);
    const QString* texts = entry.texts;
    const DPDictFormat::Selection selection
        = selectTypeFromTexts(DPDictFormat::selectPointKind(entry.type),
            texts[DPDictEntry::EventType], entry.eventChangeable, texts[DPDictEntry::AckType],
            texts[DPDictEntry::ResetType], texts[DPDictEntry::Epoch]);
    if (selection.skipReason != DPDictFormat::NotSkipped) {
        ++m_skippedCount;
        checkName(entry, line);
        reportSkip(entry, source, selection.skipReason, line);
        return;
    }
    DPTypeBase* type = createType(entry, selection);
    // Adopted now, filed by name once all are read.
    DPointDef* def = createDefinition(entry, *type);
    def->setParent(m_dictionary);
    m_filing.add(def, def->m_variableName, line); // its object name, still in the cache
    checkName(entry, line);
    checkEntry(entry, source, selection, def, line);
}

void DPDictBuilder::addFinding(int line, LoadFinding::Severity severity, const QString& text)
{
    LoadFinding finding;
    finding.line = line;
    finding.severity = severity;
    finding.text = text;
    m_findings.append(finding);
}

DPointDictionary* DPDictBuilder::takeDictionary(const QString& dictName)
{
    // The first EnumDef of each id wins; a table is built once and shared by its points.
    QHash<QString, QHash<int, QString>> tables;
    for (const PendingEnum& pending : qAsConst(m_pendingEnums)) {
        auto it = tables.find(pending.enumDefId);
        if (it == tables.end()) {
            QHash<int, QString> table;
            for (const DPDictEnumDef& enumDef : qAsConst(m_enumDefs)) {
                if (enumDef.id == pending.enumDefId) {
                    for (const auto& item : enumDef.items) {
                        table.insert(item.first, item.second);
                    }
                    break;
                }
            }
            it = tables.insert(pending.enumDefId, table);
        }
        pending.type->_init(DPDictFormat::enumDefault(pending.rawDefault, it.value()), it.value());
        checkEnum(pending, it.value());
    }
    m_pendingEnums.clear();

    DPointDictionary* dictionary = m_dictionary ? m_dictionary : new DPointDictionary(nullptr);
    m_dictionary = nullptr;
    m_filing.fileInto(dictionary, &m_replacements);
    dictionary->setObjectName(dictName);
    finishChecks();
    return dictionary;
}

DPTypeBase* DPDictBuilder::createType(
    const DPDictEntry& entry, const DPDictFormat::Selection& selection)
{
    const QString* texts = entry.texts;

    switch (selection.kind) {
    case DPDictFormat::EventPoint: {
        QMap<QString, DPTypeEvent::AssociatedVariable*> associatedVariables;
        for (const DPDictEntry::Associated& associated : entry.associated) {
            auto* record = new DPTypeEvent::AssociatedVariable;
            record->names = compacted(associated.names);
            record->changeable = DPDictFormat::isTrueText(associated.changeable);
            auto it = associatedVariables.find(associated.type);
            if (it != associatedVariables.end()) {
                delete it.value();
                it.value() = record;
            } else {
                associatedVariables.insert(intern(associated.type), record);
            }
        }
        auto* type = new DPTypeEvent(nullptr);
        type->_init(toInt(texts[DPDictEntry::EventId]), intern(texts[DPDictEntry::Description]),
            intern(simplifiedText(texts[DPDictEntry::Explanation])), selection.eventType,
            selection.eventChangeable, selection.ackType, selection.resetType, associatedVariables);
        return type;
    }
    case DPDictFormat::IPv4Point:
        return new DPTypeIPv4(nullptr);
    case DPDictFormat::EnumPoint: {
        auto* type = new DPTypeEnum(nullptr);
        m_pendingEnums.append(
            { type, texts[DPDictEntry::EnumDefId], texts[DPDictEntry::RawDefault], 0, 0, 0 });
        return type;
    }
    case DPDictFormat::StringPoint: {
        auto* type = new DPTypeString(nullptr);
        type->_init(intern(texts[DPDictEntry::Default]), intern(texts[DPDictEntry::CharRegex]),
            intern(texts[DPDictEntry::Format]), toInt(texts[DPDictEntry::MaxLength]));
        return type;
    }
    case DPDictFormat::NumberPoint: {
        auto* type = new DPTypeNumber(nullptr);
        type->_init(DPDictFormat::numberDefault(texts[DPDictEntry::RawDefault]),
            toInt(texts[DPDictEntry::Min]), toInt(texts[DPDictEntry::Max]),
            intern(texts[DPDictEntry::Units]), intern(texts[DPDictEntry::UnitsLabel]));
        return type;
    }
    case DPDictFormat::RealPoint: {
        auto* type = new DPTypeReal(nullptr);
        type->_init(DPDictFormat::realDefault(intern(texts[DPDictEntry::RawDefault])),
            texts[DPDictEntry::Min].toDouble(), texts[DPDictEntry::Max].toDouble(),
            intern(texts[DPDictEntry::Units]), intern(texts[DPDictEntry::UnitsLabel]));
        return type;
    }
    case DPDictFormat::TimePoint: {
        auto* type = new DPTypeTime(nullptr);
        type->_init(DPDictFormat::timeDefault(texts[DPDictEntry::RawDefault], selection.epoch),
            selection.epoch);
        return type;
    }
    case DPDictFormat::NoPointKind:
        break;
    }
    return nullptr;
}

DPointDef* DPDictBuilder::createDefinition(const DPDictEntry& entry, DPTypeBase& type)
{
    const QString* texts = entry.texts;
    QString lineId = texts[DPDictEntry::LineId];
    if (lineId.isEmpty()) {
        lineId = texts[DPDictEntry::WorksheetLineId];
    }
    const QString name = compacted(simplifiedText(entry.variableName));
    const QString externalName = compacted(simplifiedText(texts[DPDictEntry::ExternalName]));

    auto* def = new DPointDef(nullptr);
    def->_init(
        name, name, externalName, compacted(lineId), toInt(texts[DPDictEntry::PxcId]), &type);
    type.setParent(def);
    if (qobject_cast<DPTypeNumber*>(&type) || qobject_cast<DPTypeReal*>(&type)) {
        def->m_registry = m_registry;
    }

    QMap<QString, QString> hints;
    for (const DPDictEntry::Hint& hint : entry.hints) {
        hints.insert(intern(hint.group), intern(hint.row));
    }
    def->setProperty("DisplayHints", QVariant::fromValue(hints));
    def->setProperty("Worksheet", intern(texts[DPDictEntry::WorksheetName]));
    const QString largeDisplay = simplifiedText(texts[DPDictEntry::LargeDisplay]);
    if (!largeDisplay.isEmpty() && largeDisplay != externalName) {
        def->setProperty("LargeDisplay", compacted(largeDisplay));
    }
    const QString showVar = simplifiedText(texts[DPDictEntry::ShowVar]);
    if (!showVar.isEmpty()) {
        def->setProperty("ShowVar", intern(showVar));
    }
    def->m_readable = entry.readable;
    def->m_writable = entry.writable;
    return def;
}

} // namespace kivo
