#include <kivo/types/DPTypeEnum.h>

#include "DPTypeJsonTemplates_p.h"

#include <algorithm>

namespace kivo {

DPTypeEnum::DPTypeEnum(QObject* parent)
    : DPTypeBase(parent)
{ }

DPTypeEnum::~DPTypeEnum() = default;

QVariant DPTypeEnum::getDefaultValue() const
{
    return QVariant(m_default);
}

QString DPTypeEnum::toJson() const
{
    QList<int> keys = m_values.keys();
    std::sort(keys.begin(), keys.end());

    const QString& entryTemplate = DPTypeJsonTemplates::enumerationEntry();
    QString entries;
    entries.reserve(keys.size() * 32);
    for (const int key : qAsConst(keys)) {
        if (!entries.isEmpty())
            entries += QLatin1Char(',');
        entries += entryTemplate.arg(key).arg(m_values.value(key));
    }
    return DPTypeJsonTemplates::enumeration().arg(m_default).arg(entries);
}

DPTypeEnum* DPTypeEnum::_init(int defaultKey, const QHash<int, QString>& values)
{
    m_default = defaultKey;
    m_values = values;
    return this;
}

} // namespace kivo
