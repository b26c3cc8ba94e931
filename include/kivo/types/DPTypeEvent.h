#pragma once

#include <kivo/types/DPTypeBase.h>

#include <QMap>

namespace kivo {

/// Event point type (message, warning, alarm, fault): id, texts, kind, acknowledge and reset
/// modes, and the associated variables. Owns its AssociatedVariable records.
class KIVODPOINTS_EXPORT DPTypeEvent : public DPTypeBase
{
    Q_OBJECT
public:
    enum EventType { Message = 0, Warning = 1, Alarm = 2, Fault = 3 };
    Q_ENUM(EventType)
    enum AckType { AckManual = 0, AckAuto = 1, AckNo = 2 };
    Q_ENUM(AckType)
    enum ResetType { ResetManual = 0, ResetAuto = 1 };
    Q_ENUM(ResetType)
    enum Severity { NotApplicable = 0, Minor = 1, Major = 2, Critical = 3 };
    Q_ENUM(Severity)

    /// Other points that belong to the event: names separated by white space.
    struct AssociatedVariable
    {
        QString names;
        bool changeable = false;
    };

    explicit DPTypeEvent(QObject* parent = nullptr);
    /// Deletes every associated-variable record.
    ~DPTypeEvent() override;

    /// The event type multiplied by 8, as an int.
    QVariant getDefaultValue() const override;
    /// "type", "id", "desc", "expl", "etype", "atype", "rtype" and "avs".
    QString toJson() const override;
    /// Assigns the eight fields; takes ownership of the records in associatedVariables
    /// (records held before are deleted). Returns this descriptor.
    virtual DPTypeEvent* _init(int eventId, const QString& description, const QString& explanation,
        EventType eventType, bool changeable, AckType ackType, ResetType resetType,
        QMap<QString, AssociatedVariable*> associatedVariables);

    int m_eventId = 0;
    QString m_description;
    QString m_explanation;
    EventType m_eventType = Message;
    bool m_changeable = false;
    AckType m_ackType = AckManual;
    ResetType m_resetType = ResetManual;
    QMap<QString, AssociatedVariable*> m_associatedVariables;
};

} // namespace kivo
