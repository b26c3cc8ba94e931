#pragma once

#include <kivo/points/DPointProvider.h>

#include <QList>
#include <QQmlParserStatus>
#include <QString>
#include <QUrl>
#include <qqml.h>

#include <memory>
#include <vector>

namespace kivo {
class DPointDictionary;
class DPointMirror;
class DPointObject;
class MeasurementRegistry;
class MqttConnection;

/// The QML type PointProvider: a kivo::DPointProvider that loads a measurement file and point
/// dictionaries and registers one live point per definition, which it owns. Also plays the
/// device for simulations and tests (report, complete). With broker and device set instead, it
/// mirrors a remote device's points over an MQTT broker (kivo::DPointMirror), files included.
class PointProvider : public kivo::DPointProvider, public QQmlParserStatus
{
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QUrl measurementFile READ measurementFile WRITE setMeasurementFile NOTIFY
            measurementFileChanged)
    Q_PROPERTY(
        QList<QUrl> dictionaries READ dictionaries WRITE setDictionaries NOTIFY dictionariesChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY statusChanged)
    Q_PROPERTY(int count READ count NOTIFY pointsChanged)
    Q_PROPERTY(
        QString displaySystem READ displaySystem WRITE setDisplaySystem NOTIFY displaySystemChanged)
    Q_PROPERTY(QString broker READ broker WRITE setBroker NOTIFY remoteChanged)
    Q_PROPERTY(QString device READ device WRITE setDevice NOTIFY remoteChanged)
    Q_PROPERTY(QString userName READ userName WRITE setUserName NOTIFY remoteChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY remoteChanged)
    Q_PROPERTY(QUrl caFile READ caFile WRITE setCaFile NOTIFY remoteChanged)
    Q_PROPERTY(bool online READ isOnline NOTIFY onlineChanged)

public:
    /// Connecting: waiting for the broker or the device's files; Offline: the remote device's
    /// points are loaded but the device (or the broker) is not reachable.
    enum Status { Null, Ready, Error, Connecting, Offline };
    Q_ENUM(Status)

    explicit PointProvider(QObject* parent = nullptr);
    ~PointProvider() override;

    QUrl measurementFile() const { return m_measurementFile; }
    void setMeasurementFile(const QUrl& url);
    QList<QUrl> dictionaries() const { return m_dictionaries; }
    void setDictionaries(const QList<QUrl>& urls);
    Status status() const { return m_status; }
    QString errorString() const { return m_errorString; }
    /// Number of points loaded.
    int count() const { return int(m_points.size()); }
    /// The measurement system the points are shown in ("msys.us" unless chosen); kept across
    /// reloads.
    QString displaySystem() const;
    void setDisplaySystem(const QString& id);
    /// The broker of a remote device: mqtt://HOST[:PORT], mqtts://HOST[:PORT] or a local
    /// socket's path. With device, replaces measurementFile and dictionaries.
    QString broker() const { return m_broker; }
    void setBroker(const QString& url);
    /// The remote device's name, as its publisher shares it.
    QString device() const { return m_device; }
    void setDevice(const QString& device);
    QString userName() const { return m_userName; }
    void setUserName(const QString& userName);
    /// Written only: the password cannot be read back.
    QString password() const { return QString(); }
    void setPassword(const QString& password);
    QUrl caFile() const { return m_caFile; }
    void setCaFile(const QUrl& url);
    /// Whether the points' values are current: always for local files; for a remote device,
    /// whether it is online and the broker reachable.
    bool isOnline() const;
    /// Whether the points are a remote device's.
    bool isRemote() const { return !m_broker.isEmpty() && !m_device.isEmpty(); }

    /// Sets the current value of the point called name (any case) as the device reports it;
    /// false when there is no such point or the value does not fit its type.
    Q_INVOKABLE bool report(const QString& name, const QVariant& rawValue);
    /// Answers the point's write with rawValue (undefined: the requested value): an empty code
    /// accepts it, any other refuses it with a status of that code and message.
    Q_INVOKABLE bool complete(const QString& name, const QVariant& rawValue,
        const QString& code = QString(), const QString& message = QString());

    /// Moves receiver's following from old to provider: when provider is a PointProvider,
    /// reload runs whenever it has loaded its points again. (A C++ application's provider
    /// registers its points before it is given to QML.)
    template<typename Receiver>
    static void follow(
        QObject* old, QObject* provider, Receiver* receiver, void (Receiver::*reload)())
    {
        if (auto* loading = qobject_cast<PointProvider*>(old))
            disconnect(loading, nullptr, receiver, nullptr);
        if (auto* loading = qobject_cast<PointProvider*>(provider))
            connect(loading, &PointProvider::pointsChanged, receiver, reload);
    }

    void classBegin() override { }
    void componentComplete() override;

    /// The registered points of provider, dictionary by dictionary in the device's (PXC id)
    /// order; for any kivo::DPointProvider.
    static QList<kivo::DPointObject*> pointsOf(kivo::DPointProvider* provider);

Q_SIGNALS:
    void measurementFileChanged();
    void dictionariesChanged();
    void statusChanged();
    /// The points were loaded again (or dropped).
    void pointsChanged();
    void displaySystemChanged();
    void remoteChanged();
    void onlineChanged();

private:
    void reload();
    void reloadRemote();
    void remoteSettingChanged();
    void remoteReady();
    void updateRemoteStatus();
    void notifyOnline();
    void setStatus(Status status, const QString& error);
    void unload();
    QString localPath(const QUrl& url) const;
    kivo::DPointObject* valuePoint(const QString& name, QVariant* value) const;

    QUrl m_measurementFile;
    QList<QUrl> m_dictionaries;
    QString m_displaySystem;
    QString m_broker;
    QString m_device;
    QString m_userName;
    QString m_password;
    QUrl m_caFile;
    bool m_reportedOnline = true;
    Status m_status = Null;
    QString m_errorString;
    bool m_complete = false;
    // Destroyed in reverse: the points first, then the dictionaries, then the registry.
    std::unique_ptr<kivo::MeasurementRegistry> m_registry;
    std::vector<std::unique_ptr<kivo::DPointDictionary>> m_dicts;
    QList<kivo::DPointObject*> m_points;
    // A remote device's link; the mirror goes before the connection it uses.
    std::unique_ptr<kivo::MqttConnection> m_connection;
    std::unique_ptr<kivo::DPointMirror> m_mirror;
};

} // namespace kivo
