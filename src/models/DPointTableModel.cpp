#include <kivo/models/DPointTableModel.h>

#include <kivo/dictionary/DPointDef.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/points/DPointObject.h>

#include <QMetaType>

#include <utility>

namespace kivo {

DPointTableModel::DPointTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    // valueChanged carries a DPointObject*; a point reporting from another thread reaches the
    // model through a queued connection, which must be able to copy that argument.
    qRegisterMetaType<DPointObject*>();
}

DPointTableModel::~DPointTableModel() = default;

int DPointTableModel::addPoint(DPointObject* point)
{
    if (!point)
        return -1;
    const int existing = rowOfPoint(point);
    if (existing >= 0)
        return existing;
    return addItem(new DPointModelItemData(point));
}

int DPointTableModel::addPoints(QList<DPointObject*> const& points)
{
    QList<DPointObject*> fresh;
    for (DPointObject* point : points) {
        if (point && rowOfPoint(point) < 0 && !fresh.contains(point))
            fresh.append(point);
    }
    if (fresh.isEmpty())
        return 0;

    const int first = m_rows.size();
    beginInsertRows(QModelIndex(), first, first + fresh.size() - 1);
    for (DPointObject* point : fresh)
        m_rows.append(makeRow(new DPointModelItemData(point)));
    endInsertRows();
    return fresh.size();
}

int DPointTableModel::addItem(DPointModelItemData* item)
{
    if (!item)
        return -1;
    DPointObject* point = item->getDPointObject();
    if (!point || rowOfPoint(point) >= 0) {
        delete item;
        return -1;
    }
    const int row = m_rows.size();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(makeRow(item));
    endInsertRows();
    return row;
}

void DPointTableModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    const QVector<Row> rows = std::exchange(m_rows, {});
    for (Row const& row : rows)
        releaseRow(row);
    endResetModel();
}

DPointModelItemData* DPointTableModel::itemAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).item : nullptr;
}

DPointObject* DPointTableModel::pointAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).guard.data() : nullptr;
}

int DPointTableModel::rowOfPoint(DPointObject const* point) const
{
    if (!point)
        return -1;
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).guard.data() == point)
            return row;
    }
    return -1;
}

int DPointTableModel::rowCount(QModelIndex const& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int DPointTableModel::columnCount(QModelIndex const& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DPointTableModel::data(QModelIndex const& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    Row const& row = m_rows.at(index.row());
    if (row.guard.isNull())
        return QVariant();

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case DPointModelItemData::WorksheetRole:
        return row.item->data(index.column(), role);
    case DPointModelItemData::PointRole:
    case DPointModelItemData::DefinitionRole:
        return row.item->roleData(role);
    default:
        // Other roles have typed meanings (fonts, colours, sizes) that the rows do not answer.
        return QVariant();
    }
}

bool DPointTableModel::setData(QModelIndex const& index, QVariant const& value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    return m_rows.at(index.row()).item->setData(index.column(), value);
}

Qt::ItemFlags DPointTableModel::flags(QModelIndex const& index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QAbstractTableModel::flags(index);
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    Row const& row = m_rows.at(index.row());
    if (index.column() == ValueColumn && !row.guard.isNull()) {
        const DPointDef* def = row.item->getDPointDef();
        if (def && def->m_writable)
            result |= Qt::ItemIsEditable;
    }
    return result;
}

QVariant DPointTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case ValueColumn:
        return QStringLiteral("Value");
    case HintsColumn:
        return QStringLiteral("Hints");
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> DPointTableModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractTableModel::roleNames();
    names.insert(DPointModelItemData::PointRole, QByteArrayLiteral("point"));
    names.insert(DPointModelItemData::DefinitionRole, QByteArrayLiteral("definition"));
    names.insert(DPointModelItemData::WorksheetRole, QByteArrayLiteral("worksheet"));
    return names;
}

bool DPointTableModel::removeRows(int row, int count, QModelIndex const& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row > m_rows.size() - count)
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    const QVector<Row> removed = m_rows.mid(row, count);
    m_rows.remove(row, count);
    for (Row const& gone : removed)
        releaseRow(gone);
    endRemoveRows();
    return true;
}

DPointTableModel::Row DPointTableModel::makeRow(DPointModelItemData* item)
{
    DPointObject* point = item->getDPointObject();
    item->setParent(this);

    Row row;
    row.item = item;
    row.point = point;
    row.guard = point;

    // The model is the context object, so a point reporting from another thread is queued into
    // the model's thread. The row is looked up by the sender, not by the signal's argument.
    const QObject* key = point;
    connect(point, &DPointObject::valueChanged, this, [this, key]() {
        for (int r = 0; r < m_rows.size(); ++r) {
            if (m_rows.at(r).point == key && !m_rows.at(r).guard.isNull()) {
                Q_EMIT dataChanged(index(r, 0), index(r, ColumnCount - 1));
                return;
            }
        }
    });
    connect(point, &QObject::destroyed, this, &DPointTableModel::onPointDestroyed);
    return row;
}

void DPointTableModel::onPointDestroyed(QObject* object)
{
    // The pointer is only compared: the point is gone. A guard that is still set means a new
    // point was created at the same address and shown meanwhile; its row stays.
    for (int r = m_rows.size() - 1; r >= 0; --r) {
        if (m_rows.at(r).point == object && m_rows.at(r).guard.isNull())
            removeRows(r, 1);
    }
}

void DPointTableModel::releaseRow(Row const& row)
{
    if (DPointObject* point = row.guard.data())
        disconnect(point, nullptr, this, nullptr);
    delete row.item;
}

} // namespace kivo
