// Benchmarks of the remote link (kivoremote), each next to a floor measured in the same run with
// bare libmosquitto clients on the same private broker: a panel mirroring a 20,000-point device,
// the write round trip through a DPointPublisher, and the CPU a panel spends per value update.
// One-shot work (the mirror) runs in a fresh process per round: the program starts itself again
// with --kivo_round=... and takes the time the child prints. After the benchmarks, the medians
// and their ratios to the floors are printed one per line ("ratio <figure> <value> ...").

#include "BareMqttClient.h"
#include "DictionaryGenerator.h"
#include "MosquittoBroker.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/remote/DPointMirror.h>
#include <kivo/remote/DPointPublisher.h>
#include <kivo/remote/MqttConnection.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

using namespace kivo;
using namespace kivo::bench;
using namespace kivo::test;

namespace {

constexpr int mirrorPoints = 20000;
const char plantDevice[] = "plant"; // the 20,000 retained values, seeded by a bare client
const char rigDevice[] = "rig"; // shared by a DPointPublisher for the write round trip
// The update floor's own copy of the update points: a flood for one of the two receivers must
// not reach the other, which would find it waiting at its next round.
const char floorDevice[] = "floor";

struct Options
{
    QString round; // set in a child started for one round
    int port = 0;
    QString names;
    QString device = QLatin1String(plantDevice);
    int rounds = 9;
    int writes = 1000;
    int updates = 20000;
    int pacedUpdates = 4000;
    int paceUs = 250;
    int updatePoints = 1000;
    QStringList wrapper; // run the rounds' children under this (valgrind)
};

Options& options()
{
    static Options o;
    return o;
}

struct Context
{
    QString directory;
    MosquittoBroker* broker = nullptr;
    QString dictionaryPath;
    QString plantNames; // a file with the 20,000 point names, one a line
    QString updateNames; // the integer points whose values the update benchmarks change
    std::map<std::string, std::vector<double>> samples;
};

Context& context()
{
    static Context c;
    return c;
}

QString base(const char* device)
{
    return QStringLiteral("kivo/") + QLatin1String(device) + QLatin1Char('/');
}

double cpuNs(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

double threadCpuNs()
{
    return cpuNs(CLOCK_THREAD_CPUTIME_ID);
}

// The CPU clock of the calling thread, readable from any other.
clockid_t currentThreadClock()
{
    clockid_t clock = CLOCK_THREAD_CPUTIME_ID;
    pthread_getcpuclockid(pthread_self(), &clock);
    return clock;
}

QByteArray jsonText(const QString& text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20)
            out += c;
    }
    return out + '"';
}

QByteArray jsonOf(const QVariant& raw)
{
    switch (raw.userType()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QByteArray::number(raw.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QByteArray::number(raw.toULongLong());
    case QMetaType::Double:
        return QByteArray::number(raw.toDouble(), 'g', 17);
    case QMetaType::Bool:
        return raw.toBool() ? "true" : "false";
    default:
        return jsonText(raw.toString());
    }
}

QByteArray valuePayload(const QByteArray& v, const QString& text)
{
    return "{\"v\":" + v + ",\"text\":" + jsonText(text)
        + ",\"ts\":" + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '}';
}

// A value of def's type that the panel takes, as the device would publish it.
QVariant sampleRaw(const DPointDef* def)
{
    const DPTypeBase* type = def->m_type;
    if (const auto* number = qobject_cast<const DPTypeNumber*>(type))
        return QVariant(number->m_min);
    if (const auto* real = qobject_cast<const DPTypeReal*>(type))
        return QVariant(std::isnan(real->m_min) ? 0.5 : real->m_min);
    if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(type)) {
        QList<int> keys = enumeration->m_values.keys();
        std::sort(keys.begin(), keys.end());
        return QVariant(keys.isEmpty() ? 0 : keys.first());
    }
    if (qobject_cast<const DPTypeEvent*>(type))
        return QVariant(0);
    if (qobject_cast<const DPTypeTime*>(type))
        return QVariant(3600u);
    if (qobject_cast<const DPTypeIPv4*>(type))
        return QVariant(0x0A000001);
    return QVariant(QStringLiteral("AHU001"));
}

std::vector<std::string> readLines(const QString& path)
{
    std::vector<std::string> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            lines.push_back(line.toStdString());
    }
    return lines;
}

// Runs one round in a child process (the program itself, --kivo_round=...) and returns what it
// prints; empty when it fails.
QByteArray runChild(const QStringList& arguments, int timeoutMs = 600000)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList all = options().wrapper;
    all << QCoreApplication::applicationFilePath() << arguments;
    const QString program = all.takeFirst();
    // The event loop runs meanwhile, so that the connections of the rigs kept in this process
    // go on answering the broker.
    QEventLoop loop;
    QObject::connect(&child, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
        &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    child.start(program, all);
    loop.exec();
    if (child.state() != QProcess::NotRunning || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() != 0) {
        child.kill();
        child.waitForFinished();
        return QByteArray();
    }
    return child.readAllStandardOutput();
}

