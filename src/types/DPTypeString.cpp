#include <kivo/types/DPTypeString.h>

#include "DPTypeJsonTemplates_p.h"
#include "types/DPTypeJson_p.h"

namespace kivo {

DPTypeString::DPTypeString(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeString::~DPTypeString() = default;

QVariant DPTypeString::getDefaultValue() const
{
    return QVariant(m_default);
}

QString DPTypeString::toJson() const
{
    JsonBuffer out;
    DPTypeJson::appendString(out, *this);
    return out.toString();
}

void DPTypeJson::appendString(JsonBuffer& out, const DPTypeString& type)
{
    DPTypeJsonTemplates::text().appendFilled(
        out, { type.m_default, jsonStringEscape(type.m_charSet), type.m_format, type.m_maxLen });
}

DPTypeString* DPTypeString::_init(
    const QString& defaultText, const QString& charSet, const QString& format, int maxLen)
{
    m_default = defaultText;
    m_charSet = charSet;
    m_format = format;
    m_maxLen = maxLen;
    return this;
}

} // namespace kivo
