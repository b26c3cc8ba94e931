#include "BareMqttClient.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <chrono>

namespace kivo {
namespace bench {

BareMqttClient::BareMqttClient()
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq)
        return;
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_int_option(m_mosq, MOSQ_OPT_RECEIVE_MAXIMUM, 1000);
    mosquitto_connect_v5_callback_set(m_mosq, &BareMqttClient::onConnect);
    mosquitto_message_v5_callback_set(m_mosq, &BareMqttClient::onMessage);
    mosquitto_publish_v5_callback_set(m_mosq, &BareMqttClient::onPublish);
    mosquitto_subscribe_v5_callback_set(m_mosq, &BareMqttClient::onSubscribe);
}

BareMqttClient::~BareMqttClient()
{
    if (!m_mosq)
        return;
    if (m_connected) {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop(m_mosq, 10, 1);
    }
    mosquitto_destroy(m_mosq);
}

bool BareMqttClient::beginConnect(int port)
{
    // An hour's keep-alive: a benchmark's client waits unserviced while others run.
    return m_mosq && mosquitto_connect(m_mosq, "127.0.0.1", port, 3600) == MOSQ_ERR_SUCCESS;
}

bool BareMqttClient::connect(int port)
{
    return beginConnect(port) && loopUntil([this] { return m_connected || m_refused; }, 10000)
        && m_connected;
}

bool BareMqttClient::loop(int timeoutMs)
{
    return mosquitto_loop(m_mosq, timeoutMs, 1) == MOSQ_ERR_SUCCESS;
}

bool BareMqttClient::loopUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (!loop(100) || std::chrono::steady_clock::now() > deadline)
            return false;
    }
    return true;
}

void BareMqttClient::subscribe(const std::vector<std::string>& filters)
{
    for (size_t start = 0; start < filters.size(); start += 1000) {
        std::vector<char*> pointers;
        for (size_t i = start; i < std::min(start + 1000, filters.size()); ++i)
            pointers.push_back(const_cast<char*>(filters[i].c_str()));
        mosquitto_subscribe_multiple(
            m_mosq, nullptr, int(pointers.size()), pointers.data(), 1, 0, nullptr);
    }
}

int BareMqttClient::publish(const std::string& topic, const std::string& payload, int qos,
    bool retain, const mosquitto_property* properties)
{
    int mid = 0;
    const int rc = mosquitto_publish_v5(
        m_mosq, &mid, topic.c_str(), int(payload.size()), payload.data(), qos, retain, properties);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void BareMqttClient::onConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*)
{
    auto* client = static_cast<BareMqttClient*>(self);
    client->m_connected = rc == 0;
    client->m_refused = rc != 0;
    if (client->m_connected && client->m_onConnect)
        client->m_onConnect();
}

void BareMqttClient::onMessage(
    mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property* properties)
{
    auto* client = static_cast<BareMqttClient*>(self);
    if (client->m_onMessage)
        client->m_onMessage(message, properties);
}

void BareMqttClient::onPublish(mosquitto*, void* self, int mid, int, const mosquitto_property*)
{
    auto* client = static_cast<BareMqttClient*>(self);
    if (client->m_onPublish)
        client->m_onPublish(mid);
}

void BareMqttClient::onSubscribe(
    mosquitto*, void* self, int, int, const int*, const mosquitto_property*)
{
    ++static_cast<BareMqttClient*>(self)->m_subacks;
}

} // namespace bench
} // namespace kivo
