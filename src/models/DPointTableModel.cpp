#include <kivo/models/DPointTableModel.h>

#include "core/Qt5Values_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/checkDPointType.h>

#include <QMap>
#include <QMetaType>
#include <QStringList>

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

QString DPointTableModel::lastInputError() const
{
    return m_lastInputError;
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
        return cellData(row, index.column(), role);
    case Qt::ToolTipRole:
        if (index.column() != ValueColumn)
            return QVariant();
        return row.inputError.isEmpty() ? data(index, WriteStatusRole) : row.inputError;
    case DPointModelItemData::WorksheetRole:
        return row.item->data(WorksheetColumn, DPointModelItemData::WorksheetRole);
    case DPointModelItemData::PointRole:
    case DPointModelItemData::DefinitionRole:
        return row.item->roleData(role);
    case WriteStateRole:
        return int(row.writeState);
    case WriteStatusRole:
        switch (row.writeState) {
        case WritePending:
            return tr("Waiting for the device");
        case WriteConfirmed:
            return tr("Confirmed by the device");
        case WriteRefused:
            return row.writeStatus.isEmpty() ? tr("Refused by the device") : row.writeStatus;
        case NoWrite:
            break;
        }
        return QString();
    case InputErrorRole:
        return row.inputError;
    case RawValueRole:
        return row.guard->getCurrentValue();
    default:
        // Other roles have typed meanings (fonts, colours, sizes) that the rows do not answer.
        return QVariant();
    }
}

QVariant DPointTableModel::cellData(Row const& row, int column, int role) const
{
    if (column == NameColumn)
        return row.item->data(NameColumn, role);
    const DPointDef* def = row.item->getDPointDef();
    if (!def)
        return QVariant();
    switch (column) {
    case ValueColumn: {
        // Reading through the virtual getter makes a shown point count as read, which switches
        // on its change reporting.
        const QVariant raw = row.guard->getCurrentValue();
        if (role == Qt::EditRole)
            return DPointDisplay::displayValue(def, raw);
        return DPointDisplay::displayText(def, raw);
    }
    case UnitsColumn:
        return DPointDisplay::unitsLabel(def);
    case LimitsColumn:
        return DPointDisplay::limitsText(def);
    case WorksheetColumn:
        return def->property("Worksheet").toString();
    case LineIdColumn:
        return def->m_lineId;
    case LargeDisplayColumn:
        return def->property("LargeDisplay").toString();
    case GroupsColumn: {
        const auto groups = def->property("DisplayHints").value<QMap<QString, QString>>();
        QStringList texts;
        for (auto it = groups.constBegin(); it != groups.constEnd(); ++it)
            texts << it.key() + QStringLiteral(": ") + it.value();
        return texts.join(QStringLiteral(", "));
    }
    default:
        return QVariant();
    }
}

