#include <kivo/types/DPTypeEnum.h>

#include "DPTypeJsonTemplates_p.h"
#include "types/DPTypeJson_p.h"

#include <QVarLengthArray>

#include <algorithm>
#include <utility>

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
    JsonBuffer out;
    DPTypeJson::appendEnum(out, *this);
    return out.toString();
}

void DPTypeJson::appendEnum(JsonBuffer& out, const DPTypeEnum& type)
{
    const QHash<int, QString>& values = type.m_values;
    using Entry = std::pair<int, const QString*>;
    QVarLengthArray<Entry, 16> sorted;
    sorted.reserve(values.size());
    // One entry per key occurrence, each with value(key): the first of the equal keys, which
    // the table keeps next to each other (a label table filled with insertMulti has several).
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const bool repeated = !sorted.isEmpty() && sorted.last().first == it.key();
        sorted.append(Entry(it.key(), repeated ? sorted.last().second : &it.value()));
    }
    std::sort(sorted.begin(), sorted.end(),
        [](const Entry& a, const Entry& b) { return a.first < b.first; });

    const JsonTemplate& entryTemplate = DPTypeJsonTemplates::enumerationEntry();
    JsonBuffer entries;
    for (const Entry& entry : qAsConst(sorted)) {
        if (entries.size() > 0)
            entries.append(QLatin1Char(','));
        entryTemplate.appendFilled(entries, { entry.first, *entry.second });
    }
    DPTypeJsonTemplates::enumeration().appendFilled(out, { type.m_default, entries.view() });
}

DPTypeEnum* DPTypeEnum::_init(int defaultKey, const QHash<int, QString>& values)
{
    m_default = defaultKey;
    m_values = values;
    return this;
}

} // namespace kivo