// The value after "key " in a child's output, -1 when absent.
double valueOf(const QByteArray& output, const char* key)
{
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2 && parts.at(0) == key)
            return parts.at(1).toDouble();
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// The device on the broker: its files and 20,000 retained values, published by a bare client.

bool seedPlant(const QString& measurements, const QString& dictionaryPath, int port)
{
    std::unique_ptr<MeasurementRegistry> registry(
        MeasurementLoader::loadMeasurementRegistry(measurements));
    DPDictLoader loader(nullptr, nullptr, registry.get());
    std::unique_ptr<DPointDictionary> dictionary(
        loader.load(dictionaryPath, QLatin1String(plantDevice)));
    QFile units(measurements);
    QFile dict(dictionaryPath);
    if (!registry || !dictionary || !units.open(QIODevice::ReadOnly)
        || !dict.open(QIODevice::ReadOnly))
        return false;

    BareMqttClient client;
    if (!client.connect(port))
        return false;
    int acknowledged = 0;
    client.setPublishHandler([&acknowledged](int) { ++acknowledged; });
    const std::string prefix = base(plantDevice).toStdString();
    int sent = 0;
    auto publish = [&](const std::string& level, const QByteArray& payload) {
        client.publish(prefix + level, payload.toStdString(), 1, true);
        if (++sent % 200 == 0)
            client.loop(0);
    };
    publish("$units", units.readAll());
    publish(std::string("$dict/") + plantDevice, dict.readAll());
    QByteArray names;
    QByteArray updateNames;
    const QList<DPointDef*> defs = dictionary->getAllDefs();
    for (const DPointDef* def : defs) {
        const QString name = def->objectName().toLower();
        const QVariant raw = sampleRaw(def);
        publish("p/" + name.toStdString(),
            valuePayload(jsonOf(raw), DPointDisplay::displayText(def, raw)));
        names += name.toUtf8() + '\n';
        if (qobject_cast<const DPTypeNumber*>(def->m_type)
            && updateNames.count('\n') < options().updatePoints)
            updateNames += name.toUtf8() + '\n';
    }
    publish("$state", "online");
    if (!client.loopUntil([&] { return acknowledged == sent; }, 120000))
        return false;

    Context& c = context();
    c.plantNames = c.directory + QStringLiteral("/plant-names.txt");
    c.updateNames = c.directory + QStringLiteral("/update-names.txt");
    QFile namesFile(c.plantNames);
    QFile updateFile(c.updateNames);
    return namesFile.open(QIODevice::WriteOnly) && namesFile.write(names) == names.size()
        && updateFile.open(QIODevice::WriteOnly) && updateFile.write(updateNames) > 0;
}

// ---------------------------------------------------------------------------------------------
// Rounds run in a fresh process each

// From the start of MqttConnection and DPointMirror to every point's value: the files fetched
// and loaded, the points registered, all of them read (so all subscribed) and their retained
// values received.
int mirrorRound()
{
    QElapsedTimer timer;
    timer.start();
    MqttConnection connection;
    connection.setBrokerUrl(QStringLiteral("mqtt://127.0.0.1:%1").arg(options().port));
    DPointProvider provider;
    DPointMirror mirror(&connection, &provider, QLatin1String(plantDevice));
    std::vector<char> seen;
    int received = 0;
    int total = -1;
    qint64 readyNs = 0;
    QObject::connect(&mirror, &DPointMirror::warning,
        [](const QString& text) { std::fprintf(stderr, "mirror: %s\n", qPrintable(text)); });
    QObject::connect(&mirror, &DPointMirror::ready, [&] {
        if (total >= 0)
            return;
        readyNs = timer.nsecsElapsed();
        const QList<DPointObject*> points = provider.getAllPoints();
        total = points.size();
        seen.assign(points.size(), 0);
        for (int i = 0; i < points.size(); ++i) {
            QObject::connect(points.at(i), &DPointObject::valueChanged, [&, i] {
                if (!seen[i]) {
                    seen[i] = 1;
                    if (++received == total)
                        QCoreApplication::quit();
                }
            });
        }
        for (DPointObject* point : points)
            point->getCurrentValue();
    });
    QTimer::singleShot(120000, [] { QCoreApplication::exit(1); });
    if (!mirror.start())
        return 1;
    const int rc = QCoreApplication::exec();
    const qint64 elapsed = timer.nsecsElapsed();
    std::printf("points %d\nvalues %d\nready_ns %lld\nelapsed_ns %lld\ncpu_ns %.0f\n", total,
        received, static_cast<long long>(readyNs), static_cast<long long>(elapsed),
        cpuNs(CLOCK_PROCESS_CPUTIME_ID));
    // The process ends here: tearing 20,000 points down is no part of the figure, and would
    // only lengthen the run and fill a profile.
    std::fflush(stdout);
    std::_Exit(rc == 0 && received == mirrorPoints ? 0 : 1);
}

