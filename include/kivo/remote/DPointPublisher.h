#pragma once

#include <kivo/kivoremote_export.h>

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace kivo {

class DPointProvider;
class DPointPublisherPrivate;
class MqttConnection;

/// The device side of a remote link: shares a provider's points, with the measurement file and
/// the dictionary files they come from, on an MQTT broker under "<prefix>/<device>/", and takes
/// write requests for them from panels. Topics: "$state" ("online"/"offline", also the
/// connection's will), "$units", "$dict/<name>" (the files' bytes), "p/<point>" (the value,
/// retained) and "p/<point>/set" (requests, answered on their MQTT 5 response topic). Owns
/// neither the connection nor the provider; both must outlive it. Lives in the thread of the
/// connection; the points may be reported from any thread.
class KIVOREMOTE_EXPORT DPointPublisher : public QObject
{
    Q_OBJECT
public:
    /// A publisher of provider's points as device over connection.
    DPointPublisher(MqttConnection* connection, DPointProvider* provider, const QString& device,
        QObject* parent = nullptr);
    ~DPointPublisher() override;

    /// Whether name can be a device name: letters, digits, '-' and '_', at least one.
    static bool isValidDeviceName(const QString& name);
    /// Whether name can be one topic level: not empty, and without '/', '+', '#' or NUL.
    static bool isValidTopicLevel(const QString& name);

    /// The first topic level (default "kivo"); takes effect at start().
    void setPrefix(const QString& prefix);
    /// The first topic level.
    QString prefix() const;
    /// The device name given to the constructor.
    QString device() const;
    /// The bytes published as "$units": the measurement file the provider's units come from.
    void setUnitsFile(const QByteArray& contents);
    /// The bytes published as "$dict/<name>": the file a provider's dictionary was loaded from.
    void addDictionaryFile(const QString& name, const QByteArray& contents);

    /// Publishes Home Assistant MQTT device discovery under discoveryPrefix (Home Assistant's
    /// default is "homeassistant"; empty, the default, publishes none): one retained
    /// configuration "<discoveryPrefix>/device/<prefix>_<device>/config" with a component per
    /// point (sensor, number, select, text or binary sensor by type and access) that reads the
    /// value payloads and writes by display text. Takes effect at start().
    void setHomeAssistantDiscovery(const QString& discoveryPrefix);
    /// The discovery prefix; empty when no discovery is published.
    QString homeAssistantDiscovery() const;

    /// Sets the connection's will ("offline" on "$state"), opens it when it is not, and from
    /// then on, at every connection: publishes the files, every point of the provider that has
    /// a value (points registered later are published at the next connection), "online", and
    /// takes write requests. False when the device name is not valid or the connection cannot
    /// be opened (the reason goes to warning).
    bool start();
    /// Publishes "offline", stops taking requests and closes the connection in order. With
    /// clearRetained, removes the retained files, values and Home Assistant discovery from the
    /// broker first.
    void stop(bool clearRetained = false);
    /// Whether start() succeeded and stop() has not been called since.
    bool isStarted() const;
    /// The full topic of level below "<prefix>/<device>/", such as "p/supplytemp".
    QString topic(const QString& level) const;

Q_SIGNALS:
    /// A point or request that is not published or refused for a reason the panel cannot see:
    /// a point name that cannot be a topic level, a request that is not understood.
    void warning(const QString& text);

private:
    friend class DPointPublisherPrivate;
    std::unique_ptr<DPointPublisherPrivate> d;
};

} // namespace kivo
