#include <kivo/remote/MqttConnection.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QVector>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>

namespace kivo {

namespace {

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        qRegisterMetaType<kivo::MqttMessage>();
        qRegisterMetaType<kivo::MqttConnection::State>();
    });
}

QString reasonText(int reasonCode)
{
    return QString::fromUtf8(mosquitto_reason_string(reasonCode));
}

// libmosquitto's error codes as text: MOSQ_ERR_ERRNO stands for the system's errno.
QString errorText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

// libmosquitto's callbacks run inside its loop functions; they only record what happened. The
// signals are emitted once the loop function has returned, so that a slot may call any function
// of the connection, close it or delete it.
class MqttConnectionPrivate
{
public:
    struct Event
    {
        enum Kind { StateChanged, Connected, Disconnected, Message, Published, Error } kind;
        MqttMessage message;
        int id = 0;
        int code = 0;
        QString text;
    };

    explicit MqttConnectionPrivate(MqttConnection* connection)
        : q(connection)
    {
        initialiseLibrary();
        misc.setInterval(1000);
        QObject::connect(&misc, &QTimer::timeout, q, [this] { onMiscTimer(); });
        retry.setSingleShot(true);
        QObject::connect(&retry, &QTimer::timeout, q, [this] {
            attempt();
            dispatch();
        });
    }

    ~MqttConnectionPrivate()
    {
        dropNotifiers();
        if (mosq)
            mosquitto_destroy(mosq);
    }

    bool createClient();
    void attempt();
    void connectionLost(const QString& reason);
    void scheduleRetry();
    void setState(MqttConnection::State newState);
    void createNotifiers();
    void dropNotifiers();
    void updateWriteNotifier();
    void onReadable();
    void onWritable();
    void onMiscTimer();
    void handleLoopResult(int rc);
    void dispatch();
    void resubscribe();
    void flush(int timeoutMs);

    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onMessage(
        mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props);
    static void onPublish(mosquitto*, void* self, int mid, int rc, const mosquitto_property*);

    MqttConnection* q;
    mosquitto* mosq = nullptr;
    QString url;
    QString host;
    int port = 0;
    bool tls = false;
    QString clientId;
    QString userName;
    QString password;
    QString caFile;
    QString certFile;
    QString keyFile;
    int keepAlive = 30;
    int firstDelay = 500;
    int maximumDelay = 30000;
    int delay = 500;
    int maximumPayload = 64 * 1024 * 1024;
    MqttMessage will;
    bool settingsChanged = true;

    bool opened = false;
    MqttConnection::State state = MqttConnection::Disconnected;
    QString error;
    QString refusal; // the broker's reason for refusing the last connection attempt
    // Renewed after a reconnection in the order they were made: a mirror asks for a device's
    // files before its state, and retained messages come back in the order of the requests.
    struct Subscription
    {
        int qos = 1;
        quint64 order = 0;
    };
    QHash<QString, Subscription> subscriptions;
    quint64 nextOrder = 0;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    QTimer misc;
    QTimer retry;
    QElapsedTimer attemptTimer;
    QVector<Event> events;
    int unacknowledged = 0; // QoS 1 and 2 messages published and not yet acknowledged
    bool dispatching = false;
};