// The floor: a bare client subscribing to the same topics (the files and state in one request,
// the 20,000 values in requests of 1000, all at once since it knows the names) and receiving
// the same retained messages.
int mirrorFloorRound()
{
    const std::vector<std::string> names = readLines(options().names);
    const std::string prefix = base(plantDevice).toStdString();
    std::vector<std::string> filters;
    filters.reserve(names.size());
    for (const std::string& name : names)
        filters.push_back(prefix + "p/" + name);

    QElapsedTimer timer;
    timer.start();
    BareMqttClient client;
    int values = 0;
    int files = 0;
    client.setConnectHandler([&] {
        client.subscribe({ prefix + "$units", prefix + "$dict/+", prefix + "$state" });
        client.subscribe(filters);
    });
    const size_t valuePrefix = prefix.size() + 2;
    client.setMessageHandler([&](const mosquitto_message* message, const mosquitto_property*) {
        if (std::strncmp(message->topic + prefix.size(), "p/", 2) == 0
            && std::strlen(message->topic) > valuePrefix)
            ++values;
        else
            ++files;
    });
    if (!client.beginConnect(options().port)
        || !client.loopUntil([&] { return values == int(names.size()) && files == 3; }, 120000))
        return 1;
    const qint64 elapsed = timer.nsecsElapsed();
    std::printf("values %d\nelapsed_ns %lld\ncpu_ns %.0f\n", values,
        static_cast<long long>(elapsed), cpuNs(CLOCK_PROCESS_CPUTIME_ID));
    return 0;
}

