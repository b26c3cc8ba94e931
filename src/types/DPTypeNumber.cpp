#include <kivo/types/DPTypeNumber.h>

#include "DPTypeJsonTemplates_p.h"
#include "core/NumberText_p.h"
#include "measurement/MeasurementConverter_p.h"
#include "types/DPTypeJson_p.h"

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
    JsonBuffer out;
    DPTypeJson::appendNumber(out, *this, registry);
    return out.toString();
}

void DPTypeJson::appendNumber(
    JsonBuffer& out, const DPTypeNumber& type, MeasurementRegistry* registry)
{
    const JsonTemplate& tmpl = DPTypeJsonTemplates::number();
    if (!registry) {
        tmpl.appendFilled(
            out, { type.m_default.toInt(), type.m_min, type.m_max, 1, type.m_unitsLabel });
        return;
    }
    const MeasurementConverter* converter = registry->getConverter(type.m_units);
    // The texts of converter->toString(QVariant(m_min)) and of m_max, without building them as
    // strings of their own.
    const DisplayFormat format(*converter);
    const NumberText::FixedText minText(displayNumber(format, type.m_min), format.decimals);
    const NumberText::FixedText maxText(displayNumber(format, type.m_max), format.decimals);
    tmpl.appendFilled(out,
        { type.m_default.toInt(), JsonArg::markerFree(minText.view()),
            JsonArg::markerFree(maxText.view()), converter->m_resolution, converter->m_label });
}

} // namespace kivo
