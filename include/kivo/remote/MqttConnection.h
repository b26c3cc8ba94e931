#pragma once

#include <kivo/kivoremote_export.h>
#include <kivo/remote/MqttMessage.h>

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace kivo {

class MqttConnectionPrivate;

/// A connection to one MQTT 5 broker, through libmosquitto, driven by the event loop of the
/// thread the object lives in (a socket notifier and a timer; no thread of its own). Once
/// opened it stays open: a lost connection is re-established with growing delays, the
/// subscriptions are renewed, until close(). Every function must be called from the object's
/// thread. The password is never written to any log.
class KIVOREMOTE_EXPORT MqttConnection : public QObject
{
    Q_OBJECT
public:
    /// The state of the connection.
    enum State {
        Disconnected, ///< not open, or closed
        Connecting, ///< open, waiting for the broker (also between reconnection attempts)
        Connected ///< the broker accepted the connection
    };
    Q_ENUM(State)

    /// A closed connection without a broker address.
    explicit MqttConnection(QObject* parent = nullptr);
    ~MqttConnection() override;

    /// Takes the broker's address: "mqtt://host[:port]" (port 1883 by default),
    /// "mqtts://host[:port]" (TLS, 8883 by default) or a local socket, as an absolute path or
    /// "unix:///path". False, and nothing changed, for any other text.
    bool setBrokerUrl(const QString& url);
    /// The address last accepted by setBrokerUrl; empty at first.
    QString brokerUrl() const;
    /// The client identifier; without one (the default) the connection makes a unique one.
    void setClientId(const QString& clientId);
    /// The client identifier used for the next connection.
    QString clientId() const;
    /// The user name and password sent when connecting; empty for none.
    void setCredentials(const QString& userName, const QString& password);
    /// The user name; the password cannot be read back.
    QString userName() const;
    /// The certificate authorities that a TLS broker's certificate must come from (PEM file).
    void setCaFile(const QString& path);
    /// The client's own certificate and key (PEM files) for brokers that ask for one.
    void setClientCertificate(const QString& certificateFile, const QString& keyFile);
    /// Seconds between keep-alive exchanges (default 30; at least 5): the broker declares the
    /// client lost, and publishes its will, after 1.5 times as long without a word.
    void setKeepAlive(int seconds);
    /// The keep-alive interval in seconds.
    int keepAlive() const;
    /// The first and the longest delay between reconnection attempts (default 500 ms and
    /// 30 s); the delay doubles after each failed attempt.
    void setReconnectDelay(int firstMs, int maximumMs);
    /// The largest message payload accepted (default 64 MiB): a larger one that arrives is
    /// dropped with errorOccurred.
    void setMaximumPayloadSize(int bytes);
    /// The largest payload accepted, in bytes.
    int maximumPayloadSize() const;
    /// The message the broker publishes when the connection is lost without close(); takes
    /// effect at the next connection. An empty topic clears it.
    void setWill(const MqttMessage& will);

    /// Starts connecting (and keeps reconnecting) with the settings above; returns false, with
    /// the reason in errorString(), when no usable broker address is set or libmosquitto
    /// refuses the settings. Returns true at once when already open.
    bool open();
    /// Disconnects in order (the broker does not publish the will) after sending what is queued,
    /// and stops reconnecting; emits disconnected when it was connected.
    void close();
    /// Where the connection stands.
    State state() const;
    /// Whether the broker has accepted the connection and it has not been lost since.
    bool isConnected() const;
    /// Why the last attempt failed or the connection was lost; empty while none has.
    QString errorString() const;

    /// Subscribes to filter at qos, now when connected and again after every reconnection;
    /// false for a filter that MQTT does not allow.
    bool subscribe(const QString& filter, int qos = 1);
    /// Subscribes to every filter in one request (retained messages arrive in request order on
    /// common brokers); false, and none subscribed, when one is not allowed.
    bool subscribe(const QStringList& filters, int qos = 1);
    /// Drops the subscription to filter; false when there was none.
    bool unsubscribe(const QString& filter);
    /// Whether filter is among the subscriptions kept.
    bool isSubscribed(const QString& filter) const;
    /// Publishes message; returns its message id (positive; MQTT's own for QoS 1 and 2), or -1
    /// when not connected or the message cannot be sent (a topic that MQTT does not allow).
    /// published() reports the broker's acknowledgement of QoS 1 and 2 messages.
    int publish(const MqttMessage& message);
    /// Publishes payload on topic; as publish(MqttMessage).
    int publish(const QString& topic, const QByteArray& payload, int qos = 1, bool retain = false);

Q_SIGNALS:
    /// The broker accepted the connection (also after every reconnection).
    void connected();
    /// The connection, once accepted, ended: lost (reason says how) or closed. An attempt the
    /// broker refuses is reported by errorOccurred with the broker's reason ("The broker
    /// refused the connection: Not authorized").
    void disconnected(const QString& reason);
    /// state() changed.
    void stateChanged(kivo::MqttConnection::State state);
    /// A message arrived on a subscription.
    void messageReceived(const kivo::MqttMessage& message);
    /// The broker acknowledged message messageId with reasonCode (0 or 16 "No matching
    /// subscribers" mean delivered or accepted; 128 and above refused), reason its text.
    void published(int messageId, int reasonCode, const QString& reason);
    /// Something went wrong that the connection handles itself (a failed attempt, a message
    /// dropped); text says what.
    void errorOccurred(const QString& text);

private:
    friend class MqttConnectionPrivate;
    std::unique_ptr<MqttConnectionPrivate> d;
};

} // namespace kivo
