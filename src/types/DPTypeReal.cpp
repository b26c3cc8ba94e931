#include <kivo/types/DPTypeReal.h>

#include "DPTypeJsonTemplates_p.h"

#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>

namespace kivo {

DPTypeReal::DPTypeReal(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeReal::~DPTypeReal() = default;

QVariant DPTypeReal::getDefaultValue() const
{
    return m_default;
}

QString DPTypeReal::toJson() const
{
    return toJson(nullptr);
}

DPTypeReal* DPTypeReal::_init(const QVariant& defaultValue, double min, double max,
    const QString& units, const QString& unitsLabel)
{
    m_default = defaultValue;
    m_min = min;
    m_max = max;
    m_units = units;
    m_unitsLabel = unitsLabel;
    return this;
}

double DPTypeReal::getDefaultNumber() const
{
    const double value = m_default.toReal(&m_resultState);
    return m_resultState ? value : qSNaN();
}

bool DPTypeReal::getResultState() const
{
    return m_resultState;
}

double DPTypeReal::getMinNumber() const
{
    return m_min;
}

double DPTypeReal::getMaxNumber() const
{
    return m_max;
}

const QString& DPTypeReal::getUnits() const
{
    return m_units;
}

const QString& DPTypeReal::getUnitsLabel() const
{
    return m_unitsLabel;
}

void DPTypeReal::setUnits(QString& units)
{
    m_units = units;
}

void DPTypeReal::setUnitsLabel(QString& label)
{
    m_unitsLabel = label;
}

QString DPTypeReal::toJson(MeasurementRegistry* registry) const
{
    double defaultNumber = m_default.toReal(&m_resultState);
    if (!m_resultState)
        defaultNumber = 0.0;
    const JsonTemplate& tmpl = DPTypeJsonTemplates::real();
    if (!registry)
        return tmpl.filled({ defaultNumber, m_min, m_max, 1, m_unitsLabel });
    const MeasurementConverter* converter = registry->getConverter(m_units);
    return tmpl.filled({ defaultNumber, converter->toString(QVariant(m_min)),
        converter->toString(QVariant(m_max)), converter->m_resolution, converter->m_label });
}

} // namespace kivo
