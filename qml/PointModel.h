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
    Q_PROPERTY(QObject* provider READ provider WRITE setProvider NOTIFY providerChanged)
    Q_PROPERTY(QString worksheet READ worksheet WRITE setWorksheet NOTIFY worksheetChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool online READ isOnline NOTIFY onlineChanged)

public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        ExternalNameRole,
        DisplayTextRole,
        DisplayValueRole,
        UnitsRole,
        LimitsRole,
        WritableRole,
        WriteStateRole,
        WriteStatusRole,
        InputErrorRole,
        WorksheetRole,
        StaleRole ///< the value is the last one known of a device that is offline
    };
    Q_ENUM(Role)

    explicit PointModel(QObject* parent = nullptr);
    ~PointModel() override;

    QObject* provider() const { return m_provider; }
    void setProvider(QObject* provider);
    QString worksheet() const { return m_worksheet; }
    void setWorksheet(const QString& worksheet);
    int count() const { return int(m_rows.size()); }
    /// As Point.online: whether the provider's values are current.
    bool isOnline() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// Requests a write of displayValue to the point at row, as Point.write does; false when
    /// refused (the reason in the row's inputError).
    Q_INVOKABLE bool write(int row, const QVariant& displayValue);

Q_SIGNALS:
    void providerChanged();
    void worksheetChanged();
    void countChanged();
    void onlineChanged();

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
