#include <kivo/types/DPTypeTime.h>

#include "DPTypeJsonTemplates_p.h"
#include "types/DPTypeJson_p.h"

namespace kivo {

DPTypeTime::DPTypeTime(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeTime::~DPTypeTime() = default;

QVariant DPTypeTime::getDefaultValue() const
{
    return QVariant(m_default);
}

QString DPTypeTime::toJson() const
{
    JsonBuffer out;
    DPTypeJson::appendTime(out, *this);
    return out.toString();
}

void DPTypeJson::appendTime(JsonBuffer& out, const DPTypeTime& type)
{
    DPTypeJsonTemplates::time().appendFilled(out, { static_cast<int>(type.m_epoch) });
}

DPTypeTime* DPTypeTime::_init(int defaultTime, Epoch epoch)
{
    m_default = defaultTime;
    m_epoch = epoch;
    return this;
}

} // namespace kivo
