#include <kivo/measurement/MeasurementConversion.h>

namespace kivo {

MeasurementConversion::MeasurementConversion(QObject* parent)
    : QObject(parent)
{ }

MeasurementConversion::~MeasurementConversion() = default;

MeasurementConversion* MeasurementConversion::_init(
    const QString& id, const QString& label, const double& scale, int offset)
{
    m_id = id;
    m_label = label;
    m_scale = scale;
    m_offset = offset;
    return this;
}

void MeasurementConversion::addApplicableDefs(
    const QString& srcUnitId, const QString& dstUnitId, double resolution)
{
    m_applicableDefs.append(ApplicableDef { srcUnitId, dstUnitId, resolution });
}

bool MeasurementConversion::isApplicable(const QString& srcUnitId, const QString& dstUnitId) const
{
    for (const ApplicableDef& def : m_applicableDefs) {
        if (def.srcUnitId == srcUnitId && def.dstUnitId == dstUnitId)
            return true;
    }
    return false;
}

} // namespace kivo
