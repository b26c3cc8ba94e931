#pragma once

namespace kivo {

class MeasurementConverter;

// How MeasurementConverter::toString shows numbers, worked out from the resolution once for
// any number of values: the decimals printed, and whether values snap to the resolution.
struct DisplayFormat
{
    explicit DisplayFormat(const MeasurementConverter& converter);

    const MeasurementConverter& converter;
    int decimals;
    bool snaps;
};

// The number MeasurementConverter::toString shows for a raw value: toString(QVariant(raw)) is
// QString::number of that number, 'f', format.decimals.
double displayNumber(const DisplayFormat& format, double raw);

} // namespace kivo
