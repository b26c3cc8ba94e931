#include <kivo/types/DPTypeNumber.h>

#include "DPTypeJsonTemplates_p.h"

#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <utility>

namespace kivo {

DPTypeNumber::DPTypeNumber(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeNumber::~DPTypeNumber() = default;

QVariant DPTypeNumber::getDefaultValue() const
{
    return m_default;
}

QString DPTypeNumber::toJson() const
{
    return toJson(nullptr);
}

DPTypeNumber* DPTypeNumber::_init(
    QVariant defaultValue, int min, int max, const QString& units, const QString& unitsLabel)
{
    m_default = std::move(defaultValue);
    m_min = min;
    m_max = max;
    m_units = units;
    m_unitsLabel = unitsLabel;
    return this;
}

QString DPTypeNumber::toJson(MeasurementRegistry* registry) const
{
    const QString& tmpl = DPTypeJsonTemplates::number();
    if (!registry) {
        return tmpl.arg(m_default.toInt()).arg(m_min).arg(m_max).arg(1).arg(m_unitsLabel);
    }
    const MeasurementConverter* converter = registry->getConverter(m_units);
    return tmpl.arg(m_default.toInt())
        .arg(converter->toString(QVariant(m_min)))
        .arg(converter->toString(QVariant(m_max)))
        .arg(converter->m_resolution, 0, 'g', -1)
        .arg(converter->m_label);
}

} // namespace kivo
