#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QString>
#include <QVector>
#include <qqml.h>

namespace kivo {
class DPointTableModel;

/// The QML type PointModel: a provider's points as a list for ListView and TableView, one row
/// per point in the device's order, optionally only one worksheet's. A view over a
/// kivo::DPointTableModel holding all of the provider's points: display texts, units and write
/// states are that model's; a row's value is read (and reported by the device) once a view
/// asks for its displayText.
class PointModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    /// The provider whose points the rows show: a PointProvider, or a C++ application's
    /// kivo::DPointProvider. Null (the default): no rows. The rows are built again when this
    /// or worksheet changes and whenever a PointProvider has loaded its points again.
    Q_PROPERTY(QObject* provider READ provider WRITE setProvider NOTIFY providerChanged)
    /// Shows only the points of this worksheet ("Boiler": their "Worksheet" hint, in any letter
    /// case); empty (the default): all of the provider's points.
    Q_PROPERTY(QString worksheet READ worksheet WRITE setWorksheet NOTIFY worksheetChanged)
    /// The number of rows.
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    /// As Point.online: whether the provider's values are current; false while a remote
    /// device is offline, when every row's stale role is true.
    Q_PROPERTY(bool online READ isOnline NOTIFY onlineChanged)

public:
    /// What a delegate reads of its row, each entry under the role name it starts with; the
    /// display role (display) is the external name too.
    enum Role {
        NameRole = Qt::UserRole + 1, ///< name: the point's name, as Point.name finds it
        ExternalNameRole, ///< externalName: the point's label for people
        DisplayTextRole, ///< displayText: the value as Point.displayText shows it
        DisplayValueRole, ///< displayValue: the value as Point.displayValue gives it
        UnitsRole, ///< units: the display units' label, as Point.units
        LimitsRole, ///< limits: the limits for people, as Point.limitsText
        WritableRole, ///< writable: whether the point takes writes
        WriteStateRole, ///< writeState: where the point's last write stands, a Point.WriteState
        WriteStatusRole, ///< writeStatus: the write state for people ("Waiting for the device",
                         ///< "Confirmed by the device"); for a refused write the device's
                         ///< messages; empty without a write
        InputErrorRole, ///< inputError: why the last write of the row was refused before
                        ///< anything was sent, as Point.error; empty after an accepted one
        WorksheetRole, ///< worksheet: the point's worksheet ("Worksheet" hint)
        StaleRole ///< stale: the value is the last one known of a device that is offline
    };
    Q_ENUM(Role)

    /// @cond
    explicit PointModel(QObject* parent = nullptr);
    ~PointModel() override;

    QObject* provider() const { return m_provider; }
    void setProvider(QObject* provider);
    QString worksheet() const { return m_worksheet; }
    void setWorksheet(const QString& worksheet);
    int count() const { return int(m_rows.size()); }
    bool isOnline() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;
    /// @endcond

    /// Requests a write of displayValue to the point at row, as Point.write does; true when
    /// the write was requested, false when it is refused (the reason in the row's inputError)
    /// or there is no such row.
    Q_INVOKABLE bool write(int row, const QVariant& displayValue);

Q_SIGNALS:
    /// @cond
    void providerChanged();
    void worksheetChanged();
    void countChanged();
    void onlineChanged();
    /// @endcond

private:
    void reload();
    void sourceChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void onProviderOnlineChanged();

    QPointer<QObject> m_provider;
    QString m_worksheet;
    kivo::DPointTableModel* m_source;
    // The source rows shown, in order.
    QVector<int> m_rows;
    QMetaObject::Connection m_onlineConnection;
};

} // namespace kivo
