#pragma once

#include <kivo/kivodpoints_export.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeTime.h>

#include <QHash>
#include <QString>
#include <QVariant>

class QDomElement;

namespace kivo {

/// The rules of the point dictionary format that decide what a VariableDef becomes: the
/// point-type selection, the keyword tables, the default-value rules and the access texts.
/// DPDictLoader applies them; tools use them to explain why an entry was skipped.
/// Keywords are the DPDictLoader vocabulary constants. Static functions only.
class KIVODPOINTS_EXPORT DPDictFormat
{
public:
    /// The kind of point a DataItem "type" text selects.
    enum PointKind {
        NoPointKind = 0, ///< no point type: the entry is skipped
        EventPoint, ///< DPTypeEvent
        IPv4Point, ///< DPTypeIPv4
        EnumPoint, ///< DPTypeEnum
        StringPoint, ///< DPTypeString
        NumberPoint, ///< DPTypeNumber
        RealPoint, ///< DPTypeReal
        TimePoint ///< DPTypeTime
    };

    /// Why a VariableDef is skipped, or NotSkipped.
    enum SkipReason {
        NotSkipped = 0, ///< the entry becomes a point
        UnknownPointType, ///< the DataItem type selects no point type
        UnknownEventType, ///< the EventType keyword matches none
        UnknownAckType, ///< the AckType text contains no keyword
        UnknownResetType, ///< the ResetType text contains no keyword
        UnknownEpoch ///< the Epoch keyword matches none
    };

    /// What the DataItem of one VariableDef selects. The keyword fields are meaningful only
    /// for the kind that reads them (event or time) and only when the entry is not skipped.
    struct Selection
    {
        PointKind kind = NoPointKind; ///< the point type selected
        SkipReason skipReason = UnknownPointType; ///< why the entry is skipped, or NotSkipped
        DPTypeEvent::EventType eventType = DPTypeEvent::Message; ///< event: EventType
        bool eventChangeable = false; ///< event: the changeable attribute of EventType
        DPTypeEvent::AckType ackType = DPTypeEvent::AckManual; ///< event: AckType
        DPTypeEvent::ResetType resetType = DPTypeEvent::ResetManual; ///< event: ResetType
        DPTypeTime::Epoch epoch = DPTypeTime::InvalidEpoch; ///< time: Epoch
    };

    DPDictFormat() = delete;

    /// The point kind of a DataItem type text, tested in the fixed order Event, IPv4, Enum,
    /// String (equal), Int, Real, Time (contained); NoPointKind when no test holds.
    static PointKind selectPointKind(const QString& typeText);
    /// Whether text equals an event-class keyword; sets eventType only then.
    static bool eventTypeForText(const QString& text, DPTypeEvent::EventType* eventType);
    /// Whether text contains an acknowledge keyword (MA, AA, NA, first hit wins); sets ackType
    /// only then.
    static bool ackTypeForText(const QString& text, DPTypeEvent::AckType* ackType);
    /// Whether text contains a reset keyword (MR, AR, first hit wins); sets resetType only then.
    static bool resetTypeForText(const QString& text, DPTypeEvent::ResetType* resetType);
    /// Whether text equals an epoch keyword; sets epoch only then.
    static bool epochForText(const QString& text, DPTypeTime::Epoch* epoch);
    /// The point kind and keywords of a DataItem element (a null element selects nothing),
    /// deciding EventType, AckType, ResetType in that order and stopping at the first miss.
    static Selection selectType(const QDomElement& dataItem);
    /// The same decision from the DataItem's type text and its keyword children (null elements
    /// where a child is missing); only the children the selected kind needs are read.
    static Selection selectType(const QString& typeText, const QDomElement& eventType,
        const QDomElement& ackType, const QDomElement& resetType, const QDomElement& epoch);
    /// A short English explanation of reason; empty for NotSkipped.
    static QString skipReasonText(SkipReason reason);

    /// Whether a raw default text is one of the two no-default markers (compared exactly).
    static bool isNoDefaultMarker(const QString& rawDefault);
    /// Default of an integer point: invalid for a marker, else the int value (0 when the text
    /// does not convert).
    static QVariant numberDefault(const QString& rawDefault);
    /// Default of a real point: invalid for a marker, else the text itself as a QString.
    static QVariant realDefault(const QString& rawDefault);
    /// Default of an enumeration point: the int value of the text, else the first value in
    /// the table's iteration order whose label equals the text, else -1.
    static int enumDefault(const QString& rawDefault, const QHash<int, QString>& values);
    /// Default of a time point: the moment of the call in seconds since 1970 UTC for
    /// "currentDateTime" with one of the two 1970 epochs, else the int value (0 when the text
    /// does not convert).
    static int timeDefault(const QString& rawDefault, DPTypeTime::Epoch epoch);
    /// Whether an attribute text is exactly "true".
    static bool isTrueText(const QString& text);
    /// Whether an Access text grants read access (exactly "R").
    static bool grantsRead(const QString& accessText);
    /// Whether an Access text grants write access (exactly "W").
    static bool grantsWrite(const QString& accessText);

    /// The raw default text meaning "the moment of loading" for the 1970 epochs.
    static const QString currentDateTimeString;
};

} // namespace kivo
