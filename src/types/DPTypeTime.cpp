#include <kivo/types/DPTypeTime.h>

#include "DPTypeJsonTemplates_p.h"

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
    return DPTypeJsonTemplates::time().filled({ static_cast<int>(m_epoch) });
}

DPTypeTime* DPTypeTime::_init(int defaultTime, Epoch epoch)
{
    m_default = defaultTime;
    m_epoch = epoch;
    return this;
}

} // namespace kivo
