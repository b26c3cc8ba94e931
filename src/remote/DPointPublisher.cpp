#include <kivo/remote/DPointPublisher.h>

#include "remote/HomeAssistantDiscovery_p.h"
#include "remote/RemotePayload_p.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/remote/MqttConnection.h>

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace kivo {

namespace {

const int defaultRequestExpiry = 10; // seconds, when a request gives none

} // namespace

class DPointPublisherPrivate
{
public:
    struct Request
    {
        QString responseTopic;
        QByteArray correlationData;
        QVariant raw;
        int expiry = defaultRequestExpiry;
    };
    struct Point
    {
        QString topic;
        QList<Request> requests; // in arrival order; the first is in the write cycle when busy
        bool busy = false;
        std::unique_ptr<QTimer> deadline;
    };

    DPointPublisherPrivate(DPointPublisher* publisher, MqttConnection* connection,
        DPointProvider* provider, const QString& device)
        : q(publisher)
        , connection(connection)
        , provider(provider)
        , device(device)
    { }

    void onConnected();
    void onMessage(const MqttMessage& message);
    void watchPoints();
    void publishValue(DPointObject* point);
    void take(DPointObject* point, const Request& request);
    void startNext(DPointObject* point);
    void onUpdateCompleted(DPointObject* point);
    void onDeadline(DPointObject* point);
    void answer(const Request& request, bool confirmed, DPointObject* point, const QString& code,
        const QString& message);

    DPointPublisher* q;
    MqttConnection* connection;
    QPointer<DPointProvider> provider;
    QString device;
    QString prefix { QStringLiteral("kivo") };
    QString base;
    QString discoveryPrefix;
    QByteArray units;
    QMap<QString, QByteArray> dictionaries;
    bool started = false;
    bool watching = false;
    QHash<DPointObject*, std::shared_ptr<Point>> points;
    QList<QMetaObject::Connection> connections;
};

void DPointPublisherPrivate::watchPoints()
{
    if (watching || !provider)
        return;
    watching = true;
    const QList<DPointObject*> all = provider->getAllPoints();
    for (DPointObject* point : all) {
        const QString name = point->objectName();
        if (!DPointPublisher::isValidTopicLevel(name)) {
            Q_EMIT q->warning(DPointPublisher::tr("Point '%1' is not published: its name "
                                                  "cannot be one topic level")
                                  .arg(name));
            continue;
        }
        auto state = std::make_shared<Point>();
        state->topic = base + QStringLiteral("p/") + name;
        points.insert(point, state);
        QObject::connect(point, &DPointObject::valueChanged, q,
            [this](DPointObject* changed) { publishValue(changed); });
        QObject::connect(point, &DPointObject::updateCompleted, q,
            [this, point](bool) { onUpdateCompleted(point); });
        QObject::connect(point, &QObject::destroyed, q, [this, point] { points.remove(point); });
    }
}

void DPointPublisherPrivate::publishValue(DPointObject* point)
{
    const auto it = points.constFind(point);
    // While a panel's write is in the device's hands the point holds the requested value, not
    // the device's: the value is published once the write completes, after the answer.
    if (it == points.constEnd() || it.value()->busy || !connection->isConnected()
        || !point->isAvailable())
        return;
    const QVariant raw = point->getCurrentValue();
    MqttMessage message;
    message.topic = it.value()->topic;
    message.payload
        = RemotePayload::encodeValue(raw, DPointDisplay::displayText(point->getDPointDef(), raw),
            QDateTime::currentMSecsSinceEpoch());
    message.qos = 1;
    message.retain = true;
    connection->publish(message);
}

void DPointPublisherPrivate::onConnected()
{
    if (!started)
        return;
    watchPoints();
    if (!units.isEmpty())
        connection->publish(base + QStringLiteral("$units"), units, 1, true);
    for (auto it = dictionaries.constBegin(); it != dictionaries.constEnd(); ++it)
        connection->publish(base + QStringLiteral("$dict/") + it.key(), it.value(), 1, true);
    // The first read also tells the device side to report the point (covEnabled).
    for (auto it = points.constBegin(); it != points.constEnd(); ++it) {
        it.key()->getCurrentValue();
        publishValue(it.key());
    }
    if (!discoveryPrefix.isEmpty()) {
        QList<DPointObject*> published = points.keys();
        std::sort(published.begin(), published.end(),
            [](DPointObject* a, DPointObject* b) { return a->objectName() < b->objectName(); });
        connection->publish(HomeAssistantDiscovery::configTopic(discoveryPrefix, prefix, device),
            HomeAssistantDiscovery::config(base, prefix, device, published), 1, true);
    }
    connection->publish(base + QStringLiteral("$state"), QByteArrayLiteral("online"), 1, true);
}

void DPointPublisherPrivate::onMessage(const MqttMessage& message)
{
    // <base>p/<point>/set
    const QString setSuffix = QStringLiteral("/set");
    const QString valuePrefix = base + QStringLiteral("p/");
    if (!started || !message.topic.startsWith(valuePrefix) || !message.topic.endsWith(setSuffix))
        return;
    const QString name
        = message.topic.mid(valuePrefix.size(), message.topic.size() - valuePrefix.size() - 4);
    Request request;
    request.responseTopic = message.responseTopic;
    request.correlationData = message.correlationData;
    if (message.messageExpiry > 0)
        request.expiry = message.messageExpiry;

    RemotePayload::Request decoded;
    QString reason;
    DPointObject* point = provider ? provider->getDPointByName(name) : nullptr;
    if (!RemotePayload::decodeRequest(message.payload, &decoded, &reason)) {
        Q_EMIT q->warning(
            DPointPublisher::tr("Write request for '%1' refused: %2").arg(name, reason));
        answer(request, false, point, QStringLiteral("BAD_REQUEST"),
            DPointPublisher::tr("The request is not understood: %1").arg(reason));
        return;
    }
    if (!point || !points.contains(point)) {
        answer(request, false, nullptr, QStringLiteral("UNKNOWN_POINT"),
            DPointPublisher::tr("No point is named '%1'").arg(name));
        return;
    }
    const DPointDef* def = point->getDPointDef();
    if (def && def->m_writable) {
        request.raw = decoded.byText
            ? checkDPointType(DPointDisplay::rawValue(def, decoded.text, &reason), *point)
            : RemotePayload::rawFromJson(def, decoded.v, &reason);
    }
    if (reason.isEmpty())
        reason = DPointDisplay::checkWrite(def, request.raw);
    if (!reason.isEmpty()) {
        const bool readOnly = !def || !def->m_writable;
        answer(request, false, point,
            readOnly ? QStringLiteral("READ_ONLY") : QStringLiteral("INVALID_VALUE"), reason);
        return;
    }
    take(point, request);
}

void DPointPublisherPrivate::take(DPointObject* point, const Request& request)
{
    Point& state = *points.value(point);
    state.requests.append(request);
    if (!state.busy)
        startNext(point);
}

void DPointPublisherPrivate::startNext(DPointObject* point)
{
    const auto state = points.value(point);
    while (state && !state->busy && !state->requests.isEmpty()) {
        const Request& request = state->requests.first();
        // A value the point already holds would never be committed: nothing to write.
        if (!point->isPending()
            && RemotePayload::sameValue(request.raw, point->getCurrentValue())) {
            const Request done = state->requests.takeFirst();
            answer(done, true, point, QString(), QString());
            continue;
        }
        state->busy = true;
        if (!state->deadline) {
            state->deadline.reset(new QTimer);
            state->deadline->setSingleShot(true);
            QObject::connect(
                state->deadline.get(), &QTimer::timeout, q, [this, point] { onDeadline(point); });
        }
        state->deadline->start(request.expiry * 1000);
        // The panel has committed already: the automatic commit would hold every write back
        // 100 ms. The device side may answer inside commitPending, which takes the request
        // off the list; the value is copied first.
        const QVariant raw = request.raw;
        point->setUpdatePending(raw, false);
        point->commitPending();
    }
}

void DPointPublisherPrivate::onUpdateCompleted(DPointObject* point)
{
    const auto state = points.value(point);
    if (!state || !state->busy || state->requests.isEmpty())
        return;
    state->busy = false;
    state->deadline->stop();
    const Request request = state->requests.takeFirst();
    const StatRef status = point->getUpdateStatus();
    const StatBase* stat = status.m_stat;
    answer(request, !stat, point, stat ? stat->getCode() : QString(),
        DPointDisplay::statusText(status));
    startNext(point);
}

void DPointPublisherPrivate::onDeadline(DPointObject* point)
{
    const auto state = points.value(point);
    if (!state || !state->busy || state->requests.isEmpty())
        return;
    state->busy = false;
    point->cancelPending();
    const Request request = state->requests.takeFirst();
    answer(request, false, point, QStringLiteral("TIMEOUT"),
        DPointPublisher::tr("The device did not answer within %1 s").arg(request.expiry));
    publishValue(point);
    startNext(point);
}

void DPointPublisherPrivate::answer(const Request& request, bool confirmed, DPointObject* point,
    const QString& code, const QString& message)
{
    if (request.responseTopic.isEmpty())
        return;
    QVariant raw;
    const DPointDef* def = nullptr;
    if (point && point->isAvailable()) {
        raw = point->getCurrentValue();
        def = point->getDPointDef();
    }
    MqttMessage reply;
    reply.topic = request.responseTopic;
    reply.correlationData = request.correlationData;
    reply.qos = 1;
    reply.payload = RemotePayload::encodeAnswer(
        confirmed, raw, DPointDisplay::displayText(def, raw), code, message);
    if (connection->publish(reply) < 0) {
        Q_EMIT q->warning(
            DPointPublisher::tr("The answer on %1 cannot be sent").arg(request.responseTopic));
    }
}

DPointPublisher::DPointPublisher(
    MqttConnection* connection, DPointProvider* provider, const QString& device, QObject* parent)
    : QObject(parent)
    , d(new DPointPublisherPrivate(this, connection, provider, device))
{ }

DPointPublisher::~DPointPublisher()
{
    if (d->started)
        stop();
}

bool DPointPublisher::isValidDeviceName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-')
            || c == QLatin1Char('_');
        if (!ok)
            return false;
    }
    return true;
}

