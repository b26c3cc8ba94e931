#include <kivo/measurement/MeasurementUnits.h>

namespace kivo {

MeasurementUnits::MeasurementUnits(QObject* parent)
    : QObject(parent)
{ }

MeasurementUnits::~MeasurementUnits() = default;

MeasurementUnits* MeasurementUnits::_init(
    const QString& id, const QString& label, double scale, double resolution)
{
    m_id = id;
    m_label = label;
    m_scale = scale;
    m_resolution = resolution;
    return this;
}

} // namespace kivo