// A device's updates, published by a bare client once "go" arrives on the standard input:
// --kivo_updates values cycling over the points of --kivo_names, each a change, QoS 1 and
// retained as a DPointPublisher sends them; --kivo_pace_us between two.
int floodRound()
{
    const std::vector<std::string> names = readLines(options().names);
    const std::string prefix
        = (QStringLiteral("kivo/") + options().device + QStringLiteral("/p/")).toStdString();
    BareMqttClient client;
    int acknowledged = 0;
    client.setPublishHandler([&acknowledged](int) { ++acknowledged; });
    if (names.empty() || !client.connect(options().port))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 1;
    const int count = options().updates;
    for (int i = 0; i < count; ++i) {
        const int round = i / int(names.size());
        const QByteArray v = QByteArray::number(7001 + round % 2);
        client.publish(prefix + names[size_t(i) % names.size()],
            valuePayload(v, QString::fromLatin1(v)).toStdString(), 1, true);
        if (options().paceUs > 0) {
            client.loop(0);
            std::this_thread::sleep_for(std::chrono::microseconds(options().paceUs));
        } else if (i % 100 == 99) {
            client.loop(0);
        }
    }
    if (!client.loopUntil([&] { return acknowledged == count; }, 300000))
        return 1;
    std::printf("done\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Goal 1: the mirror of 20,000 points

void BM_MirrorRound(benchmark::State& state, bool floor)
{
    const QStringList arguments { floor ? QStringLiteral("--kivo_round=mirror_floor")
                                        : QStringLiteral("--kivo_round=mirror"),
        QStringLiteral("--kivo_port=%1").arg(context().broker->port()),
        QStringLiteral("--kivo_names=") + context().plantNames };
    for (auto _ : state) {
        const double brokerStart = context().broker->cpuMs();
        const QByteArray output = runChild(arguments);
        const double brokerCpu = context().broker->cpuMs() - brokerStart;
        const double ns = valueOf(output, "elapsed_ns");
        if (ns <= 0) {
            state.SkipWithError("the round failed");
            return;
        }
        state.SetIterationTime(ns / 1e9);
        const std::string name = floor ? "mirror_floor" : "mirror";
        context().samples[name].push_back(ns / 1e6);
        context().samples[name + "_cpu"].push_back(valueOf(output, "cpu_ns") / 1e6);
        context().samples[name + "_broker_cpu"].push_back(brokerCpu);
        if (!floor)
            context().samples["mirror_ready"].push_back(valueOf(output, "ready_ns") / 1e6);
    }
}

// ---------------------------------------------------------------------------------------------
// Goal 2: the write round trip

// The device side in a thread of its own with its own event loop: a provider with the
// 20,000-point dictionary shared by a DPointPublisher, whose device side answers every write
// at once.
class RigDevice : public QObject
{
public:
    RigDevice(const QString& measurements, const QString& dictionaryPath, int port)
    {
        m_registry.reset(MeasurementLoader::loadMeasurementRegistry(measurements));
        DPDictLoader loader(nullptr, nullptr, m_registry.get());
        m_dictionary.reset(loader.load(dictionaryPath, QLatin1String(rigDevice)));
        if (!m_registry || !m_dictionary)
            return;
        m_connection.setBrokerUrl(QStringLiteral("mqtt://127.0.0.1:%1").arg(port));
        m_connection.setKeepAlive(3600);
        m_provider.addDict(m_dictionary.get());
        const QList<DPointDef*> defs = m_dictionary->getAllDefs();
        for (DPointDef* def : defs) {
            auto* point = new DPointObject;
            point->setObjectName(def->objectName());
            point->setDPointDef(def);
            m_provider.addPoint(point);
            const auto* number = qobject_cast<const DPTypeNumber*>(def->m_type);
            if (!m_target && def->m_writable && number && number->m_max - number->m_min > 4
                && number->m_min > -30000) {
                m_target = point;
                point->setCurrentValue(QVariant(number->m_min));
                QObject::connect(point, &DPointObject::updatePending, point, [point] {
                    if (point->isPending())
                        point->setUpdateComplete(point->getPendingValue(), StatRef());
                });
            }
        }
        QFile units(measurements);
        QFile dict(dictionaryPath);
        units.open(QIODevice::ReadOnly);
        dict.open(QIODevice::ReadOnly);
        m_publisher.setUnitsFile(units.readAll());
        m_publisher.addDictionaryFile(QLatin1String(rigDevice), dict.readAll());
        m_publisher.start();
    }
    ~RigDevice() override { m_publisher.stop(true); }

    QString targetName() const { return m_target ? m_target->objectName() : QString(); }

private:
    std::unique_ptr<MeasurementRegistry> m_registry;
    std::unique_ptr<DPointDictionary> m_dictionary;
    MqttConnection m_connection;
    DPointProvider m_provider;
    DPointPublisher m_publisher { &m_connection, &m_provider, QLatin1String(rigDevice) };
    DPointObject* m_target = nullptr;
};

struct WriteRig
{
    QThread thread;
    QObject* anchor = nullptr; // lives in the thread; the device is created and deleted there
    RigDevice* device = nullptr;
    MqttConnection connection;
    DPointProvider provider;
    std::unique_ptr<DPointMirror> mirror;
    DPointObject* point = nullptr;
    clockid_t deviceClock = CLOCK_THREAD_CPUTIME_ID;
    int low = 0;
    bool ok = false;

    WriteRig(const QString& measurements)
    {
        thread.start();
        anchor = new QObject;
        anchor->moveToThread(&thread);
        const QString dictionaryPath = context().dictionaryPath;
        const int port = context().broker->port();
        QString target;
        QMetaObject::invokeMethod(
            anchor,
            [&] {
                device = new RigDevice(measurements, dictionaryPath, port);
                target = device->targetName();
                deviceClock = currentThreadClock();
            },
            Qt::BlockingQueuedConnection);
        connection.setBrokerUrl(QStringLiteral("mqtt://127.0.0.1:%1").arg(port));
        // The rigs outlive many benchmarks, between which no event loop runs.
        connection.setKeepAlive(3600);
        mirror.reset(new DPointMirror(&connection, &provider, QLatin1String(rigDevice)));
        QEventLoop loop;
        QObject::connect(mirror.get(), &DPointMirror::ready, &loop, &QEventLoop::quit);
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        mirror->start();
        loop.exec();
        point = provider.getDPointByName(target);
        if (!point || mirror->status() != DPointMirror::Ready)
            return;
        low = static_cast<const DPTypeNumber*>(point->getDPointDef()->m_type)->m_min + 1;
        // A panel shows what it writes: the point is read, so its value topic is subscribed.
        QObject::connect(point, &DPointObject::valueChanged, &loop, &QEventLoop::quit);
        point->getCurrentValue();
        loop.exec();
        QObject::disconnect(point, nullptr, &loop, nullptr);
        ok = point->isAvailable();
    }

    ~WriteRig()
    {
        mirror.reset();
        QMetaObject::invokeMethod(
            anchor, [this] { delete device; }, Qt::BlockingQueuedConnection);
        anchor->deleteLater();
        thread.quit();
        thread.wait();
    }

    // One write, from setUpdatePending to the completion; false when it was not confirmed.
    bool write(int value)
    {
        QEventLoop loop;
        QObject::connect(point, &DPointObject::updateCompleted, &loop, &QEventLoop::quit);
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        point->setUpdatePending(QVariant(value), false);
        point->commitPending();
        loop.exec();
        return !point->isPending() && !point->getUpdateStatus().m_stat
            && point->getCurrentValue().toInt() == value;
    }
};

std::unique_ptr<WriteRig>& writeRig()
{
    static std::unique_ptr<WriteRig> rig;
    return rig;
}

void BM_WriteRoundTrip(benchmark::State& state)
{
    WriteRig* rig = writeRig().get();
    if (!rig || !rig->ok) {
        state.SkipWithError("the device or the mirror did not come up");
        return;
    }
    int n = 0;
    const double panelStart = threadCpuNs();
    const double deviceStart = cpuNs(rig->deviceClock);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool confirmed = rig->write(rig->low + (n++ % 2));
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!confirmed) {
            state.SkipWithError("a write was not confirmed");
            return;
        }
        state.SetIterationTime(elapsed.count());
        context().samples["write"].push_back(elapsed.count() * 1e6);
    }
    const double writes = double(state.iterations());
    context().samples["write_panel_cpu"].push_back((threadCpuNs() - panelStart) / writes);
    context().samples["write_device_cpu"].push_back(
        (cpuNs(rig->deviceClock) - deviceStart) / writes);
}

