#include <kivo/types/DPTypeIPv4.h>

#include "DPTypeJsonTemplates_p.h"
#include "types/DPTypeJson_p.h"

namespace kivo {

DPTypeIPv4::DPTypeIPv4(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeIPv4::~DPTypeIPv4() = default;

QVariant DPTypeIPv4::getDefaultValue() const
{
    return QVariant(m_default);
}

QString DPTypeIPv4::toJson() const
{
    JsonBuffer out;
    DPTypeJson::appendIPv4(out, *this);
    return out.toString();
}

void DPTypeJson::appendIPv4(JsonBuffer& out, const DPTypeIPv4& type)
{
    DPTypeJsonTemplates::ipv4().appendFilled(out, { type.m_default });
}

DPTypeIPv4* DPTypeIPv4::_init(const QString& defaultAddress)
{
    m_default = defaultAddress;
    return this;
}

} // namespace kivo
