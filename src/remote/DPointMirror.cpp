#include <kivo/remote/DPointMirror.h>

#include "remote/RemotePayload_p.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/remote/DPointPublisher.h>
#include <kivo/remote/MqttConnection.h>

#include <QHash>
#include <QMap>
#include <QPointer>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <memory>

namespace kivo {

namespace {

// A point of a remote device. A write of the value the point shows is still the device's to
// answer (the panel's value may be stale): its commit goes to the device like any other.
class MirrorPoint : public DPointObject
{
    Q_OBJECT
public:
    StatRef commitPending() override
    {
        if (isPending() && RemotePayload::sameValue(getPendingValue(), getCurrentValue())) {
            Q_EMIT updatePending();
            return StatRef();
        }
        return DPointObject::commitPending();
    }
};

} // namespace

class DPointMirrorPrivate
{
public:
    struct Point
    {
        QString topic;
        QVariant deviceValue; // the last value the device reported or answered
        bool subscribed = false;
    };
    struct Write
    {
        QPointer<DPointObject> point;
        std::unique_ptr<QTimer> timer;
        int messageId = -1;
    };
    struct File
    {
        QByteArray contents;
        bool changed = false;
    };

    DPointMirrorPrivate(DPointMirror* mirror, MqttConnection* connection, DPointProvider* provider,
        const QString& device)
        : q(mirror)
        , connection(connection)
        , provider(provider)
        , device(device)
    { }

    void onMessage(const MqttMessage& message);
    void onValue(DPointObject* point, const QByteArray& payload);
    void onAnswer(const MqttMessage& message);
    void onPublished(int messageId, int reasonCode, const QString& reason);
    void setDeviceState(bool online);
    void scheduleLoad();
    void load();
    bool loadFile(const QByteArray& contents, const QString& what,
        const std::function<bool(const QString&)>& reader);
    void registerPoints(DPointDictionary* dict);
    void setCov(DPointObject* point, bool enable);
    void subscribePending();
    void sendWrite(DPointObject* point);
    void complete(const QByteArray& correlation, const QVariant& raw, const StatRef& status);
    void refuse(DPointObject* point, const QString& code, const QString& message);
    void refuseAll(const QString& code, const QString& message);
    void setStatus(DPointMirror::Status newStatus);
    bool online() const { return deviceOnline && connection->isConnected(); }

    DPointMirror* q;
    MqttConnection* connection;
    QPointer<DPointProvider> provider;
    QString device;
    QString prefix { QStringLiteral("kivo") };
    QString base;
    QString replyTopic;
    int timeout = 10000;
    bool started = false;
    DPointMirror::Status status = DPointMirror::Idle;
    QString error;
    bool stateSeen = false;
    bool deviceOnline = false;
    bool reportedOnline = false;
    bool loadScheduled = false;

    File units;
    QMap<QString, File> dictFiles;
    // Loaded files stay alive while the mirror lives: points and views may still hold
    // definitions of a replaced dictionary.
    std::vector<std::unique_ptr<MeasurementRegistry>> registries;
    std::vector<std::unique_ptr<DPointDictionary>> retired;
    QMap<QString, DPointDictionary*> dicts;