// The floor: a requester publishing on a request topic with an MQTT 5 response topic and
// correlation data, a responder in another thread answering on the response topic at once.
// Both publish outside libmosquitto's callbacks, as MqttConnection does, so that a publish
// goes out at once instead of at the next pass of the loop.
struct BareRig
{
    std::string requestTopic = "bare/request";
    std::string responseTopic = "bare/response/requester";
    BareMqttClient requester;
    std::thread responderThread;
    std::atomic<bool> stop { false };
    std::atomic<bool> responderUp { false };
    clockid_t responderClock = CLOCK_THREAD_CPUTIME_ID;
    std::string answered; // the correlation data of the last response received
    bool ok = false;

    BareRig()
    {
        const int port = context().broker->port();
        responderThread = std::thread([this, port] { respond(port); });
        requester.setMessageHandler(
            [this](const mosquitto_message*, const mosquitto_property* properties) {
                void* data = nullptr;
                uint16_t length = 0;
                if (mosquitto_property_read_binary(
                        properties, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
                    answered.assign(static_cast<const char*>(data), length);
                    free(data);
                }
            });
        ok = requester.connect(port);
        if (!ok)
            return;
        requester.subscribe({ responseTopic });
        ok = requester.loopUntil([this] { return requester.subscriptionsAcknowledged() == 1; });
        if (!ok)
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!responderUp && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ok = responderUp;
    }

    ~BareRig()
    {
        stop = true;
        responderThread.join();
    }

    void respond(int port)
    {
        BareMqttClient responder;
        struct Pending
        {
            std::string topic;
            std::string correlation;
        };
        std::vector<Pending> pending;
        responder.setMessageHandler(
            [&pending](const mosquitto_message*, const mosquitto_property* properties) {
                char* topic = nullptr;
                void* data = nullptr;
                uint16_t length = 0;
                mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &topic, false);
                mosquitto_property_read_binary(
                    properties, MQTT_PROP_CORRELATION_DATA, &data, &length, false);
                if (topic && data)
                    pending.push_back({ topic, std::string(static_cast<char*>(data), length) });
                free(topic);
                free(data);
            });
        if (!responder.connect(port))
            return;
        responderClock = currentThreadClock();
        responder.subscribe({ requestTopic });
        if (!responder.loopUntil([&] { return responder.subscriptionsAcknowledged() == 1; }))
            return;
        responderUp = true;
        const std::string answer
            = "{\"status\":\"confirmed\",\"v\":1,\"text\":\"1\",\"code\":\"\",\"message\":\"\"}";
        while (!stop) {
            responder.loop(50);
            for (const Pending& request : pending) {
                mosquitto_property* properties = nullptr;
                mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                    request.correlation.data(), uint16_t(request.correlation.size()));
                responder.publish(request.topic, answer, 1, false, properties);
                mosquitto_property_free_all(&properties);
            }
            pending.clear();
        }
    }

    bool request(quint64 id)
    {
        const std::string correlation = std::to_string(id);
        mosquitto_property* properties = nullptr;
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, responseTopic.c_str());
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
            uint16_t(correlation.size()));
        mosquitto_property_add_int32(&properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, 10);
        requester.publish(requestTopic, "{\"v\":1}", 1, false, properties);
        mosquitto_property_free_all(&properties);
        return requester.loopUntil([&] { return answered == correlation; }, 15000);
    }
};

std::unique_ptr<BareRig>& bareRig()
{
    static std::unique_ptr<BareRig> rig;
    return rig;
}

void BM_WriteRoundTripFloor(benchmark::State& state)
{
    BareRig* rig = bareRig().get();
    if (!rig || !rig->ok) {
        state.SkipWithError("the bare clients did not come up");
        return;
    }
    static quint64 id = 0;
    const double requesterStart = threadCpuNs();
    const double responderStart = cpuNs(rig->responderClock);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const bool answered = rig->request(++id);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!answered) {
            state.SkipWithError("a request was not answered");
            return;
        }
        state.SetIterationTime(elapsed.count());
        context().samples["write_floor"].push_back(elapsed.count() * 1e6);
    }
    const double requests = double(state.iterations());
    context().samples["write_panel_cpu_floor"].push_back(
        (threadCpuNs() - requesterStart) / requests);
    context().samples["write_device_cpu_floor"].push_back(
        (cpuNs(rig->responderClock) - responderStart) / requests);
}