bool DPointPublisher::isValidTopicLevel(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.isNull())
            return false;
    }
    return true;
}

void DPointPublisher::setPrefix(const QString& prefix)
{
    d->prefix = prefix;
}

QString DPointPublisher::prefix() const
{
    return d->prefix;
}

QString DPointPublisher::device() const
{
    return d->device;
}

void DPointPublisher::setUnitsFile(const QByteArray& contents)
{
    d->units = contents;
}

void DPointPublisher::addDictionaryFile(const QString& name, const QByteArray& contents)
{
    d->dictionaries.insert(name, contents);
}

void DPointPublisher::setHomeAssistantDiscovery(const QString& discoveryPrefix)
{
    d->discoveryPrefix = discoveryPrefix;
}

QString DPointPublisher::homeAssistantDiscovery() const
{
    return d->discoveryPrefix;
}

bool DPointPublisher::start()
{
    if (d->started)
        return true;
    if (!isValidDeviceName(d->device)) {
        Q_EMIT warning(
            tr("'%1' cannot be a device name: use letters, digits, '-' and '_'").arg(d->device));
        return false;
    }
    if (!isValidTopicLevel(d->prefix)) {
        Q_EMIT warning(tr("'%1' cannot be a topic prefix").arg(d->prefix));
        return false;
    }
    for (auto it = d->dictionaries.constBegin(); it != d->dictionaries.constEnd(); ++it) {
        if (!isValidTopicLevel(it.key()))
            Q_EMIT warning(tr("Dictionary '%1' is not published: its name cannot be one topic "
                              "level")
                               .arg(it.key()));
    }
    d->base = d->prefix + QLatin1Char('/') + d->device + QLatin1Char('/');
    MqttMessage will;
    will.topic = topic(QStringLiteral("$state"));
    will.payload = QByteArrayLiteral("offline");
    will.qos = 1;
    will.retain = true;
    d->connection->setWill(will);
    d->connections << connect(
        d->connection, &MqttConnection::connected, this, [this] { d->onConnected(); });
    d->connections << connect(d->connection, &MqttConnection::messageReceived, this,
        [this](const MqttMessage& message) { d->onMessage(message); });
    d->started = true;
    d->connection->subscribe(topic(QStringLiteral("p/+/set")), 1);
    if (d->connection->state() == MqttConnection::Disconnected && !d->connection->open()) {
        Q_EMIT warning(d->connection->errorString());
        stop();
        return false;
    }
    if (d->connection->isConnected())
        d->onConnected();
    return true;
}