bool MqttConnectionPrivate::createClient()
{
    if (mosq && !settingsChanged)
        return true;
    dropNotifiers();
    if (mosq)
        mosquitto_destroy(mosq);
    if (clientId.isEmpty())
        clientId = QStringLiteral("kivo-")
            + QUuid::createUuid().toString().mid(1, 18).remove(QLatin1Char('-'));
    mosq = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!mosq) {
        error = MqttConnection::tr("libmosquitto cannot create a client: %1")
                    .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_int_option(mosq, MOSQ_OPT_RECEIVE_MAXIMUM, 1000);
    mosquitto_connect_v5_callback_set(mosq, &MqttConnectionPrivate::onConnect);
    mosquitto_disconnect_v5_callback_set(mosq, &MqttConnectionPrivate::onDisconnect);
    mosquitto_message_v5_callback_set(mosq, &MqttConnectionPrivate::onMessage);
    mosquitto_publish_v5_callback_set(mosq, &MqttConnectionPrivate::onPublish);
    int rc = MOSQ_ERR_SUCCESS;
    if (!userName.isEmpty() || !password.isEmpty()) {
        rc = mosquitto_username_pw_set(mosq,
            userName.isEmpty() ? nullptr : userName.toUtf8().constData(),
            password.isEmpty() ? nullptr : password.toUtf8().constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && tls) {
        const QByteArray ca = caFile.toLocal8Bit();
        const QByteArray cert = certFile.toLocal8Bit();
        const QByteArray key = keyFile.toLocal8Bit();
        rc = mosquitto_tls_set(mosq, ca.isEmpty() ? nullptr : ca.constData(), nullptr,
            cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(),
            nullptr);
        if (rc == MOSQ_ERR_INVAL && ca.isEmpty())
            rc = mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && !will.topic.isEmpty()) {
        rc = mosquitto_will_set_v5(mosq, will.topic.toUtf8().constData(), will.payload.size(),
            will.payload.constData(), will.qos, will.retain, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = MqttConnection::tr("libmosquitto refuses the connection settings: %1")
                    .arg(errorText(rc));
        mosquitto_destroy(mosq);
        mosq = nullptr;
        return false;
    }
    settingsChanged = false;
    return true;
}

void MqttConnectionPrivate::attempt()
{
    if (!opened)
        return;
    if (!createClient()) {
        events.append({ Event::Error, {}, 0, 0, error });
        scheduleRetry();
        return;
    }
    setState(MqttConnection::Connecting);
    refusal.clear();
    attemptTimer.start();
    // Asynchronous: the TCP connection completes, and the broker answers, on the event loop.
    const int rc = mosquitto_connect_async(mosq, host.toUtf8().constData(), port, keepAlive);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = MqttConnection::tr("Cannot connect to %1: %2").arg(url, errorText(rc));
        events.append({ Event::Error, {}, 0, 0, error });
        scheduleRetry();
        return;
    }
    createNotifiers();
    misc.start();
}

void MqttConnectionPrivate::scheduleRetry()
{
    dropNotifiers();
    if (!opened) {
        setState(MqttConnection::Disconnected);
        return;
    }
    setState(MqttConnection::Connecting);
    retry.start(delay);
    delay = std::min(delay * 2, maximumDelay);
}

void MqttConnectionPrivate::connectionLost(const QString& reason)
{
    const bool wasConnected = state == MqttConnection::Connected;
    error = reason;
    unacknowledged = 0;
    // libmosquitto would send what it still queues (a write request the panel has given up
    // on, say) after reconnecting: the next attempt starts with a fresh client instead.
    settingsChanged = true;
    if (wasConnected || !opened)
        events.append({ Event::Disconnected, {}, 0, 0, reason });
    else
        events.append({ Event::Error, {}, 0, 0, reason });
    scheduleRetry();
}

void MqttConnectionPrivate::setState(MqttConnection::State newState)
{
    if (state == newState)
        return;
    state = newState;
    events.append({ Event::StateChanged, {}, 0, int(newState), {} });
}

void MqttConnectionPrivate::createNotifiers()
{
    dropNotifiers();
    const int fd = mosquitto_socket(mosq);
    if (fd < 0)
        return;
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, q);
    QObject::connect(readNotifier, &QSocketNotifier::activated, q, [this] { onReadable(); });
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, q);
    QObject::connect(writeNotifier, &QSocketNotifier::activated, q, [this] { onWritable(); });
    updateWriteNotifier();
}

void MqttConnectionPrivate::dropNotifiers()
{
    misc.stop();
    // The socket may already be closed: the notifiers must not watch it a moment longer, and
    // one of them may be the sender of the running slot.
    for (QSocketNotifier* notifier : { readNotifier, writeNotifier }) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readNotifier = nullptr;
    writeNotifier = nullptr;
}