// ---------------------------------------------------------------------------------------------
// Goal 3: CPU per value update received

// A device's updates published from another process: started, connected, then set off.
class Flood
{
public:
    bool start(const char* device, int updates, int paceUs)
    {
        m_process.start(QCoreApplication::applicationFilePath(),
            { QStringLiteral("--kivo_round=flood"),
                QStringLiteral("--kivo_device=") + QLatin1String(device),
                QStringLiteral("--kivo_port=%1").arg(context().broker->port()),
                QStringLiteral("--kivo_names=") + context().updateNames,
                QStringLiteral("--kivo_updates=%1").arg(updates),
                QStringLiteral("--kivo_pace_us=%1").arg(paceUs) });
        const bool ok = m_process.waitForStarted(60000) && m_process.waitForReadyRead(60000)
            && m_process.readLine().startsWith("ready");
        if (!ok)
            std::fprintf(stderr, "the publisher did not come up\n");
        return ok;
    }
    void go()
    {
        m_process.write("go\n");
        m_process.waitForBytesWritten(1000);
    }
    // The publisher may have ended already while the panel's event loop ran.
    bool finish()
    {
        if (m_process.state() != QProcess::NotRunning)
            m_process.waitForFinished(300000);
        return m_process.state() == QProcess::NotRunning
            && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
};

// The panel: a mirror of the 20,000-point device with the update points read (subscribed).
struct UpdatePanel
{
    MqttConnection connection;
    DPointProvider provider;
    std::unique_ptr<DPointMirror> mirror;
    QEventLoop* loop = nullptr;
    int received = 0;
    int target = 0;
    bool ok = false;

    UpdatePanel()
    {
        connection.setBrokerUrl(
            QStringLiteral("mqtt://127.0.0.1:%1").arg(context().broker->port()));
        connection.setKeepAlive(3600);
        mirror.reset(new DPointMirror(&connection, &provider, QLatin1String(plantDevice)));
        QEventLoop wait;
        QObject::connect(mirror.get(), &DPointMirror::ready, &wait, &QEventLoop::quit);
        // Generous: under valgrind the load alone takes a minute.
        QTimer::singleShot(600000, &wait, &QEventLoop::quit);
        mirror->start();
        wait.exec();
        std::vector<DPointObject*> points;
        for (const std::string& name : readLines(context().updateNames)) {
            if (DPointObject* point = provider.getDPointByName(QString::fromStdString(name)))
                points.push_back(point);
        }
        if (points.empty()) {
            std::fprintf(stderr, "the update panel's mirror did not come up: status %d, %s\n",
                int(mirror->status()), qPrintable(mirror->errorString()));
            return;
        }
        for (DPointObject* point : points) {
            QObject::connect(point, &DPointObject::valueChanged, point, [this] {
                if (++received == target && loop)
                    loop->quit();
            });
        }
        target = int(points.size());
        loop = &wait;
        for (DPointObject* point : points)
            point->getCurrentValue();
        if (received < target)
            wait.exec();
        loop = nullptr;
        ok = received == target;
        if (!ok)
            std::fprintf(stderr, "update panel: %d of %d values\n", received, target);
    }

    // Thread CPU time while receiving updates values, in ns; negative on failure. Not inlined,
    // so that callgrind can collect inside it alone (--toggle-collect='*UpdatePanel::receive*').
    Q_NEVER_INLINE double receive(int updates, int paceUs)
    {
        Flood flood;
        if (!flood.start(plantDevice, updates, paceUs))
            return -1;
        QEventLoop wait;
        received = 0;
        target = updates;
        loop = &wait;
        QTimer::singleShot(300000, &wait, &QEventLoop::quit);
        const double start = threadCpuNs();
        flood.go();
        wait.exec();
        const double cpu = threadCpuNs() - start;
        loop = nullptr;
        const bool finished = flood.finish();
        if (!finished || received != updates) {
            std::fprintf(stderr, "updates: %d of %d received, publisher %s\n", received, updates,
                finished ? "done" : "failed");
            return -1;
        }
        return cpu;
    }
};

struct UpdateFloor
{
    BareMqttClient client;
    int received = 0;
    bool ok = false;

    UpdateFloor()
    {
        const std::string prefix = base(floorDevice).toStdString() + "p/";
        std::vector<std::string> filters;
        for (const std::string& name : readLines(context().updateNames))
            filters.push_back(prefix + name);
        client.setMessageHandler(
            [this](const mosquitto_message*, const mosquitto_property*) { ++received; });
        if (filters.empty() || !client.connect(context().broker->port()))
            return;
        client.subscribe(filters);
        ok = client.loopUntil([&] { return client.subscriptionsAcknowledged() == 1; }, 60000);
    }

