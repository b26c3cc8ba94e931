#pragma once

namespace kivo {

class MeasurementConverter;

// The number MeasurementConverter::toString shows for a raw value, and how many decimals it is
// shown with: toString(QVariant(raw)) is QString::number of that number, 'f', decimals.
double displayNumber(const MeasurementConverter& converter, double raw, int* decimals);

} // namespace kivo
