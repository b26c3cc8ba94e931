#pragma once

#include <functional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

namespace kivo {
namespace bench {

/// The floor of the remote benchmarks: a libmosquitto client with nothing around it, set up as
/// MqttConnection sets up its own (MQTT 5, TCP_NODELAY, receive maximum 1000) and driven by
/// mosquitto_loop in the calling thread.
class BareMqttClient
{
public:
    using MessageHandler = std::function<void(const mosquitto_message*, const mosquitto_property*)>;

    BareMqttClient();
    ~BareMqttClient();
    BareMqttClient(const BareMqttClient&) = delete;
    BareMqttClient& operator=(const BareMqttClient&) = delete;

    /// Called for every message received, inside loop().
    void setMessageHandler(MessageHandler handler) { m_onMessage = std::move(handler); }
    /// Called with the message id of every acknowledged QoS 1 publish, inside loop().
    void setPublishHandler(std::function<void(int)> handler) { m_onPublish = std::move(handler); }
    /// Called once the broker has accepted the connection, inside loop().
    void setConnectHandler(std::function<void()> handler) { m_onConnect = std::move(handler); }

    /// Connects to 127.0.0.1:port and waits for the broker's answer; false when refused.
    bool connect(int port);
    /// Opens the socket and sends CONNECT; connected() turns true inside a later loop().
    bool beginConnect(int port);
    /// Whether the broker accepted the connection.
    bool connected() const { return m_connected; }
    /// One pass of mosquitto_loop, waiting up to timeoutMs for traffic; false on an error.
    bool loop(int timeoutMs = 1000);
    /// Loops until done() holds; false when it does not within timeoutMs.
    bool loopUntil(const std::function<bool()>& done, int timeoutMs = 60000);
    /// Subscribes at QoS 1 in requests of at most 1000 filters.
    void subscribe(const std::vector<std::string>& filters);
    /// The number of subscription requests the broker has acknowledged.
    int subscriptionsAcknowledged() const { return m_subacks; }
    /// Publishes payload on topic; the message id, or -1.
    int publish(const std::string& topic, const std::string& payload, int qos, bool retain,
        const mosquitto_property* properties = nullptr);
    /// The libmosquitto handle.
    mosquitto* handle() const { return m_mosq; }

private:
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onMessage(
        mosquitto*, void* self, const mosquitto_message*, const mosquitto_property*);
    static void onPublish(mosquitto*, void* self, int mid, int rc, const mosquitto_property*);
    static void onSubscribe(
        mosquitto*, void* self, int mid, int count, const int* granted, const mosquitto_property*);

    mosquitto* m_mosq = nullptr;
    bool m_connected = false;
    bool m_refused = false;
    int m_subacks = 0;
    MessageHandler m_onMessage;
    std::function<void(int)> m_onPublish;
    std::function<void()> m_onConnect;
};

} // namespace bench
} // namespace kivo
