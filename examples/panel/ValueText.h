#pragma once

#include <QString>
#include <QVariant>

namespace kivo {
class DPointDef;
class MeasurementRegistry;
} // namespace kivo

namespace panel {

/// The text a person reads for a raw point value: numbers in display units with their label,
/// enumeration labels, dotted IPv4 addresses, 1970-based times as dates.
/// withUnit false leaves the units label off (the text to edit). Empty for an invalid value.
QString displayText(const kivo::DPointDef* def, const QVariant& raw,
    kivo::MeasurementRegistry* registry, bool withUnit = true);

/// The raw value for edited display text: numbers converted back from display units, dotted
/// addresses as integers; other text unchanged, for the point's own type check to judge.
QVariant rawFromText(
    const kivo::DPointDef* def, const QString& text, kivo::MeasurementRegistry* registry);

} // namespace panel
