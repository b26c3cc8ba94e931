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
    /// The measurement file (units, conversions and display systems) the points' numbers are
    /// shown with; a url relative to the QML file, a local file or a qrc: url. Empty (the
    /// default): no conversions, numbers are shown in the units the dictionaries give them.
    /// Loaded, with the dictionaries, when the component is complete and again whenever one of
    /// them changes.
    Q_PROPERTY(QUrl measurementFile READ measurementFile WRITE setMeasurementFile NOTIFY
            measurementFileChanged)
    /// The point dictionaries whose definitions become points, as urls like measurementFile's,
    /// loaded in this order. If any of them cannot be loaded, there are no points at all and
    /// status is Error.
    Q_PROPERTY(
        QList<QUrl> dictionaries READ dictionaries WRITE setDictionaries NOTIFY dictionariesChanged)
    /// How loading went: PointProvider.Null, Ready, Error, Connecting or Offline.
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    /// Why status is Error ("Cannot load the dictionary boiler.xml: ..."); while a remote device
    /// is Connecting or Offline, why the broker cannot be reached; empty otherwise.
    Q_PROPERTY(QString errorString READ errorString NOTIFY statusChanged)
    /// The number of points loaded: 0 before loading, on an error, and until a remote device's
    /// files have arrived.
    Q_PROPERTY(int count READ count NOTIFY pointsChanged)
    /// The measurement system every Point and PointModel of these points shows: "msys.us"
    /// (the default; °F, psi) or another of the measurement file ("msys.si": °C, bar, l/min).
    /// May change at any time, and is kept when the points are loaded again; empty returns to
    /// the default.
    Q_PROPERTY(
        QString displaySystem READ displaySystem WRITE setDisplaySystem NOTIFY displaySystemChanged)
    /// The broker of a remote device: mqtt://HOST[:PORT], mqtts://HOST[:PORT] (TLS) or a local
    /// socket (an absolute path or unix:///PATH). With device set too, the provider mirrors
    /// that device's points, files included, instead of loading measurementFile and
    /// dictionaries; an address it cannot use, or a module built without the MQTT link, is an
    /// Error. A change of broker, device, userName, password or caFile loads the points again.
    Q_PROPERTY(QString broker READ broker WRITE setBroker NOTIFY remoteChanged)
    /// The remote device's name, as its publisher (kivo::DPointPublisher) shares it
    /// ("boiler1"); empty (the default): no remote device.
    Q_PROPERTY(QString device READ device WRITE setDevice NOTIFY remoteChanged)
    /// The user name the broker is given; empty (the default) for none.
    Q_PROPERTY(QString userName READ userName WRITE setUserName NOTIFY remoteChanged)
    /// The password the broker is given; written only: it reads as an empty string.
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY remoteChanged)
    /// The certificate authorities (a PEM file, url like measurementFile's) that an mqtts
    /// broker's certificate must come from; empty (the default): the system's.
    Q_PROPERTY(QUrl caFile READ caFile WRITE setCaFile NOTIFY remoteChanged)
    /// Whether the points' values are current: always for local files; for a remote device,
    /// whether it is online and the broker reachable.
    Q_PROPERTY(bool online READ isOnline NOTIFY onlineChanged)

public:
    /// How loading went.
    enum Status {
        Null, ///< nothing to load: no files, and no remote device
        Ready, ///< the points are loaded (a remote device's: the device is online)
        Error, ///< a file could not be loaded (then there are no points), or the remote device
               ///< cannot be mirrored; errorString says why
        Connecting, ///< a remote device: waiting for the broker or the device's files
        Offline ///< a remote device's points are loaded, but the device (or the broker) is not
                ///< reachable: the values are the last ones known
    };
    Q_ENUM(Status)

    /// @cond
    explicit PointProvider(QObject* parent = nullptr);
    ~PointProvider() override;

    QUrl measurementFile() const { return m_measurementFile; }
    void setMeasurementFile(const QUrl& url);
    QList<QUrl> dictionaries() const { return m_dictionaries; }
    void setDictionaries(const QList<QUrl>& urls);
    Status status() const { return m_status; }
    QString errorString() const { return m_errorString; }
    int count() const { return int(m_points.size()); }
    QString displaySystem() const;
    void setDisplaySystem(const QString& id);
    QString broker() const { return m_broker; }
    void setBroker(const QString& url);
    QString device() const { return m_device; }
    void setDevice(const QString& device);
    QString userName() const { return m_userName; }
    void setUserName(const QString& userName);
    QString password() const { return QString(); }
    void setPassword(const QString& password);
    QUrl caFile() const { return m_caFile; }
    void setCaFile(const QUrl& url);
    bool isOnline() const;
    /// Whether the points are a remote device's.
    bool isRemote() const { return !m_broker.isEmpty() && !m_device.isEmpty(); }
    /// @endcond

    /// Plays the device: sets the current value of the point called name (any letter case) as
    /// the device would report it. rawValue is unconverted, as Point.value shows it; a
    /// JavaScript number is rounded to a whole one for an integer point. For simulations, tests
    /// and designers without a device. False when there is no such point or the value does not
    /// fit its type.
    Q_INVOKABLE bool report(const QString& name, const QVariant& rawValue);
    /// Plays the device: answers the pending write of the point called name with rawValue
    /// (undefined: the value requested). An empty code accepts it (writeState Confirmed); any
    /// other refuses it with a status of that code and message (writeState Refused,
    /// statusText the message). False when there is no such point.
    Q_INVOKABLE bool complete(const QString& name, const QVariant& rawValue,
        const QString& code = QString(), const QString& message = QString());

    /// @cond
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
    /// @endcond

Q_SIGNALS:
    /// @cond
    void measurementFileChanged();
    void dictionariesChanged();
    /// @endcond

    /// status or errorString changed.
    void statusChanged();
    /// The points were loaded again, or dropped: count may have changed, and every Point and
    /// PointModel of this provider looks its points up again.
    void pointsChanged();

    /// @cond
    void displaySystemChanged();
    /// @endcond

    /// broker, device, userName, password or caFile changed.
    void remoteChanged();

    /// @cond
    void onlineChanged();
    /// @endcond

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
