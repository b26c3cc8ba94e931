#include "DictionaryGenerator.h"
#include "MosquittoBroker.h"
#include "RemoteFixtures.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/types/DPTypeBase.h>
#include <kivo/types/DPTypeNumber.h>

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <vector>

using namespace kivo;
using namespace kivo::test;

// AddressSanitizer's quarantine of freed memory (256 MiB by default) would read as growth.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options();
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=4";
}

namespace {

constexpr int devices = 2;
constexpr int panels = 2;
constexpr int pointsPerDevice = 1000;

// Resident memory of process pid (0: this one) in KiB, from /proc; -1 when it cannot be read.
qint64 residentKiB(qint64 pid)
{
    QFile status(
        pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A busy device (kivo_remote_device with a dictionary) in a process of its own.
struct DeviceProcess
{
    explicit DeviceProcess(const QStringList& arguments)
        : arguments(arguments)
    { }

    ~DeviceProcess()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            kill();
    }

    bool start()
    {
        output.clear();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(KIVO_REMOTE_DEVICE_EXE), arguments);
        return process.waitForStarted(5000);
    }

    void kill()
    {
        process.kill();
        process.waitForFinished(5000);
    }

    // Whether the device has printed line since it was started.
    bool hasPrinted(const QByteArray& line)
    {
        output += process.readAllStandardOutput();
        return output.startsWith(line + '\n') || output.contains('\n' + line + '\n');
    }

    // The values printed after "stop", by point name.
    QHash<QString, QString> values() const
    {
        QHash<QString, QString> values;
        for (const QByteArray& line : output.mid(output.indexOf("values ")).split('\n')) {
            const int tab = line.indexOf('\t');
            if (tab > 0)
                values.insert(
                    QString::fromUtf8(line.left(tab)), QString::fromUtf8(line.mid(tab + 1)));
        }
        return values;
    }

    const QStringList arguments;
    QProcess process;
    QByteArray output;
};

// How the writes of the soak ended.
struct WriteTally
{
    int issued = 0;
    int confirmed = 0;
    int refusedByDevice = 0;
    QMap<QString, int> refusedByLink; // by code
    QHash<DPointObject*, int> issuedTo;
    QHash<DPointObject*, int> completedOf;
    int completedTwice = 0; // completions of a point beyond the writes issued to it so far
};

} // namespace

