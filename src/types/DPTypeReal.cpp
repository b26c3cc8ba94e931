#include <kivo/types/DPTypeReal.h>

#include "DPTypeJsonTemplates_p.h"
#include "core/NumberText_p.h"
#include "types/DPTypeJson_p.h"

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
    JsonBuffer out;
    DPTypeJson::appendReal(out, *this, registry);
    return out.toString();
}

void DPTypeJson::appendReal(JsonBuffer& out, const DPTypeReal& type, MeasurementRegistry* registry)
{
    // A loaded default is the text of the dictionary; the plain decimals are read without
    // QString::toDouble's locale machinery, to the same number.
    double defaultNumber = 0.0;
    if (type.m_default.userType() == QMetaType::QString
        && NumberText::readDecimal(
            *static_cast<const QString*>(type.m_default.constData()), &defaultNumber)) {
        type.m_resultState = true;
    } else {
        defaultNumber = type.m_default.toReal(&type.m_resultState);
        if (!type.m_resultState)
            defaultNumber = 0.0;
    }
    const JsonTemplate& tmpl = DPTypeJsonTemplates::real();
    if (!registry) {
        tmpl.appendFilled(out, { defaultNumber, type.m_min, type.m_max, 1, type.m_unitsLabel });
        return;
    }
    const MeasurementConverter* converter = registry->getConverter(type.m_units);
    tmpl.appendFilled(out,
        { defaultNumber, converter->toString(QVariant(type.m_min)),
            converter->toString(QVariant(type.m_max)), converter->m_resolution,
            converter->m_label });
}

} // namespace kivo