    QHash<DPointObject*, Point> points;
    QHash<QString, DPointObject*> byTopic;
    QStringList pendingTopics; // value topics to subscribe at the next pass of the event loop
    QHash<QByteArray, std::shared_ptr<Write>> writes;
    QHash<int, QByteArray> writeByMessage;
    quint64 nextCorrelation = 0;
    QList<QMetaObject::Connection> connections;
};

void DPointMirrorPrivate::setStatus(DPointMirror::Status newStatus)
{
    if (status == newStatus)
        return;
    status = newStatus;
    Q_EMIT q->statusChanged(newStatus);
}

void DPointMirrorPrivate::onMessage(const MqttMessage& message)
{
    if (!started || !message.topic.startsWith(base))
        return;
    if (message.topic == replyTopic) {
        onAnswer(message);
        return;
    }
    if (DPointObject* point = byTopic.value(message.topic)) {
        onValue(point, message.payload);
        return;
    }
    const QString level = message.topic.mid(base.size());
    if (level == QLatin1String("$state")) {
        const bool wasSeen = stateSeen;
        stateSeen = true;
        setDeviceState(message.payload == "online");
        if (!wasSeen)
            scheduleLoad();
    } else if (level == QLatin1String("$units")) {
        if (!message.payload.isEmpty() && message.payload != units.contents) {
            units = { message.payload, true };
            scheduleLoad();
        }
    } else if (level.startsWith(QLatin1String("$dict/"))) {
        const QString name = level.mid(6);
        File& file = dictFiles[name];
        if (!message.payload.isEmpty() && message.payload != file.contents) {
            file = { message.payload, true };
            scheduleLoad();
        }
    }
}

void DPointMirrorPrivate::onValue(DPointObject* point, const QByteArray& payload)
{
    if (payload.isEmpty())
        return; // a retained value removed
    RemotePayload::Value value;
    QString reason;
    if (!RemotePayload::decodeValue(payload, &value, &reason)) {
        Q_EMIT q->warning(DPointMirror::tr("The value of '%1' is passed over: %2")
                              .arg(point->objectName(), reason));
        return;
    }
    const QVariant raw = RemotePayload::rawFromJson(point->getDPointDef(), value.v, &reason);
    if (!reason.isEmpty()) {
        Q_EMIT q->warning(DPointMirror::tr("The value of '%1' is passed over: %2")
                              .arg(point->objectName(), reason));
        return;
    }
    points[point].deviceValue = raw;
    point->setCurrentValue(raw);
}

void DPointMirrorPrivate::onAnswer(const MqttMessage& message)
{
    const std::shared_ptr<Write> write = writes.value(message.correlationData);
    if (!write)
        return; // an answer that came too late, or not ours
    DPointObject* point = write->point;
    RemotePayload::Answer answer;
    QString reason;
    QVariant raw;
    if (point && RemotePayload::decodeAnswer(message.payload, &answer, &reason))
        raw = RemotePayload::rawFromJson(point->getDPointDef(), answer.v, &reason);
    if (!reason.isEmpty()) {
        Q_EMIT q->warning(DPointMirror::tr("The device's answer cannot be read: %1").arg(reason));
        complete(message.correlationData, points.value(point).deviceValue,
            StatRef(new StatBase(QStringLiteral("BAD_ANSWER"),
                DPointMirror::tr("The device's answer cannot be read: %1").arg(reason))));
        return;
    }
    if (point && raw.isValid())
        points[point].deviceValue = raw;
    const StatRef status(answer.confirmed
            ? nullptr
            : new StatBase(answer.code,
                answer.message.isEmpty() ? DPointMirror::tr("Refused by the device")
                                         : answer.message));
    complete(message.correlationData, raw, status);
}

void DPointMirrorPrivate::onPublished(int messageId, int reasonCode, const QString& reason)
{
    const QByteArray correlation = writeByMessage.take(messageId);
    if (correlation.isEmpty() || reasonCode == 0)
        return;
    const std::shared_ptr<Write> write = writes.value(correlation);
    if (!write)
        return;
    const QVariant held = points.value(write->point).deviceValue;
    if (reasonCode == 16) { // no matching subscribers
        complete(correlation, held,
            StatRef(new StatBase(QStringLiteral("NO_DEVICE"),
                DPointMirror::tr("No device is listening for writes"))));
    } else if (reasonCode >= 0x80) {
        complete(correlation, held, StatRef(new StatBase(QStringLiteral("BROKER"), reason)));
    }
}

void DPointMirrorPrivate::setDeviceState(bool isOnline)
{
    deviceOnline = isOnline;
    const bool nowOnline = online();
    if (!nowOnline)
        refuseAll(QStringLiteral("OFFLINE"), DPointMirror::tr("The device is offline"));
    if (provider)
        provider->setConnectStatus(nowOnline);
    if (nowOnline != reportedOnline) {
        reportedOnline = nowOnline;
        Q_EMIT q->deviceOnlineChanged(nowOnline);
    }
}

void DPointMirrorPrivate::scheduleLoad()
{
    // Retained files arrive in a burst before the device's state; load once it has passed.
    if (!stateSeen || loadScheduled)
        return;
    loadScheduled = true;
    QTimer::singleShot(0, q, [this] {
        loadScheduled = false;
        load();
    });
}

bool DPointMirrorPrivate::loadFile(const QByteArray& contents, const QString& what,
    const std::function<bool(const QString&)>& reader)
{
    // The loaders read files: the contents go through a private temporary one.
    QTemporaryFile file;
    if (!file.open() || file.write(contents) != contents.size() || !file.flush()) {
        error
            = DPointMirror::tr("%1 cannot be stored for loading: %2").arg(what, file.errorString());
        return false;
    }
    file.close();
    return reader(file.fileName());
}

void DPointMirrorPrivate::load()
{
    if (!started)
        return;
    if (units.contents.isEmpty()) {
        setStatus(DPointMirror::Loading);
        return;
    }
    bool failed = false;
    error.clear();
    // Dictionaries are loaded again only against a newly loaded registry: a measurement file
    // that does not load leaves them as they are.
    bool unitsChanged = false;
    if (units.changed) {
        units.changed = false;
        MeasurementRegistry* registry = nullptr;
        const bool loaded = loadFile(units.contents, DPointMirror::tr("The measurement file"),
            [&registry](const QString& path) {
                registry = MeasurementLoader::loadMeasurementRegistry(path);
                return registry != nullptr;
            });
        if (loaded) {
            registries.emplace_back(registry);
            unitsChanged = true;
        } else {
            if (error.isEmpty())
                error = DPointMirror::tr("The device's measurement file cannot be loaded");
            failed = true;
        }
    }
    if (registries.empty()) {
        Q_EMIT q->warning(error);
        setStatus(DPointMirror::Error);
        return;
    }
    MeasurementRegistry* registry = registries.back().get();
    for (auto it = dictFiles.begin(); it != dictFiles.end(); ++it) {
        if (it->contents.isEmpty() || (!it->changed && !unitsChanged))
            continue;
        it->changed = false;
        if (!DPointPublisher::isValidTopicLevel(it.key()))
            continue;
        QString loaderError;
        QString copyPath;
        DPointDictionary* dict = nullptr;
        loadFile(it->contents, DPointMirror::tr("Dictionary '%1'").arg(it.key()),
            [&](const QString& path) {
                copyPath = path;
                DPDictLoader loader(nullptr, nullptr, registry);
                QObject::connect(&loader, &DPDictLoader::error,
                    [&loaderError](const QString& text) { loaderError = text; });
                dict = loader.load(path, it.key());
                return dict != nullptr;
            });
        if (!dict) {
            error = DPointMirror::tr("The device's dictionary '%1' cannot be loaded: %2")
                        .arg(it.key(), loaderError.isEmpty() ? error : loaderError);
            // The loader names the private copy it read; the broker's topic says more.
            if (!copyPath.isEmpty())
                error.replace(copyPath, base + QStringLiteral("$dict/") + it.key());
            failed = true;
            continue;
        }
        if (DPointDictionary* old = dicts.value(it.key()))
            retired.emplace_back(old);
        dicts.insert(it.key(), dict);
        registerPoints(dict);
    }
    if (failed) {
        Q_EMIT q->warning(error);
        setStatus(DPointMirror::Error);
        return;
    }
    setStatus(DPointMirror::Ready);
    Q_EMIT q->ready();
}

void DPointMirrorPrivate::registerPoints(DPointDictionary* dict)
{
    if (!provider)
        return;
    provider->addDict(dict);
    const QList<DPointDef*> defs = dict->getAllDefs();
    for (DPointDef* def : defs) {
        const QString name = def->objectName().toLower();
        DPointObject* point = provider->getDPointByName(name);
        if (point && points.contains(point)) {
            point->setDPointDef(def);
            continue;
        }
        if (!DPointPublisher::isValidTopicLevel(name))
            continue;
        point = new MirrorPoint;
        point->setObjectName(name);
        point->setDPointDef(def);
        Point state;
        state.topic = base + QStringLiteral("p/") + name;
        points.insert(point, state);
        byTopic.insert(state.topic, point);
        QObject::connect(point, &DPointObject::covEnabled, q,
            [this, point](bool enable) { setCov(point, enable); });
        QObject::connect(
            point, &DPointObject::updatePending, q, [this, point] { sendWrite(point); });
        QObject::connect(point, &QObject::destroyed, q, [this, point] {
            byTopic.remove(points.value(point).topic);
            points.remove(point);
        });
        provider->addPoint(point);
    }
}

void DPointMirrorPrivate::setCov(DPointObject* point, bool enable)
{
    auto it = points.find(point);
    if (it == points.end() || it->subscribed == enable || !started)
        return;
    it->subscribed = enable;
    if (!enable) {
        connection->unsubscribe(it->topic);
        return;
    }
    // A view that reads many points at once gets them in a few requests, not one each: every
    // request costs the broker and the panel a round of its own.
    pendingTopics.append(it->topic);
    if (pendingTopics.size() == 1)
        QTimer::singleShot(0, q, [this] { subscribePending(); });
}

void DPointMirrorPrivate::subscribePending()
{
    QStringList topics;
    topics.reserve(pendingTopics.size());
    for (const QString& topic : qAsConst(pendingTopics)) {
        const auto it = points.constFind(byTopic.value(topic));
        if (it != points.constEnd() && it->subscribed)
            topics.append(topic);
    }
    pendingTopics.clear();
    if (started)
        connection->subscribe(topics, 1);
}

void DPointMirrorPrivate::sendWrite(DPointObject* point)
{
    if (!point->isPending())
        return;
    if (!started || !online()) {
        refuse(point, QStringLiteral("OFFLINE"),
            connection->isConnected() ? DPointMirror::tr("The device is offline")
                                      : DPointMirror::tr("Not connected to the broker"));
        return;
    }
    const QByteArray correlation = QByteArray::number(++nextCorrelation);
    MqttMessage request;
    request.topic = points.value(point).topic + QStringLiteral("/set");
    request.payload = RemotePayload::encodeRawRequest(point->getPendingValue());
    request.qos = 1;
    request.responseTopic = replyTopic;
    request.correlationData = correlation;
    request.messageExpiry = (timeout + 999) / 1000;
    auto write = std::make_shared<Write>();
    write->point = point;
    write->timer.reset(new QTimer);
    write->timer->setSingleShot(true);
    QObject::connect(write->timer.get(), &QTimer::timeout, q, [this, correlation] {
        const std::shared_ptr<Write> late = writes.value(correlation);
        complete(correlation, late ? points.value(late->point).deviceValue : QVariant(),
            StatRef(new StatBase(QStringLiteral("TIMEOUT"),
                DPointMirror::tr("The device did not answer within %1 s")
                    .arg(QString::number(timeout / 1000.0)))));
    });
    writes.insert(correlation, write);
    write->messageId = connection->publish(request);
    if (write->messageId < 0) {
        complete(correlation, points.value(point).deviceValue,
            StatRef(new StatBase(
                QStringLiteral("DISCONNECTED"), DPointMirror::tr("Not connected to the broker"))));
        return;
    }
    writeByMessage.insert(write->messageId, correlation);
    write->timer->start(timeout);
}

void DPointMirrorPrivate::complete(
    const QByteArray& correlation, const QVariant& raw, const StatRef& status)
{
    const std::shared_ptr<Write> write = writes.take(correlation);
    if (!write)
        return;
    writeByMessage.remove(write->messageId);
    write->timer->stop();
    if (write->point)
        write->point->setUpdateComplete(raw, status);
}

void DPointMirrorPrivate::refuse(DPointObject* point, const QString& code, const QString& message)
{
    point->setUpdateComplete(points.value(point).deviceValue, StatRef(new StatBase(code, message)));
}

void DPointMirrorPrivate::refuseAll(const QString& code, const QString& message)
{
    const QList<QByteArray> pending = writes.keys();
    for (const QByteArray& correlation : pending) {
        const std::shared_ptr<Write> write = writes.value(correlation);
        complete(correlation, write ? points.value(write->point).deviceValue : QVariant(),
            StatRef(new StatBase(code, message)));
    }
}

DPointMirror::DPointMirror(
    MqttConnection* connection, DPointProvider* provider, const QString& device, QObject* parent)
    : QObject(parent)
    , d(new DPointMirrorPrivate(this, connection, provider, device))
{ }

DPointMirror::~DPointMirror()
{
    stop();
    // The points stay with their provider, which owns them, but lose their definitions, which
    // go with the dictionaries below; they no longer reach the mirror.
    for (auto it = d->points.constBegin(); it != d->points.constEnd(); ++it) {
        it.key()->disconnect(this);
        it.key()->setDPointDef(nullptr);
        if (d->provider)
            d->provider->removePoint(it.key()->objectName());
    }
    if (d->provider) {
        for (auto it = d->dicts.constBegin(); it != d->dicts.constEnd(); ++it)
            d->provider->removeDict(it.key());
    }
    for (auto it = d->dicts.constBegin(); it != d->dicts.constEnd(); ++it)
        d->retired.emplace_back(it.value());
}

void DPointMirror::setPrefix(const QString& prefix)
{
    d->prefix = prefix;
}

QString DPointMirror::prefix() const
{
    return d->prefix;
}

QString DPointMirror::device() const
{
    return d->device;
}

void DPointMirror::setWriteTimeout(int ms)
{
    d->timeout = std::max(ms, 1);
}

int DPointMirror::writeTimeout() const
{
    return d->timeout;
}

bool DPointMirror::start()
{
    if (d->started)
        return true;
    if (!DPointPublisher::isValidDeviceName(d->device)) {
        d->error
            = tr("'%1' cannot be a device name: use letters, digits, '-' and '_'").arg(d->device);
        Q_EMIT warning(d->error);
        return false;
    }
    if (d->connection->clientId().isEmpty()
        && d->connection->state() == MqttConnection::Disconnected)
        d->connection->setClientId(QStringLiteral("kivo-panel-")
            + QUuid::createUuid().toString().mid(1, 18).remove(QLatin1Char('-')));
    QString replyLevel = d->connection->clientId();
    for (QChar& c : replyLevel) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#'))
            c = QLatin1Char('_');
    }
    d->base = d->prefix + QLatin1Char('/') + d->device + QLatin1Char('/');
    d->replyTopic = d->base + QStringLiteral("$reply/") + replyLevel;
    d->connections << connect(d->connection, &MqttConnection::messageReceived, this,
        [this](const MqttMessage& message) { d->onMessage(message); });
    d->connections << connect(d->connection, &MqttConnection::published, this,
        [this](int id, int code, const QString& reason) { d->onPublished(id, code, reason); });
    d->connections << connect(d->connection, &MqttConnection::connected, this,
        [this] { d->setDeviceState(d->deviceOnline); });
    d->connections << connect(d->connection, &MqttConnection::disconnected, this, [this] {
        d->refuseAll(QStringLiteral("DISCONNECTED"), tr("The connection to the broker was lost"));
        // Until the broker sends "$state" again, the device's state is unknown: a broker that
        // comes back without its retained messages may never hear from the device again.
        d->setDeviceState(false);
    });
    d->started = true;
    d->setStatus(Loading);
    d->connection->subscribe(d->replyTopic, 1);
    // One request, in this order: the files come before the device's state.
    d->connection->subscribe(
        QStringList { d->base + QStringLiteral("$units"), d->base + QStringLiteral("$dict/+"),
            d->base + QStringLiteral("$state") },
        1);
    for (auto it = d->points.begin(); it != d->points.end(); ++it) {
        if (it->subscribed)
            d->connection->subscribe(it->topic, 1);
    }
    if (d->connection->state() == MqttConnection::Disconnected && !d->connection->open()) {
        d->error = d->connection->errorString();
        Q_EMIT warning(d->error);
        stop();
        return false;
    }
    return true;
}