void MqttConnectionPrivate::updateWriteNotifier()
{
    if (writeNotifier && mosq)
        writeNotifier->setEnabled(mosquitto_want_write(mosq));
}

void MqttConnectionPrivate::onReadable()
{
    if (!mosq)
        return;
    // libmosquitto reads one packet per call. The packets already received are read in this
    // activation, a bounded number of them, instead of one pass of the event loop each.
    int rc = MOSQ_ERR_SUCCESS;
    for (int packets = 0; packets < 64; ++packets) {
        rc = mosquitto_loop_read(mosq, 1);
        const int fd = mosquitto_socket(mosq);
        int pending = 0;
        if (rc != MOSQ_ERR_SUCCESS || fd < 0 || ::ioctl(fd, FIONREAD, &pending) != 0
            || pending <= 0)
            break;
    }
    handleLoopResult(rc);
}

void MqttConnectionPrivate::onWritable()
{
    if (!mosq)
        return;
    handleLoopResult(mosquitto_loop_write(mosq, 1));
}

void MqttConnectionPrivate::onMiscTimer()
{
    if (!mosq)
        return;
    if (state == MqttConnection::Connecting
        && attemptTimer.elapsed() > std::max(keepAlive, 10) * 1000) {
        mosquitto_disconnect(mosq);
        connectionLost(MqttConnection::tr("The broker did not answer"));
        dispatch();
        return;
    }
    handleLoopResult(mosquitto_loop_misc(mosq));
}

void MqttConnectionPrivate::handleLoopResult(int rc)
{
    // A failed read or write has closed the socket and called onDisconnect already; the
    // notifiers are gone then.
    if (rc != MOSQ_ERR_SUCCESS && readNotifier && mosquitto_socket(mosq) < 0)
        connectionLost(errorText(rc));
    updateWriteNotifier();
    dispatch();
}

void MqttConnectionPrivate::dispatch()
{
    if (dispatching)
        return;
    dispatching = true;
    QPointer<MqttConnection> guard(q);
    // In order, by index: taking each event off the front would move all that follow it, for
    // every one of the many packets a single activation may read. Slots may append more.
    int next = 0;
    while (guard && next < events.size()) {
        const Event event = events.at(next++);
        switch (event.kind) {
        case Event::StateChanged:
            Q_EMIT q->stateChanged(MqttConnection::State(event.code));
            break;
        case Event::Connected:
            Q_EMIT q->connected();
            break;
        case Event::Disconnected:
            Q_EMIT q->disconnected(event.text);
            break;
        case Event::Message:
            Q_EMIT q->messageReceived(event.message);
            break;
        case Event::Published:
            Q_EMIT q->published(event.id, event.code, event.text);
            break;
        case Event::Error:
            Q_EMIT q->errorOccurred(event.text);
            break;
        }
    }
    if (guard) {
        events.clear();
        dispatching = false;
        updateWriteNotifier();
    }
}

// Waits until the broker has acknowledged every QoS 1 and 2 message published: those beyond
// the broker's receive maximum wait in libmosquitto's queue, and a DISCONNECT sent before them
// would drop them (the "offline" of a stopping publisher, say).
void MqttConnectionPrivate::flush(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (
        unacknowledged > 0 && state == MqttConnection::Connected && waited.elapsed() < timeoutMs) {
        pollfd socket { mosquitto_socket(mosq), POLLIN, 0 };
        if (socket.fd < 0)
            break;
        if (mosquitto_want_write(mosq))
            socket.events |= POLLOUT;
        if (::poll(&socket, 1, 100) > 0) {
            if (socket.revents & POLLOUT)
                mosquitto_loop_write(mosq, 1);
            if (socket.revents & (POLLIN | POLLHUP | POLLERR))
                mosquitto_loop_read(mosq, 1);
        }
        mosquitto_loop_misc(mosq);
    }
}

