#include <kivo/ModelItemData.h>

namespace kivo {

ModelItemData::ModelItemData() = default;

ModelItemData::~ModelItemData() = default;

void ModelItemData::setColumnCount(int count)
{
    Q_UNUSED(count)
}

int ModelItemData::columnCount() const
{
    return 0;
}

QVariant ModelItemData::data(int column, int role) const
{
    Q_UNUSED(column)
    Q_UNUSED(role)
    return QVariant();
}

bool ModelItemData::setData(int column, const QVariant& value)
{
    Q_UNUSED(column)
    Q_UNUSED(value)
    return false;
}

QVariant ModelItemData::roleData(int role) const
{
    Q_UNUSED(role)
    return QVariant();
}

} // namespace kivo