void DPointMirror::stop()
{
    if (!d->started)
        return;
    d->refuseAll(QStringLiteral("STOPPED"), tr("The panel stopped mirroring the device"));
    d->started = false;
    for (const QMetaObject::Connection& connection : qAsConst(d->connections))
        disconnect(connection);
    d->connections.clear();
    d->connection->unsubscribe(d->replyTopic);
    for (const QString& level :
        { QStringLiteral("$units"), QStringLiteral("$dict/+"), QStringLiteral("$state") })
        d->connection->unsubscribe(d->base + level);
    for (auto it = d->points.constBegin(); it != d->points.constEnd(); ++it) {
        if (it->subscribed)
            d->connection->unsubscribe(it->topic);
    }
    d->stateSeen = false;
    d->deviceOnline = false;
    d->setDeviceState(false);
    d->setStatus(Idle);
}

DPointMirror::Status DPointMirror::status() const
{
    return d->status;
}

QString DPointMirror::errorString() const
{
    return d->error;
}

bool DPointMirror::isDeviceOnline() const
{
    return d->online();
}

MeasurementRegistry* DPointMirror::registry() const
{
    return d->registries.empty() ? nullptr : d->registries.back().get();
}

QList<DPointDictionary*> DPointMirror::dictionaries() const
{
    return d->dicts.values();
}

int DPointMirror::subscribedPointCount() const
{
    int count = 0;
    for (auto it = d->points.constBegin(); it != d->points.constEnd(); ++it)
        count += it->subscribed ? 1 : 0;
    return count;
}

} // namespace kivo

#include "DPointMirror.moc"