    Q_NEVER_INLINE double receive(int updates, int paceUs)
    {
        Flood flood;
        if (!flood.start(floorDevice, updates, paceUs))
            return -1;
        received = 0;
        const double start = threadCpuNs();
        flood.go();
        const bool all = client.loopUntil([&] { return received == updates; }, 300000);
        const double cpu = threadCpuNs() - start;
        return flood.finish() && all ? cpu : -1;
    }
};

std::unique_ptr<UpdatePanel>& updatePanel()
{
    static std::unique_ptr<UpdatePanel> panel;
    return panel;
}

std::unique_ptr<UpdateFloor>& updateFloor()
{
    static std::unique_ptr<UpdateFloor> floor;
    return floor;
}

double receiveMirrorUpdates(int updates, int paceUs)
{
    if (!updatePanel())
        updatePanel().reset(new UpdatePanel);
    return updatePanel()->ok ? updatePanel()->receive(updates, paceUs) : -1;
}

double receiveBareUpdates(int updates, int paceUs)
{
    if (!updateFloor())
        updateFloor().reset(new UpdateFloor);
    return updateFloor()->ok ? updateFloor()->receive(updates, paceUs) : -1;
}

void BM_UpdateCpu(benchmark::State& state, bool floor, bool paced)
{
    const int updates = paced ? options().pacedUpdates : options().updates;
    const int pace = paced ? options().paceUs : 0;
    for (auto _ : state) {
        const double cpu
            = floor ? receiveBareUpdates(updates, pace) : receiveMirrorUpdates(updates, pace);
        if (cpu < 0) {
            state.SkipWithError("the updates did not all arrive");
            return;
        }
        state.SetIterationTime(cpu / 1e9 / updates);
        const std::string name = std::string("update_") + (paced ? "paced" : "burst");
        context().samples[floor ? name + "_floor" : name].push_back(cpu / updates);
    }
}

// ---------------------------------------------------------------------------------------------

double median(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printFigure(const char* name, const char* floorName, const char* unit, double goal)
{
    const auto& samples = context().samples;
    const auto figure = samples.find(name);
    const auto floor = samples.find(floorName);
    if (figure == samples.end() || floor == samples.end()) {
        std::printf("ratio %s_vs_floor not measured\n", name);
        return;
    }
    const double a = median(figure->second);
    const double b = median(floor->second);
    std::printf("figure %s median %.3f %s over %d, floor %.3f %s over %d\n", name, a, unit,
        int(figure->second.size()), b, unit, int(floor->second.size()));
    std::printf("ratio %s_vs_floor %.2f (goal <= %g: %s)\n", name, a / b, goal,
        a / b <= goal ? "met" : "MISSED");
}

// A figure that explains the others: no goal.
void printInfo(const char* name, const char* floorName, const char* unit)
{
    const auto& samples = context().samples;
    const auto figure = samples.find(name);
    const auto floor = samples.find(floorName);
    if (figure == samples.end() || floor == samples.end())
        return;
    const double a = median(figure->second);
    const double b = median(floor->second);
    std::printf("figure %s median %.0f %s, floor %.0f %s\nratio %s_vs_floor %.2f (no goal)\n", name,
        a, unit, b, unit, name, a / b);
}

// Takes the program's own options out of the argument list.
void parseOptions(int* argc, char** argv)
{
    Options& o = options();
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const QByteArray arg(argv[i]);
        const int equals = arg.indexOf('=');
        const QByteArray key = equals > 0 ? arg.left(equals) : arg;
        const QByteArray value = equals > 0 ? arg.mid(equals + 1) : QByteArray();
        if (key == "--kivo_round")
            o.round = QString::fromLatin1(value);
        else if (key == "--kivo_port")
            o.port = value.toInt();
        else if (key == "--kivo_names")
            o.names = QString::fromLocal8Bit(value);
        else if (key == "--kivo_device")
            o.device = QString::fromLatin1(value);
        else if (key == "--kivo_rounds")
            o.rounds = std::max(1, value.toInt());
        else if (key == "--kivo_writes")
            o.writes = std::max(1, value.toInt());
        else if (key == "--kivo_updates")
            o.updates = std::max(1, value.toInt());
        else if (key == "--kivo_paced_updates")
            o.pacedUpdates = std::max(1, value.toInt());
        else if (key == "--kivo_pace_us")
            o.paceUs = std::max(0, value.toInt());
        else if (key == "--kivo_wrap")
            o.wrapper = QString::fromLocal8Bit(value).split(QLatin1Char(','));
        else
            argv[kept++] = argv[i];
    }
    *argc = kept;
}

} // namespace

