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
    /// The class of an event; JSON "etype".
    enum EventType {
        Message = 0, ///< a message
        Warning = 1, ///< a warning
        Alarm = 2, ///< an alarm
        Fault = 3 ///< a fault
    };
    Q_ENUM(EventType)
    /// How an event is acknowledged; JSON "atype".
    enum AckType {
        AckManual = 0, ///< acknowledged by the user ("MA")
        AckAuto = 1, ///< acknowledged automatically ("AA")
        AckNo = 2 ///< needs no acknowledgement ("NA")
    };
    Q_ENUM(AckType)
    /// How an event is reset; JSON "rtype".
    enum ResetType {
        ResetManual = 0, ///< reset by the user ("MR")
        ResetAuto = 1 ///< reset automatically ("AR")
    };
    Q_ENUM(ResetType)
    /// The severity of an event; no field of this library uses it.
    enum Severity {
        NotApplicable = 0, ///< no severity
        Minor = 1, ///< minor
        Major = 2, ///< major
        Critical = 3 ///< critical
    };
    Q_ENUM(Severity)

    /// Other points that belong to the event: names separated by white space.
    struct AssociatedVariable
    {
        QString names; ///< the point names, separated by white space
        bool changeable = false; ///< whether the points may be written: JSON access W, else R
    };

    /// A message event with id 0, empty texts and no associated variables.
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

    int m_eventId = 0; ///< the event id; JSON "id"
    QString m_description; ///< the description; JSON "desc"
    QString m_explanation; ///< the explanation; JSON "expl"
    EventType m_eventType = Message; ///< the class of event; JSON "etype"
    bool m_changeable = false; ///< whether the event's class may be changed (not rendered)
    AckType m_ackType = AckManual; ///< how it is acknowledged; JSON "atype"
    ResetType m_resetType = ResetManual; ///< how it is reset; JSON "rtype"
    /// The associated variables by key, owned by the descriptor; JSON "avs".
    QMap<QString, AssociatedVariable*> m_associatedVariables;
};

} // namespace kivo