// A day of faults, compressed: two busy devices in processes of their own, each with 1,000
// points changing as fast as the broker takes them, mirrored by two panels that read every point
// and write once a second; the broker is restarted twice (in order and killed) and one device is
// killed and started again. KIVO_SOAK_SECONDS sets the length (default 30 s).
class TestRemoteSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
        QVERIFY(m_dir.isValid());
        m_dictionary = m_dir.filePath(QStringLiteral("plant.xml"));
        QVERIFY(!test::writeDictionary(m_dictionary, pointsPerDevice,
            test::readUnits(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")))
                     .path.isEmpty());
        QVERIFY(m_broker.start());
    }

    void dayOfFaults()
    {
        const int seconds = qEnvironmentVariableIsSet("KIVO_SOAK_SECONDS")
            ? qEnvironmentVariableIntValue("KIVO_SOAK_SECONDS")
            : 30;
        QVERIFY(seconds >= 10);
        const qint64 length = seconds * 1000LL;
        // Declared before the panels, whose points report to them until they are gone.
        qint64 updates = 0;
        WriteTally tally;

        std::vector<std::unique_ptr<DeviceProcess>> processes;
        for (int d = 0; d < devices; ++d) {
            processes.emplace_back(
                new DeviceProcess({ m_broker.url(), deviceName(d), m_dictionary }));
            QVERIFY(processes.back()->start());
        }
        for (auto& process : processes)
            QTRY_VERIFY_WITH_TIMEOUT(process->hasPrinted("online"), 20000);

        // panel p, device d: mirrors[p * devices + d]
        std::vector<std::unique_ptr<Panel>> mirrors;
        for (int p = 0; p < panels; ++p) {
            for (int d = 0; d < devices; ++d) {
                mirrors.emplace_back(new Panel(m_broker.url(), deviceName(d)));
                mirrors.back()->mirror.setWriteTimeout(5000);
                QVERIFY(mirrors.back()->mirror.start());
            }
        }
        for (auto& panel : mirrors) {
            QTRY_COMPARE_WITH_TIMEOUT(panel->mirror.status(), DPointMirror::Ready, 30000);
            const QList<DPointObject*> points = panel->provider.getAllPoints();
            QCOMPARE(points.size(), pointsPerDevice);
            for (DPointObject* point : points) {
                point->getCurrentValue();
                connect(point, &DPointObject::valueChanged, this, [&updates] { ++updates; });
            }
        }
        for (auto& panel : mirrors) {
            QTRY_VERIFY_WITH_TIMEOUT(allAvailable(panel.get()), 30000);
        }

        std::vector<std::unique_ptr<QTimer>> writers;
        for (int p = 0; p < panels; ++p) {
            std::vector<DPointObject*> targets = writeTargets(mirrors, p);
            QVERIFY(!targets.empty());
            writers.emplace_back(new QTimer);
            writers.back()->setInterval(1000);
            connect(writers.back().get(), &QTimer::timeout, this,
                [this, targets, &tally, next = size_t(0)]() mutable {
                    write(targets, &next, &tally);
                });
        }

        std::array<qint64, devices + 1> start {}, middle {}, end {};
        auto sample = [&](std::array<qint64, devices + 1>& figures) {
            for (int d = 0; d < devices; ++d)
                figures[size_t(d)] = residentKiB(processes[size_t(d)]->process.processId());
            figures[devices] = residentKiB(0);
        };
        sample(start);
        const qint64 updatesAtStart = updates;
        QElapsedTimer clock;
        clock.start();
        for (auto& writer : writers)
            writer->start();
        auto runUntil = [&](double share) {
            QTest::qWait(int(std::max<qint64>(0, qint64(length * share) - clock.elapsed())));
        };
        auto allOnline = [&] {
            return std::all_of(mirrors.begin(), mirrors.end(),
                [](const std::unique_ptr<Panel>& panel) { return panel->mirror.isDeviceOnline(); });
        };

        runUntil(0.1);
        m_broker.stop();
        QVERIFY(m_broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(allOnline(), 20000);

        runUntil(0.2);
        processes[1]->kill();
        QTRY_VERIFY_WITH_TIMEOUT(!mirrors[1]->mirror.isDeviceOnline(), 10000);
        QVERIFY(processes[1]->start());
        QTRY_VERIFY_WITH_TIMEOUT(processes[1]->hasPrinted("online"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(allOnline(), 20000);

        runUntil(0.5);
        sample(middle);

        runUntil(0.75);
        m_broker.kill();
        QVERIFY(m_broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(allOnline(), 20000);

        runUntil(1.0);
        sample(end);
        const qint64 elapsed = clock.elapsed();
        const qint64 received = updates - updatesAtStart;
        for (auto& writer : writers)
            writer->stop();

        // Every write completes once: confirmed or refused, none left pending.
        QTRY_COMPARE_WITH_TIMEOUT(
            std::accumulate(tally.completedOf.cbegin(), tally.completedOf.cend(), 0), tally.issued,
            10000);
        for (auto it = tally.issuedTo.cbegin(); it != tally.issuedTo.cend(); ++it) {
            QCOMPARE(tally.completedOf.value(it.key()), it.value());
            QVERIFY(!it.key()->isPending());
        }
        QCOMPARE(tally.completedTwice, 0);
        QVERIFY(tally.confirmed > 0);
        QVERIFY(tally.refusedByDevice > 0);

        // Every panel ends with its device's values.
        for (auto& process : processes)
            process->process.write("stop\n");
        for (auto& process : processes)
            QTRY_VERIFY_WITH_TIMEOUT(process->hasPrinted("end"), 10000);
        for (int d = 0; d < devices; ++d) {
            const QHash<QString, QString> values = processes[size_t(d)]->values();
            QCOMPARE(values.size(), pointsPerDevice);
            for (int p = 0; p < panels; ++p) {
                Panel* panel = mirrors[size_t(p * devices + d)].get();
                QString differs;
                QTRY_VERIFY2_WITH_TIMEOUT((differs = firstDifference(panel, values)).isEmpty(),
                    qPrintable(differs), 20000);
            }
        }

        qInfo("%d s: %lld updates received by the panels, %.0f per second", seconds, received,
            received * 1000.0 / double(elapsed));
        QString links;
        for (auto it = tally.refusedByLink.cbegin(); it != tally.refusedByLink.cend(); ++it)
            links += QStringLiteral(" %1 %2").arg(it.key()).arg(it.value());
        qInfo("writes: %d, confirmed %d, refused by the device %d, refused by the link:%s",
            tally.issued, tally.confirmed, tally.refusedByDevice, qPrintable(links));
        const char* names[devices + 1] = { "device 1", "device 2 (restarted)", "panels" };
        // Memory has stopped growing: from the middle to the end, within a few MiB.
        for (size_t i = 0; i <= devices; ++i) {
            qInfo("resident memory of %s: start %lld KiB, middle %lld KiB, end %lld KiB", names[i],
                start[i], middle[i], end[i]);
            QVERIFY(middle[i] > 0 && end[i] > 0);
            QVERIFY2(end[i] - middle[i] <= 8 * 1024 + middle[i] / 20,
                qPrintable(QStringLiteral("%1 grew from %2 KiB to %3 KiB")
                               .arg(QLatin1String(names[i]))
                               .arg(middle[i])
                               .arg(end[i])));
        }
    }

private:
    static QString deviceName(int d) { return QStringLiteral("soak%1").arg(d + 1); }

    static bool allAvailable(Panel* panel)
    {
        const QList<DPointObject*> points = panel->provider.getAllPoints();
        return std::all_of(
            points.begin(), points.end(), [](DPointObject* point) { return point->isAvailable(); });
    }

    // The writable integer points that panel p writes, both devices' in turn; the panels
    // write different points.
    static std::vector<DPointObject*> writeTargets(
        const std::vector<std::unique_ptr<Panel>>& mirrors, int p)
    {
        std::vector<DPointObject*> perDevice[devices];
        for (int d = 0; d < devices; ++d) {
            const QList<DPointObject*> points
                = mirrors[size_t(p * devices + d)]->provider.getAllPoints();
            int writable = 0;
            for (DPointObject* point : points) {
                const DPointDef* def = point->getDPointDef();
                const auto* number = qobject_cast<const DPTypeNumber*>(def->m_type);
                if (def->m_writable && number && number->m_max - number->m_min >= 4
                    && writable++ % panels == p)
                    perDevice[d].push_back(point);
            }
        }
        std::vector<DPointObject*> targets;
        for (size_t i = 0; i < perDevice[0].size() && i < perDevice[1].size(); ++i) {
            targets.push_back(perDevice[0][i]);
            targets.push_back(perDevice[1][i]);
        }
        return targets;
    }

    // Writes the next target that has no write of its own pending: an even value (the device
    // confirms it) or an odd one (refused), in turn.
    void write(const std::vector<DPointObject*>& targets, size_t* next, WriteTally* tally)
    {
        DPointObject* point = nullptr;
        for (size_t tries = 0; tries < targets.size() && !point; ++tries) {
            DPointObject* candidate = targets[*next];
            *next = (*next + 1) % targets.size();
            if (!candidate->isPending())
                point = candidate;
        }
        if (!point)
            return;
        if (!tally->issuedTo.contains(point)) {
            connect(point, &DPointObject::updateCompleted, this, [point, tally](bool success) {
                if (++tally->completedOf[point] > tally->issuedTo.value(point))
                    ++tally->completedTwice;
                const StatBase* status = point->getUpdateStatus().m_stat;
                if (success && !status)
                    ++tally->confirmed;
                else if (status && status->getCode() == QLatin1String("E_ODD"))
                    ++tally->refusedByDevice;
                else
                    ++tally->refusedByLink[status ? status->getCode() : QStringLiteral("?")];
            });
        }
        const auto* number = static_cast<const DPTypeNumber*>(point->getDPointDef()->m_type);
        const int even = number->m_min + (number->m_min % 2 != 0 ? 1 : 0);
        // A write of the value the point holds commits nothing: a panel does not send it.
        int value = tally->issued % 2 == 0 ? even : even + 1;
        if (point->getCurrentValue() == QVariant(value))
            value += 2;
        ++tally->issued;
        ++tally->issuedTo[point];
        point->setUpdatePending(QVariant(value), false);
        point->commitPending();
    }

    // The first point whose value on panel differs from values (the device's); empty when none.
    static QString firstDifference(Panel* panel, const QHash<QString, QString>& values)
    {
        const QList<DPointObject*> points = panel->provider.getAllPoints();
        int differing = 0;
        QString first;
        for (DPointObject* point : points) {
            const QString shown = point->getCurrentValue().toString();
            const QString held = values.value(point->objectName(), QStringLiteral("(none)"));
            if (shown != held && differing++ == 0) {
                first = QStringLiteral("%1 of %2: %3 on the panel, %4 on the device")
                            .arg(point->objectName(), panel->mirror.device(), shown, held);
            }
        }
        return differing ? QStringLiteral("%1 points differ; %2").arg(differing).arg(first)
                         : QString();
    }

    QTemporaryDir m_dir;
    QString m_dictionary;
    MosquittoBroker m_broker { { QStringLiteral("allow_anonymous true"),
        QStringLiteral("max_queued_messages 100000") } };
};

QTEST_GUILESS_MAIN(TestRemoteSoak)
#include "tst_remotesoak.moc"
