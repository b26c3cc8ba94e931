#include <kivo/types/DPTypeEvent.h>

#include "DPTypeJsonTemplates_p.h"
#include "types/DPTypeJson_p.h"

#include <QSet>
#include <QStringList>

#include <utility>

namespace kivo {

namespace {

// A record filed under several keys is still deleted only once.
QSet<DPTypeEvent::AssociatedVariable*> distinctRecords(
    const QMap<QString, DPTypeEvent::AssociatedVariable*>& map)
{
    QSet<DPTypeEvent::AssociatedVariable*> records;
    records.reserve(map.size());
    for (DPTypeEvent::AssociatedVariable* record : map)
        records.insert(record);
    return records;
}

} // namespace

DPTypeEvent::DPTypeEvent(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeEvent::~DPTypeEvent()
{
    qDeleteAll(distinctRecords(m_associatedVariables));
    m_associatedVariables.clear();
}

QVariant DPTypeEvent::getDefaultValue() const
{
    return QVariant(static_cast<int>(m_eventType) * 8);
}

QString DPTypeEvent::toJson() const
{
    QString out;
    DPTypeJson::appendEvent(out, *this);
    return out;
}

void DPTypeJson::appendEvent(QString& out, const DPTypeEvent& type)
{
    const JsonTemplate& entryTemplate = DPTypeJsonTemplates::associatedVariable();
    static const QString writable = QStringLiteral("W");
    static const QString readOnly = QStringLiteral("R");

    QString avs;
    for (auto it = type.m_associatedVariables.cbegin(); it != type.m_associatedVariables.cend();
         ++it) {
        const DPTypeEvent::AssociatedVariable* record = it.value();
        if (!record)
            continue;
        const QString& access = record->changeable ? writable : readOnly;
        const QStringList names = record->names.simplified().split(QLatin1Char(' '));
        for (const QString& name : names) {
            avs += avs.isEmpty() ? QLatin1Char('[') : QLatin1Char(',');
            entryTemplate.appendFilled(avs, { it.key(), name, access });
        }
    }
    if (avs.isEmpty())
        avs = QStringLiteral("[]");
    else
        avs += QLatin1Char(']');

    DPTypeJsonTemplates::event().appendFilled(out,
        { type.m_eventId, type.m_description, type.m_explanation,
            static_cast<int>(type.m_eventType), static_cast<int>(type.m_ackType),
            static_cast<int>(type.m_resetType), avs });
}

DPTypeEvent* DPTypeEvent::_init(int eventId, const QString& description, const QString& explanation,
    EventType eventType, bool changeable, AckType ackType, ResetType resetType,
    QMap<QString, AssociatedVariable*> associatedVariables)
{
    m_eventId = eventId;
    m_description = description;
    m_explanation = explanation;
    m_eventType = eventType;
    m_changeable = changeable;
    m_ackType = ackType;
    m_resetType = resetType;

    // Records handed in again (the same pointers) stay alive; only the ones dropped go.
    const QSet<AssociatedVariable*> kept = distinctRecords(associatedVariables);
    const QSet<AssociatedVariable*> held = distinctRecords(m_associatedVariables);
    for (AssociatedVariable* record : held) {
        if (!kept.contains(record))
            delete record;
    }
    m_associatedVariables = std::move(associatedVariables);
    return this;
}

} // namespace kivo
