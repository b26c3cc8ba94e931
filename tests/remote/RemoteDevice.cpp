// A device in a process of its own, for tests that kill it: publishes as device argv[2] over the
// broker at argv[1] with a keep-alive of 5 s and prints "online" each time the broker has
// accepted it.
//
// With two arguments it is the sample boiler and confirms every write. With a third, the path
// of a dictionary file (units from the sample measurement file), it is a busy device: it changes
// its integer, real and enumeration points one after the other as fast as the broker
// acknowledges them (at most a window of messages unacknowledged), confirms writes of even
// values and refuses odd ones. A line "stop" on its standard input ends the changes and prints
// "values <n>", then "<point>\t<raw value>" for each point, then "end".

#include "RemoteFixtures.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/remote/DPointPublisher.h>
#include <kivo/remote/MqttConnection.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace kivo;

// AddressSanitizer's quarantine of freed memory (256 MiB by default) would read as growth in a
// soak's resident-memory figures.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options();
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=4";
}

namespace {

void say(const char* line)
{
    std::puts(line);
    std::fflush(stdout);
}

// Values a busy device steps through, by kind of point.
struct Churned
{
    DPointObject* point = nullptr;
    std::vector<QVariant> values;
    size_t next = 0;
};

std::vector<QVariant> stepsOf(const DPointDef* def)
{
    std::vector<QVariant> values;
    if (const auto* number = qobject_cast<const DPTypeNumber*>(def->m_type)) {
        const qint64 range = qint64(number->m_max) - number->m_min;
        for (qint64 i = 0; i < 7 && i <= range; ++i)
            values.emplace_back(int(number->m_min + i * (range / 6 > 0 ? range / 6 : 1)));
    } else if (const auto* real = qobject_cast<const DPTypeReal*>(def->m_type)) {
        const double low = std::isnan(real->m_min) ? 0.0 : real->m_min;
        const double high = std::isnan(real->m_max) ? low + 100.0 : real->m_max;
        for (int i = 0; i < 7; ++i)
            values.emplace_back(low + (high - low) * i / 6.0);
    } else if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(def->m_type)) {
        QList<int> keys = enumeration->m_values.keys();
        std::sort(keys.begin(), keys.end());
        for (int key : keys)
            values.emplace_back(key);
    }
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

class BusyDevice
{
public:
    BusyDevice(const QString& url, const QString& device, const QString& dictionaryPath)
        : m_registry(MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")))
        , m_publisher(&m_connection, &m_provider, device)
    {
        DPDictLoader loader(nullptr, nullptr, m_registry.get());
        m_dictionary.reset(loader.load(dictionaryPath, QStringLiteral("plant")));
        if (!m_registry || !m_dictionary)
            qFatal("cannot load %s", qPrintable(dictionaryPath));
        for (DPointObject* point : m_provider.addPointsForDict(m_dictionary.get())) {
            const DPointDef* def = point->getDPointDef();
            Churned churned { point, stepsOf(def), 0 };
            if (!churned.values.empty())
                point->setCurrentValue(churned.values.front());
            else if (qobject_cast<const DPTypeIPv4*>(def->m_type))
                point->setCurrentValue(QVariant(0x0A000001));
            else
                point->setCurrentValue(def->m_type->getDefaultValue());
            QObject::connect(
                point, &DPointObject::updatePending, &m_provider, [point] { answer(point); });
            m_points.push_back(point);
            if (churned.values.size() > 1)
                m_churned.push_back(churned);
        }
        QFile dictionary(dictionaryPath);
        if (!dictionary.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(dictionaryPath));
        m_publisher.setUnitsFile(kivo::test::sampleFile("measurements.xml"));
        m_publisher.addDictionaryFile(QStringLiteral("plant"), dictionary.readAll());
        m_connection.setBrokerUrl(url);
        m_connection.setReconnectDelay(50, 200);
        m_connection.setKeepAlive(5);

        m_step.setInterval(0);
        QObject::connect(&m_step, &QTimer::timeout, [this] { step(); });
        QObject::connect(&m_connection, &MqttConnection::connected, [this] {
            m_unacknowledged = 0;
            m_step.start();
            say("online");
        });
        QObject::connect(&m_connection, &MqttConnection::disconnected, [this] { m_step.stop(); });
        QObject::connect(&m_connection, &MqttConnection::published, [this] {
            if (m_unacknowledged > 0)
                --m_unacknowledged;
            if (m_unacknowledged < window / 2 && !m_stopped && m_connection.isConnected())
                m_step.start();
        });
    }

    ~BusyDevice() { m_publisher.stop(); }

    bool start() { return m_publisher.start(); }

    void command(const QByteArray& line)
    {
        if (line.trimmed() != "stop")
            return;
        m_stopped = true;
        m_step.stop();
        std::printf("values %d\n", int(m_points.size()));
        for (DPointObject* point : m_points) {
            std::printf("%s\t%s\n", qPrintable(point->objectName()),
                qPrintable(point->getCurrentValue().toString()));
        }
        say("end");
    }

private:
    static constexpr int window = 400;
    static constexpr int batch = 50;

    static void answer(DPointObject* point)
    {
        if (!point->isPending())
            return;
        const QVariant wanted = point->getPendingValue();
        if (wanted.toInt() % 2 == 0)
            point->setUpdateComplete(wanted, StatRef());
        else
            point->setUpdateComplete(point->getCurrentValue(),
                StatRef(new StatBase(QStringLiteral("E_ODD"), QStringLiteral("Odd values only"))));
    }

    // One batch of changes, each published by the publisher as the point reports it.
    void step()
    {
        if (m_churned.empty() || m_stopped)
            return;
        for (int i = 0; i < batch; ++i) {
            Churned& churned = m_churned[m_cursor];
            m_cursor = (m_cursor + 1) % m_churned.size();
            if (churned.point->isPending())
                continue;
            churned.next = (churned.next + 1) % churned.values.size();
            churned.point->setCurrentValue(churned.values[churned.next]);
            ++m_unacknowledged;
        }
        if (m_unacknowledged >= window)
            m_step.stop();
    }

    std::unique_ptr<MeasurementRegistry> m_registry;
    std::unique_ptr<DPointDictionary> m_dictionary;
    MqttConnection m_connection;
    DPointProvider m_provider;
    DPointPublisher m_publisher;
    std::vector<DPointObject*> m_points;
    std::vector<Churned> m_churned;
    size_t m_cursor = 0;
    int m_unacknowledged = 0;
    bool m_stopped = false;
    QTimer m_step;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s BROKER-URL DEVICE [DICTIONARY]\n", argv[0]);
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    if (argc == 4) {
        BusyDevice device(url, name, QString::fromLocal8Bit(argv[3]));
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QByteArray pending;
        QObject::connect(&input, &QSocketNotifier::activated, [&] {
            char buffer[256];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            input.setEnabled(got > 0);
            pending.append(buffer, int(std::max<ssize_t>(got, 0)));
            for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
                device.command(pending.left(end));
        });
        if (!device.start())
            return 1;
        return app.exec();
    }
    kivo::test::BoilerDevice device(url, name);
    device.connection.setKeepAlive(5);
    QObject::connect(&device.connection, &kivo::MqttConnection::connected, [] { say("online"); });
    if (!device.publisher.start())
        return 1;
    return app.exec();
}
