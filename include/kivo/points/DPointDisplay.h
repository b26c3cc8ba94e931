#pragma once

#include <kivo/kivodpoints_export.h>

#include <QCoreApplication>
#include <QString>
#include <QVariant>

namespace kivo {

class DPointDef;
class StatRef;

/// Point values as people read and type them, as a point's definition describes them: numbers
/// in the display units of the definition's registry, enumeration labels, event states, dates
/// and durations, dotted IPv4 addresses; and typed input back to raw values. Static functions
/// only; they read the definition and never change it. Texts are translatable (context
/// "kivo::DPointDisplay").
class KIVODPOINTS_EXPORT DPointDisplay
{
    Q_DECLARE_TR_FUNCTIONS(kivo::DPointDisplay)

public:
    DPointDisplay() = delete;

    /// Event value bits below the event type (value = type * 8 + state bits).
    enum EventState {
        EventActive = 1, ///< the event is active
        EventUnacknowledged = 2, ///< the event waits for acknowledgement
        EventResetNeeded = 4 ///< the event waits to be reset
    };

    /// The display text of raw for def: integers and reals converted into display units and
    /// rounded to the display resolution, followed by a blank and the units label ("74.3 °F");
    /// enumeration labels (the number when the table has none); event states; times as
    /// "yyyy-MM-dd hh:mm:ss" (" UTC" added for the GMT epoch), "[Nd ]hh:mm:ss" from the
    /// controller's start or midnight, "day N hh:mm:ss" from the start of the year or month;
    /// IPv4 addresses dotted; texts as they are. Empty for an invalid raw; raw's text when def
    /// is null or has no type.
    static QString displayText(const DPointDef* def, const QVariant& raw);
    /// The value a person edits: for integers and reals the number in display units (an int
    /// when shown without decimals, else a double), for enumerations the label, otherwise
    /// displayText. Invalid for an invalid raw.
    static QVariant displayValue(const DPointDef* def, const QVariant& raw);
    /// The units label shown after numbers: the display system's label, else the label of the
    /// unit (values stay in it), else the definition's own units label; empty for other types.
    static QString unitsLabel(const DPointDef* def);
    /// The limits in display units without the label ("86.0 – 203.0"), the choices of an
    /// enumeration ("Off, On"), "up to N characters" for texts; empty when there are none.
    static QString limitsText(const DPointDef* def);

    /// The raw value for input given as displayText or displayValue gives it (text, with or
    /// without the units label, or a number in display units): numbers through the inverse
    /// conversion, integers rounded to whole raw units and reals to the raw unit's resolution;
    /// labels matched ignoring letter case; dotted addresses, dates and durations parsed.
    /// Invalid, with the reason in *reason (when given), when the input cannot be converted.
    /// Limits are not checked (see checkLimits).
    static QVariant rawValue(
        const DPointDef* def, const QVariant& input, QString* reason = nullptr);
    /// Why raw lies outside def's limits ("Above the upper limit 203.0 °F"), or longer than
    /// a text's maximum length, or has characters a text does not allow; empty when it fits.
    static QString checkLimits(const DPointDef* def, const QVariant& raw);

    /// Why a write of raw to a point of def must be refused: "The point is not available" (no
    /// definition), "The point is read-only", "The value does not fit the point's type" (raw
    /// invalid), or checkLimits' reason; empty when the write may be requested.
    static QString checkWrite(const DPointDef* def, const QVariant& raw);
    /// The messages of a status chain, link by link, joined by "; " (a link without message
    /// gives its code); empty for an empty (successful) status.
    static QString statusText(const StatRef& status);
};

} // namespace kivo
