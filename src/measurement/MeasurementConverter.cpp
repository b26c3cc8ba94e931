#include <kivo/measurement/MeasurementConverter.h>

#include "core/NumberText_p.h"
#include "measurement/MeasurementConverter_p.h"

#include <cmath>
#include <utility>

namespace kivo {

namespace {

// Decimals printed when the resolution has no usable logarithm (zero, negative, NaN).
constexpr int unresolvedDecimals = 6;

} // namespace

DisplayFormat::DisplayFormat(const MeasurementConverter& converter)
    : converter(converter)
    , decimals(unresolvedDecimals)
    , snaps(false)
{
    // Converting a non-finite logarithm to int would be undefined, so test it first.
    const double exponent = std::log10(converter.m_resolution);
    if (std::isfinite(exponent)) {
        // Truncation toward zero on purpose: 0.5 and 0.25 still snap to multiples of themselves.
        const int digits = static_cast<int>(exponent);
        snaps = digits >= 0;
        decimals = snaps ? 0 : -digits;
    }
}

double displayNumber(const DisplayFormat& format, double raw)
{
    const MeasurementConverter& converter = format.converter;
    double y = raw * converter.getUnitScale() * converter.getScale() + converter.getOffset();
    if (format.snaps) {
        const double r = 1.0 / converter.m_resolution;
        y = std::round(y * r) / r;
    }
    return y;
}

MeasurementConverter::MeasurementConverter(QObject* parent)
    : QObject(parent)
{ }

MeasurementConverter::~MeasurementConverter() = default;

MeasurementConverter* MeasurementConverter::_init(
    double unitScale, double scale, int offset, double resolution, QString label)
{
    m_unitScale = unitScale;
    m_scale = scale;
    m_offset = offset;
    m_resolution = resolution;
    m_label = std::move(label);
    return this;
}

QString MeasurementConverter::toString(QVariant value) const
{
    const DisplayFormat format(*this);
    // QString::number(y, 'f', decimals), written without Qt's exact-digit generation for the
    // common values.
    return NumberText::FixedText(displayNumber(format, value.toDouble()), format.decimals)
        .toString();
}

double MeasurementConverter::fromValue(QVariant value) const
{
    const double x = value.toDouble();
    if (m_scale == 0.0)
        return x / m_unitScale;
    return ((x - m_offset) / m_scale) / m_unitScale;
}

} // namespace kivo
