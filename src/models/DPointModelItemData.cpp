#include <kivo/models/DPointModelItemData.h>

#include "core/Qt5Values_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/types/DPTypeBase.h>
#include <kivo/types/DPTypeEnum.h>

#include <QLatin1Char>
#include <QString>

namespace kivo {

namespace {

const char worksheetProperty[] = "Worksheet";
const char largeDisplayProperty[] = "LargeDisplay";

} // namespace

DPointModelItemData::DPointModelItemData(DPointObject* point)
    : m_dpoint(point)
{ }

DPointModelItemData::~DPointModelItemData() = default;

int DPointModelItemData::columnCount() const
{
    return 3;
}

QVariant DPointModelItemData::data(int column, int role) const
{
    const DPointDef* def = getDPointDef();
    if (!def)
        return QVariant();

    if (column == 0)
        return QVariant(def->m_externalName);

    if (column == 1) {
        // Reading through the virtual getter makes a shown point count as read, which switches
        // on its change reporting.
        QVariant value = m_dpoint->getCurrentValue();
        const DPTypeBase* type = def->m_type;
        if (!type)
            return value;
        if (!value.isValid())
            value = type->getDefaultValue();
        if (role == Qt::EditRole)
            return value;
        if (const auto* enumType = qobject_cast<const DPTypeEnum*>(type))
            return QVariant(enumType->m_values.value(Qt5Values::toInt(value)));
        return value;
    }

    const QString worksheet = def->property(worksheetProperty).toString();
    if (role == WorksheetRole)
        return QVariant(worksheet);

    // The name comes from the virtual data() so that a subclass's name column is used.
    const QString hints = data(0, Qt::DisplayRole).toString() % QLatin1Char(';') % def->m_lineId
        % QLatin1Char(';') % def->property(largeDisplayProperty).toString() % QLatin1Char(';')
        % worksheet;
    return QVariant(hints);
}

bool DPointModelItemData::setData(int column, QVariant const& value)
{
    Q_UNUSED(column)
    if (!m_dpoint)
        return false;
    const QVariant converted = checkDPointType(value, *m_dpoint);
    if (!converted.isValid())
        return false;
    m_dpoint->setCurrentValue(converted);
    return true;
}

QVariant DPointModelItemData::roleData(int role) const
{
    switch (role) {
    case PointRole:
        return QVariant::fromValue(m_dpoint);
    case DefinitionRole:
        return QVariant::fromValue(getDPointDef());
    default:
        return QVariant();
    }
}

DPointDef* DPointModelItemData::getDPointDef() const
{
    return m_dpoint ? m_dpoint->getDPointDef() : nullptr;
}

DPointObject* DPointModelItemData::getDPointObject() const
{
    return m_dpoint;
}

} // namespace kivo