void MqttConnectionPrivate::resubscribe()
{
    std::vector<std::pair<Subscription, QByteArray>> ordered;
    ordered.reserve(size_t(subscriptions.size()));
    for (auto it = subscriptions.constBegin(); it != subscriptions.constEnd(); ++it)
        ordered.emplace_back(it.value(), it.key().toUtf8());
    std::sort(ordered.begin(), ordered.end(),
        [](const auto& a, const auto& b) { return a.first.order < b.first.order; });
    // One request per run of equal QoS, at most a thousand filters each: far below any broker's
    // packet limit.
    size_t start = 0;
    while (start < ordered.size()) {
        const int qos = ordered[start].first.qos;
        std::vector<char*> pointers;
        while (start < ordered.size() && ordered[start].first.qos == qos && pointers.size() < 1000)
            pointers.push_back(const_cast<char*>(ordered[start++].second.constData()));
        mosquitto_subscribe_multiple(
            mosq, nullptr, int(pointers.size()), pointers.data(), qos, 0, nullptr);
    }
}

void MqttConnectionPrivate::onConnect(
    mosquitto*, void* self, int rc, int, const mosquitto_property*)
{
    auto* d = static_cast<MqttConnectionPrivate*>(self);
    if (rc != 0) {
        d->refusal = reasonText(rc);
        return; // onDisconnect follows
    }
    d->delay = d->firstDelay;
    d->error.clear();
    d->resubscribe();
    d->setState(MqttConnection::Connected);
    d->events.append({ Event::Connected, {}, 0, 0, {} });
}

void MqttConnectionPrivate::onDisconnect(
    mosquitto*, void* self, int rc, const mosquitto_property* props)
{
    auto* d = static_cast<MqttConnectionPrivate*>(self);
    QString reason;
    if (!d->refusal.isEmpty())
        reason = MqttConnection::tr("The broker refused the connection: %1").arg(d->refusal);
    if (reason.isEmpty()) {
        char* text = nullptr;
        mosquitto_property_read_string(props, MQTT_PROP_REASON_STRING, &text, false);
        if (text) {
            reason = QString::fromUtf8(text);
            free(text);
        }
    }
    if (reason.isEmpty()) {
        if (!d->opened)
            reason = MqttConnection::tr("Closed");
        else if (rc == MOSQ_ERR_KEEPALIVE)
            reason = MqttConnection::tr("The broker stopped answering");
        else if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_SUCCESS)
            reason = MqttConnection::tr("The connection to the broker was lost");
        else if (rc > 0 && rc < 256 && rc >= MQTT_RC_UNSPECIFIED)
            reason = reasonText(rc);
        else
            reason = errorText(rc);
    }
    d->connectionLost(reason);
}

void MqttConnectionPrivate::onMessage(
    mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props)
{
    auto* d = static_cast<MqttConnectionPrivate*>(self);
    if (msg->payloadlen > d->maximumPayload) {
        d->events.append({ Event::Error, {}, 0, 0,
            MqttConnection::tr("A message of %1 bytes on %2 is larger than the limit of %3 "
                               "bytes; dropped")
                .arg(msg->payloadlen)
                .arg(QString::fromUtf8(msg->topic))
                .arg(d->maximumPayload) });
        return;
    }
    Event event { Event::Message, {}, msg->mid, 0, {} };
    event.message.topic = QString::fromUtf8(msg->topic);
    event.message.payload
        = QByteArray(static_cast<const char*>(msg->payload), std::max(msg->payloadlen, 0));
    event.message.qos = msg->qos;
    event.message.retain = msg->retain;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false)) {
        event.message.responseTopic = QString::fromUtf8(responseTopic);
        free(responseTopic);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(
            props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false)) {
        event.message.correlationData = QByteArray(static_cast<const char*>(correlation), length);
        free(correlation);
    }
    uint32_t expiry = 0;
    if (mosquitto_property_read_int32(props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry, false))
        event.message.messageExpiry = int(expiry);
    d->events.append(std::move(event));
}

