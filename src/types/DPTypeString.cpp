#include <kivo/types/DPTypeString.h>

#include "DPTypeJsonTemplates_p.h"

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
    return DPTypeJsonTemplates::text().filled(
        { m_default, jsonStringEscape(m_charSet), m_format, m_maxLen });
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