int main(int argc, char** argv)
{
    parseOptions(&argc, argv);
    if (!options().round.isEmpty()) {
        QCoreApplication app(argc, argv);
        TopicLogger::disableAllTopics();
        if (options().round == QLatin1String("mirror"))
            return mirrorRound();
        if (options().round == QLatin1String("mirror_floor"))
            return mirrorFloorRound();
        if (options().round == QLatin1String("flood"))
            return floodRound();
        std::fprintf(stderr, "unknown round %s\n", qPrintable(options().round));
        return 2;
    }

    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int benchArgc = static_cast<int>(args.size());
    benchmark::Initialize(&benchArgc, args.data());
    if (benchmark::ReportUnrecognizedArguments(benchArgc, args.data()))
        return 1;
    QCoreApplication app(benchArgc, args.data());
    TopicLogger::disableAllTopics();

    QTemporaryDir directory;
    Context& c = context();
    c.directory = directory.path();
    // A mirror of 20,000 points subscribes to 20,000 retained values at once: the broker sends
    // as many as the panel's receive maximum (1000) allows and queues the rest, which the
    // default queue limit (1000 per client) would drop. max_inflight_messages is the broker's
    // own receive maximum towards publishers, raised from 20 to the clients' 1000.
    MosquittoBroker broker({ QStringLiteral("allow_anonymous true"),
        QStringLiteral("max_queued_messages 50000"), QStringLiteral("max_inflight_messages 1000"),
        QStringLiteral("log_type error"), QStringLiteral("log_type warning") });
    if (!directory.isValid() || !broker.start()) {
        std::fprintf(stderr, "cannot start the broker\n");
        return 1;
    }
    c.broker = &broker;
    std::printf("broker mosquitto on port %d\n", broker.port());
    const QString measurements = QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml");
    c.dictionaryPath = directory.filePath(QStringLiteral("dictionary-20000.xml"));
    const GeneratedDictionary file
        = writeDictionary(c.dictionaryPath, mirrorPoints, readUnits(measurements));
    if (file.path.isEmpty() || !seedPlant(measurements, c.dictionaryPath, broker.port())) {
        std::fprintf(stderr, "cannot publish the device's files and values\n");
        return 1;
    }
    std::printf("device %s: %d retained values, dictionary of %lld bytes\n", plantDevice,
        file.points, static_cast<long long>(file.bytes));
    std::fflush(stdout);

    const Options& o = options();
    benchmark::RegisterBenchmark("mirror_20000/bare_floor", BM_MirrorRound, true)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(o.rounds)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("mirror_20000/mirror", BM_MirrorRound, false)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(o.rounds)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("write_round_trip/bare_floor", BM_WriteRoundTripFloor)
        ->UseManualTime()
        ->Iterations(std::max(1, o.writes / 10))
        ->Repetitions(10)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("write_round_trip/mirror", BM_WriteRoundTrip)
        ->UseManualTime()
        ->Iterations(std::max(1, o.writes / 10))
        ->Repetitions(10)
        ->Unit(benchmark::kMicrosecond);
    for (const bool paced : { false, true }) {
        const std::string name = paced ? "update_cpu_paced/" : "update_cpu_burst/";
        benchmark::RegisterBenchmark((name + "bare_floor").c_str(), BM_UpdateCpu, true, paced)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "mirror").c_str(), BM_UpdateCpu, false, paced)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMicrosecond);
    }

    // The write rigs come up before any benchmark runs, so that no figure includes them.
    const QString filter = QString::fromLocal8Bit(benchmark::GetBenchmarkFilter().c_str());
    if (filter.isEmpty() || filter.contains(QLatin1String("write")) || filter == QLatin1String(".")
        || filter == QLatin1String("all")) {
        writeRig().reset(new WriteRig(measurements));
        bareRig().reset(new BareRig);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n");
    printFigure("mirror", "mirror_floor", "ms", 1.5);
    if (c.samples.count("mirror_ready")) {
        std::printf("figure mirror_ready median %.3f ms (files loaded, points registered)\n",
            median(c.samples["mirror_ready"]));
    }
    printInfo("mirror_cpu", "mirror_floor_cpu", "ms CPU of the panel's process");
    printInfo("mirror_broker_cpu", "mirror_floor_broker_cpu", "ms CPU of the broker");
    printFigure("write", "write_floor", "us", 1.5);
    printInfo("write_panel_cpu", "write_panel_cpu_floor", "ns CPU");
    printInfo("write_device_cpu", "write_device_cpu_floor", "ns CPU");
    printFigure("update_burst", "update_burst_floor", "ns CPU", 2.0);
    printFigure("update_paced", "update_paced_floor", "ns CPU", 2.0);
    std::fflush(stdout);
    writeRig().reset();
    bareRig().reset();
    updatePanel().reset();
    updateFloor().reset();
    broker.stop();
    return 0;
}