void MqttConnectionPrivate::onPublish(
    mosquitto*, void* self, int mid, int rc, const mosquitto_property*)
{
    auto* d = static_cast<MqttConnectionPrivate*>(self);
    d->unacknowledged = std::max(d->unacknowledged - 1, 0);
    d->events.append({ Event::Published, {}, mid, rc, rc == 0 ? QString() : reasonText(rc) });
}

MqttConnection::MqttConnection(QObject* parent)
    : QObject(parent)
    , d(new MqttConnectionPrivate(this))
{ }

MqttConnection::~MqttConnection()
{
    if (d->mosq && d->state == Connected) {
        mosquitto_disconnect_v5_callback_set(d->mosq, nullptr);
        mosquitto_disconnect(d->mosq);
    }
}

bool MqttConnection::setBrokerUrl(const QString& url)
{
    QString host;
    int port = 0;
    bool tls = false;
    if (url.startsWith(QLatin1Char('/'))) {
        host = url;
    } else {
        const QUrl parsed(url, QUrl::StrictMode);
        const QString scheme = parsed.scheme();
        if (!parsed.isValid())
            return false;
        if (scheme == QLatin1String("unix")) {
            if (!parsed.host().isEmpty() || parsed.path().isEmpty())
                return false;
            host = parsed.path();
        } else if (scheme == QLatin1String("mqtt") || scheme == QLatin1String("mqtts")) {
            tls = scheme == QLatin1String("mqtts");
            host = parsed.host();
            port = parsed.port(tls ? 8883 : 1883);
            if (host.isEmpty() || port <= 0 || (!parsed.path().isEmpty() && parsed.path() != "/"))
                return false;
        } else {
            return false;
        }
    }
    d->url = url;
    d->host = host;
    d->port = port;
    d->tls = tls;
    d->settingsChanged = true;
    return true;
}

QString MqttConnection::brokerUrl() const
{
    return d->url;
}

void MqttConnection::setClientId(const QString& clientId)
{
    d->clientId = clientId;
    d->settingsChanged = true;
}

QString MqttConnection::clientId() const
{
    return d->clientId;
}

void MqttConnection::setCredentials(const QString& userName, const QString& password)
{
    d->userName = userName;
    d->password = password;
    d->settingsChanged = true;
}

QString MqttConnection::userName() const
{
    return d->userName;
}

void MqttConnection::setCaFile(const QString& path)
{
    d->caFile = path;
    d->settingsChanged = true;
}

void MqttConnection::setClientCertificate(const QString& certificateFile, const QString& keyFile)
{
    d->certFile = certificateFile;
    d->keyFile = keyFile;
    d->settingsChanged = true;
}

void MqttConnection::setKeepAlive(int seconds)
{
    d->keepAlive = std::max(seconds, 5);
}

int MqttConnection::keepAlive() const
{
    return d->keepAlive;
}

void MqttConnection::setReconnectDelay(int firstMs, int maximumMs)
{
    d->firstDelay = std::max(firstMs, 1);
    d->maximumDelay = std::max(maximumMs, d->firstDelay);
    d->delay = d->firstDelay;
}

void MqttConnection::setMaximumPayloadSize(int bytes)
{
    d->maximumPayload = std::max(bytes, 0);
}

int MqttConnection::maximumPayloadSize() const
{
    return d->maximumPayload;
}

void MqttConnection::setWill(const MqttMessage& will)
{
    d->will = will;
    d->settingsChanged = true;
}

bool MqttConnection::open()
{
    if (d->opened)
        return true;
    if (d->host.isEmpty()) {
        d->error = tr("No broker address is set");
        return false;
    }
    if (!d->createClient())
        return false;
    d->opened = true;
    d->delay = d->firstDelay;
    d->attempt();
    d->dispatch();
    return true;
}