bool DPointTableModel::setData(QModelIndex const& index, QVariant const& value, int role)
{
    if (role != Qt::EditRole || index.column() != ValueColumn
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    Row& row = m_rows[index.row()];
    QString reason;
    const bool accepted = requestWrite(row, value, &reason);
    m_lastInputError = reason;
    if (accepted || row.inputError != reason) {
        row.inputError = reason;
        rowChanged(index.row());
    }
    return accepted;
}

bool DPointTableModel::requestWrite(Row& row, QVariant const& value, QString* reason)
{
    DPointObject* point = row.guard.data();
    const DPointDef* def = point ? point->getDPointDef() : nullptr;
    QVariant raw;
    if (def && def->m_writable)
        raw = checkDPointType(DPointDisplay::rawValue(def, value, reason), *point);
    if (reason->isEmpty())
        *reason = DPointDisplay::checkWrite(def, raw);
    if (!reason->isEmpty())
        return false;
    const QVariant current = point->getCurrentValue();
    if (Qt5Values::variantsEqual(raw, current)) {
        // Nothing to write, and a request for the value the point holds would never be
        // committed. A request for another value that is not committed yet is withdrawn.
        if (point->isPending() && !Qt5Values::variantsEqual(point->getPendingValue(), current))
            point->cancelPending();
        return true;
    }
    point->setUpdatePending(raw, true);
    row.writeState = WritePending;
    row.writeStatus.clear();
    return true;
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
        return tr("Name");
    case ValueColumn:
        return tr("Value");
    case UnitsColumn:
        return tr("Units");
    case LimitsColumn:
        return tr("Limits");
    case WorksheetColumn:
        return tr("Worksheet");
    case LineIdColumn:
        return tr("Line");
    case LargeDisplayColumn:
        return tr("Large display");
    case GroupsColumn:
        return tr("Display groups");
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
    names.insert(WriteStateRole, QByteArrayLiteral("writeState"));
    names.insert(WriteStatusRole, QByteArrayLiteral("writeStatus"));
    names.insert(InputErrorRole, QByteArrayLiteral("inputError"));
    names.insert(RawValueRole, QByteArrayLiteral("rawValue"));
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
    connect(point, &DPointObject::valueChanged, this, [this, key]() { onValueChanged(key); });
    connect(point, &DPointObject::updatePending, this, [this, key]() { onUpdatePending(key); });
    connect(point, &DPointObject::updateCompleted, this,
        [this, key](bool success) { onUpdateCompleted(key, success); });
    connect(point, &QObject::destroyed, this, &DPointTableModel::onPointDestroyed);
    // One connection per registry, however many rows use it.
    const DPointDef* def = item->getDPointDef();
    if (def && def->m_registry) {
        connect(def->m_registry, &MeasurementRegistry::displaySystemIdChanged, this,
            &DPointTableModel::onDisplaySystemChanged, Qt::UniqueConnection);
    }
    return row;
}

int DPointTableModel::rowOfSender(QObject const* point) const
{
    for (int r = 0; r < m_rows.size(); ++r) {
        if (m_rows.at(r).point == point && !m_rows.at(r).guard.isNull())
            return r;
    }
    return -1;
}

void DPointTableModel::rowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void DPointTableModel::onValueChanged(QObject const* point)
{
    const int r = rowOfSender(point);
    if (r < 0)
        return;
    Row& row = m_rows[r];
    // An answer stays shown until the point takes another value than the one answered.
    if ((row.writeState == WriteConfirmed || row.writeState == WriteRefused)
        && !Qt5Values::variantsEqual(row.guard->getCurrentValue(), row.answeredValue)) {
        row.writeState = NoWrite;
        row.writeStatus.clear();
        row.answeredValue.clear();
    }
    rowChanged(r);
}

void DPointTableModel::onUpdatePending(QObject const* point)
{
    // Emitted by a commit (still pending) and by a cancel (no longer pending); a write requested
    // past the model shows from its commit on.
    const int r = rowOfSender(point);
    if (r < 0)
        return;
    Row& row = m_rows[r];
    const WriteState state = row.guard->isPending()
        ? WritePending
        : (row.writeState == WritePending ? NoWrite : row.writeState);
    if (state != row.writeState) {
        row.writeState = state;
        row.writeStatus.clear();
        rowChanged(r);
    }
}

void DPointTableModel::onUpdateCompleted(QObject const* point, bool success)
{
    const int r = rowOfSender(point);
    if (r < 0)
        return;
    DPointObject* answered = m_rows.at(r).guard.data();
    const QString status
        = success ? QString() : DPointDisplay::statusText(answered->getUpdateStatus());
    const QVariant value = answered->getCurrentValue();
    Row& row = m_rows[r];
    row.writeState = success ? WriteConfirmed : WriteRefused;
    row.writeStatus = status;
    row.answeredValue = value;
    // No dataChanged here: setUpdateComplete always emits valueChanged next, which shows it.
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

void DPointTableModel::onDisplaySystemChanged()
{
    const QObject* registry = sender();
    int first = -1;
    int last = -1;
    for (int r = 0; r < m_rows.size(); ++r) {
        const DPointDef* def = m_rows.at(r).guard ? m_rows.at(r).item->getDPointDef() : nullptr;
        if (def && def->m_registry == registry) {
            first = first < 0 ? r : first;
            last = r;
        }
    }
    // The header titles name no units, so only the cells change.
    if (first >= 0)
        Q_EMIT dataChanged(index(first, ValueColumn), index(last, LimitsColumn));
}

void DPointTableModel::releaseRow(Row const& row)
{
    if (DPointObject* point = row.guard.data())
        disconnect(point, nullptr, this, nullptr);
    delete row.item;
}

} // namespace kivo
