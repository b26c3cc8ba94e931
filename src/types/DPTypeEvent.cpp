#include <kivo/types/DPTypeEvent.h>

#include "DPTypeJsonTemplates_p.h"
#include "types/DPTypeJson_p.h"

#include <QSet>

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
    JsonBuffer out;
    DPTypeJson::appendEvent(out, *this);
    return out.toString();
}

void DPTypeJson::appendEvent(JsonBuffer& out, const DPTypeEvent& type)
{
    const JsonTemplate& entryTemplate = DPTypeJsonTemplates::associatedVariable();
    static const QString writable = QStringLiteral("W");
    static const QString readOnly = QStringLiteral("R");

    JsonBuffer avs;
    for (auto it = type.m_associatedVariables.cbegin(); it != type.m_associatedVariables.cend();
         ++it) {
        const DPTypeEvent::AssociatedVariable* record = it.value();
        if (!record)
            continue;
        const JsonArg access = JsonArg::markerFree(record->changeable ? writable : readOnly);
        // The parts of names.simplified().split(' '): the runs of non-space characters, or one
        // empty name when there is none.
        const QChar* c = record->names.constData();
        const int size = record->names.size();
        bool named = false;
        for (int i = 0;;) {
            while (i < size && c[i].isSpace())
                ++i;
            if (i == size && named)
                break;
            const int start = i;
            while (i < size && !c[i].isSpace())
                ++i;
            avs.append(avs.size() == 0 ? QLatin1Char('[') : QLatin1Char(','));
            entryTemplate.appendFilled(
                avs, { it.key(), QStringView(c + start, i - start), access });
            named = true;
            if (i == size)
                break;
        }
    }
    if (avs.size() == 0)
        avs.append(QLatin1Char('['));
    avs.append(QLatin1Char(']'));

    DPTypeJsonTemplates::event().appendFilled(out,
        { type.m_eventId, type.m_description, type.m_explanation,
            static_cast<int>(type.m_eventType), static_cast<int>(type.m_ackType),
            static_cast<int>(type.m_resetType), avs.view() });
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
