#include "PointModel.h"

#include "PointProvider.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/models/DPointTableModel.h>

namespace kivo {

using kivo::DPointTableModel;

PointModel::PointModel(QObject* parent)
    : QAbstractListModel(parent)
    , m_source(new DPointTableModel(this))
{
    connect(m_source, &QAbstractItemModel::dataChanged, this, &PointModel::sourceChanged);
    // A point destroyed by its provider leaves the source.
    connect(m_source, &QAbstractItemModel::rowsRemoved, this, &PointModel::reload);
}

PointModel::~PointModel() = default;

void PointModel::setProvider(QObject* provider)
{
    if (provider == m_provider)
        return;
    PointProvider::follow(m_provider, provider, this, &PointModel::reload);
    const bool wasOnline = isOnline();
    disconnect(m_onlineConnection);
    m_provider = provider;
    if (auto* loading = qobject_cast<PointProvider*>(provider))
        m_onlineConnection = connect(
            loading, &PointProvider::onlineChanged, this, &PointModel::onProviderOnlineChanged);
    Q_EMIT providerChanged();
    reload();
    if (isOnline() != wasOnline)
        Q_EMIT onlineChanged();
}

bool PointModel::isOnline() const
{
    const auto* provider = qobject_cast<const PointProvider*>(m_provider);
    return !provider || provider->isOnline();
}

void PointModel::onProviderOnlineChanged()
{
    Q_EMIT onlineChanged();
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1), { StaleRole });
}

void PointModel::setWorksheet(const QString& worksheet)
{
    if (worksheet == m_worksheet)
        return;
    m_worksheet = worksheet;
    Q_EMIT worksheetChanged();
    reload();
}

void PointModel::reload()
{
    const int before = count();
    beginResetModel();
    {
        const QSignalBlocker blocker(m_source); // this model resets as a whole
        m_source->clear();
        m_source->addPoints(
            PointProvider::pointsOf(qobject_cast<kivo::DPointProvider*>(m_provider)));
    }
    m_rows.clear();
    for (int row = 0; row < m_source->rowCount(); ++row) {
        const QString worksheet
            = m_source->index(row, 0).data(kivo::DPointModelItemData::WorksheetRole).toString();
        if (m_worksheet.isEmpty() || worksheet.compare(m_worksheet, Qt::CaseInsensitive) == 0)
            m_rows.append(row);
    }
    endResetModel();
    if (count() != before)
        Q_EMIT countChanged();
}

void PointModel::sourceChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row) >= topLeft.row() && m_rows.at(row) <= bottomRight.row())
            Q_EMIT dataChanged(index(row), index(row));
    }
}

int PointModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant PointModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const int row = m_rows.at(index.row());
    const auto cell = [this, row](int column, int sourceRole) {
        return m_source->index(row, column).data(sourceRole);
    };
    const kivo::DPointDef* def = m_source->itemAt(row)->getDPointDef();
    switch (role) {
    case NameRole:
        return def ? def->objectName() : QString();
    case Qt::DisplayRole:
    case ExternalNameRole:
        return cell(DPointTableModel::NameColumn, Qt::DisplayRole);
    case DisplayTextRole:
        return cell(DPointTableModel::ValueColumn, Qt::DisplayRole);
    case DisplayValueRole:
        return cell(DPointTableModel::ValueColumn, Qt::EditRole);
    case UnitsRole:
        return cell(DPointTableModel::UnitsColumn, Qt::DisplayRole);
    case LimitsRole:
        return cell(DPointTableModel::LimitsColumn, Qt::DisplayRole);
    case WritableRole:
        return def && def->m_writable;
    case WriteStateRole:
        return cell(0, DPointTableModel::WriteStateRole);
    case WriteStatusRole:
        return cell(0, DPointTableModel::WriteStatusRole);
    case InputErrorRole:
        return cell(0, DPointTableModel::InputErrorRole);
    case WorksheetRole:
        return cell(0, kivo::DPointModelItemData::WorksheetRole);
    case StaleRole:
        return !isOnline();
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> PointModel::roleNames() const
{
    return { { Qt::DisplayRole, "display" }, { NameRole, "name" },
        { ExternalNameRole, "externalName" }, { DisplayTextRole, "displayText" },
        { DisplayValueRole, "displayValue" }, { UnitsRole, "units" }, { LimitsRole, "limits" },
        { WritableRole, "writable" }, { WriteStateRole, "writeState" },
        { WriteStatusRole, "writeStatus" }, { InputErrorRole, "inputError" },
        { WorksheetRole, "worksheet" }, { StaleRole, "stale" } };
}

bool PointModel::write(int row, const QVariant& displayValue)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    return m_source->setData(
        m_source->index(m_rows.at(row), DPointTableModel::ValueColumn), displayValue);
}

} // namespace kivo
