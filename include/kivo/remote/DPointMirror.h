#pragma once

#include <kivo/kivoremote_export.h>

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace kivo {

class DPointDictionary;
class DPointMirrorPrivate;
class DPointProvider;
class MeasurementRegistry;
class MqttConnection;

/// The panel side of a remote link: makes the points of a device that a DPointPublisher shares
/// on the broker local. Reads the device's measurement file and dictionaries from the broker,
/// loads them, registers one point per definition with the provider, and keeps the points
/// current: a point's value topic is subscribed when its change reporting is switched on
/// (covEnabled(true), its first read) and dropped when it is switched off. A local write
/// (setUpdatePending, commit) becomes a request to the device, whose answer completes it; a
/// write is never left pending (see setWriteTimeout). The device's "$state" sets the
/// provider's connection state. Owns the registry and dictionaries it loads; the points belong
/// to the provider. Owns neither the connection nor the provider; both must outlive it. Lives
/// in the connection's thread; the points may be read and written from any thread.
class KIVOREMOTE_EXPORT DPointMirror : public QObject
{
    Q_OBJECT
public:
    /// How far the mirror got.
    enum Status {
        Idle, ///< not started
        Loading, ///< waiting for the device's files
        Ready, ///< the files are loaded and the points registered
        Error ///< a file from the broker could not be loaded (see errorString)
    };
    Q_ENUM(Status)

    /// A mirror of device's points into provider over connection.
    DPointMirror(MqttConnection* connection, DPointProvider* provider, const QString& device,
        QObject* parent = nullptr);
    ~DPointMirror() override;

    /// The first topic level (default "kivo"); takes effect at start().
    void setPrefix(const QString& prefix);
    /// The first topic level.
    QString prefix() const;
    /// The device name given to the constructor.
    QString device() const;
    /// How long a write waits for the device's answer (default 10000 ms; also the request's
    /// message expiry, rounded up to whole seconds) before it completes as refused.
    void setWriteTimeout(int ms);
    /// The write timeout in milliseconds.
    int writeTimeout() const;

    /// Subscribes to the device's state and files, opening the connection when it is not open;
    /// false when the device name is not valid or the connection cannot be opened.
    bool start();
    /// Drops the subscriptions and completes every pending write as refused; the points stay
    /// registered with their last values.
    void stop();
    /// Where the mirror stands.
    Status status() const;
    /// Why the last file from the broker could not be loaded; empty when none failed.
    QString errorString() const;
    /// Whether the device says it is online (its "$state" is "online") and the broker is
    /// reachable.
    bool isDeviceOnline() const;
    /// The registry loaded from the device's measurement file; null before it arrived.
    MeasurementRegistry* registry() const;
    /// The dictionaries loaded from the device, in name order.
    QList<DPointDictionary*> dictionaries() const;
    /// The number of value topics currently subscribed.
    int subscribedPointCount() const;

Q_SIGNALS:
    /// status() changed.
    void statusChanged(kivo::DPointMirror::Status status);
    /// The device's files are loaded and every point is registered (again, after a file
    /// changed).
    void ready();
    /// The device came online or went offline (also when the broker became unreachable).
    void deviceOnlineChanged(bool online);
    /// Something from the broker that the mirror passed over: a value that does not fit its
    /// point, an answer it cannot read, a file that does not load; text says what.
    void warning(const QString& text);

private:
    friend class DPointMirrorPrivate;
    std::unique_ptr<DPointMirrorPrivate> d;
};

} // namespace kivo