void MqttConnection::close()
{
    if (!d->opened)
        return;
    d->opened = false;
    d->retry.stop();
    if (d->mosq && d->state == Connected) {
        d->flush(5000);
        mosquitto_disconnect(d->mosq);
        // Sends the DISCONNECT packet; libmosquitto then closes the socket and reports it.
        while (mosquitto_want_write(d->mosq)
            && mosquitto_loop_write(d->mosq, 1) == MOSQ_ERR_SUCCESS) { }
        if (mosquitto_socket(d->mosq) >= 0)
            d->connectionLost(tr("Closed"));
    } else {
        if (d->mosq)
            mosquitto_disconnect(d->mosq);
        d->dropNotifiers();
        d->setState(Disconnected);
    }
    d->dispatch();
}

MqttConnection::State MqttConnection::state() const
{
    return d->state;
}

bool MqttConnection::isConnected() const
{
    return d->state == Connected;
}

QString MqttConnection::errorString() const
{
    return d->error;
}

bool MqttConnection::subscribe(const QString& filter, int qos)
{
    return subscribe(QStringList { filter }, qos);
}

bool MqttConnection::subscribe(const QStringList& filters, int qos)
{
    QVector<QByteArray> utf8;
    for (const QString& filter : filters) {
        utf8.append(filter.toUtf8());
        if (mosquitto_sub_topic_check2(utf8.last().constData(), size_t(utf8.last().size()))
            != MOSQ_ERR_SUCCESS)
            return false;
    }
    QVector<char*> pointers;
    for (int i = 0; i < filters.size(); ++i) {
        const auto existing = d->subscriptions.constFind(filters.at(i));
        if (existing != d->subscriptions.constEnd() && existing->qos == qos)
            continue;
        d->subscriptions.insert(filters.at(i), { qos, d->nextOrder++ });
        pointers.append(utf8[i].data());
    }
    if (d->state == Connected && !pointers.isEmpty()) {
        // One request per thousand filters, as on reconnection.
        const int count = int(pointers.size());
        for (int start = 0; start < count; start += 1000) {
            mosquitto_subscribe_multiple(d->mosq, nullptr, std::min(1000, count - start),
                pointers.data() + start, qos, 0, nullptr);
        }
        d->updateWriteNotifier();
    }
    return true;
}

bool MqttConnection::unsubscribe(const QString& filter)
{
    if (!d->subscriptions.remove(filter))
        return false;
    if (d->state == Connected) {
        mosquitto_unsubscribe(d->mosq, nullptr, filter.toUtf8().constData());
        d->updateWriteNotifier();
    }
    return true;
}

bool MqttConnection::isSubscribed(const QString& filter) const
{
    return d->subscriptions.contains(filter);
}

int MqttConnection::publish(const MqttMessage& message)
{
    if (d->state != Connected)
        return -1;
    mosquitto_property* props = nullptr;
    if (!message.responseTopic.isEmpty())
        mosquitto_property_add_string(
            &props, MQTT_PROP_RESPONSE_TOPIC, message.responseTopic.toUtf8().constData());
    if (!message.correlationData.isEmpty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA,
            message.correlationData.constData(), uint16_t(message.correlationData.size()));
    if (message.messageExpiry > 0)
        mosquitto_property_add_int32(
            &props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, uint32_t(message.messageExpiry));
    int mid = 0;
    const int rc = mosquitto_publish_v5(d->mosq, &mid, message.topic.toUtf8().constData(),
        message.payload.size(), message.payload.constData(), message.qos, message.retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        // A failed write closes the socket; the loss is reported like any other.
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
            if (mosquitto_socket(d->mosq) < 0 && d->readNotifier)
                d->connectionLost(errorText(rc));
            QTimer::singleShot(0, this, [this] { d->dispatch(); });
        }
        return -1;
    }
    if (message.qos > 0)
        ++d->unacknowledged;
    d->updateWriteNotifier();
    return mid;
}

int MqttConnection::publish(const QString& topic, const QByteArray& payload, int qos, bool retain)
{
    MqttMessage message;
    message.topic = topic;
    message.payload = payload;
    message.qos = qos;
    message.retain = retain;
    return publish(message);
}

} // namespace kivo