void DPointPublisher::stop(bool clearRetained)
{
    if (!d->started)
        return;
    if (d->connection->isConnected()) {
        if (clearRetained) {
            if (!d->units.isEmpty())
                d->connection->publish(topic(QStringLiteral("$units")), QByteArray(), 1, true);
            for (auto it = d->dictionaries.constBegin(); it != d->dictionaries.constEnd(); ++it)
                d->connection->publish(
                    topic(QStringLiteral("$dict/") + it.key()), QByteArray(), 1, true);
            for (auto it = d->points.constBegin(); it != d->points.constEnd(); ++it)
                d->connection->publish(it.value()->topic, QByteArray(), 1, true);
            if (!d->discoveryPrefix.isEmpty())
                d->connection->publish(
                    HomeAssistantDiscovery::configTopic(d->discoveryPrefix, d->prefix, d->device),
                    QByteArray(), 1, true);
        }
        d->connection->publish(
            topic(QStringLiteral("$state")), QByteArrayLiteral("offline"), 1, true);
    }
    d->started = false;
    // Requests taken before the stop are nobody's to answer any more; a restart starts afresh.
    for (auto it = d->points.begin(); it != d->points.end(); ++it) {
        it.value()->requests.clear();
        it.value()->busy = false;
        if (it.value()->deadline)
            it.value()->deadline->stop();
    }
    for (const QMetaObject::Connection& connection : qAsConst(d->connections))
        disconnect(connection);
    d->connections.clear();
    d->connection->unsubscribe(topic(QStringLiteral("p/+/set")));
    d->connection->close();
}

bool DPointPublisher::isStarted() const
{
    return d->started;
}

QString DPointPublisher::topic(const QString& level) const
{
    return d->prefix + QLatin1Char('/') + d->device + QLatin1Char('/') + level;
}

} // namespace kivo
