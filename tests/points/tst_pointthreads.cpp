#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>

#include <QChildEvent>
#include <QPointer>
#include <QSharedPointer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

// Runs work on a new thread and waits up to five seconds for it. A deadlock aborts the run: the
// stuck thread still refers to the caller's objects, so the test cannot go on.
void runWithoutDeadlock(const std::function<void()>& work)
{
    std::future<void> done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        qFatal("deadlock");
}

// Whether no thread holds lock, asked from another thread (a recursive lock lets its holder in).
bool lockIsFree(QReadWriteLock* lock)
{
    return std::async(std::launch::async, [lock] {
        const bool free = lock->tryLockForWrite();
        if (free)
            lock->unlock();
        return free;
    }).get();
}

// Reads itself from its ChildAdded handling, which addDef runs under the dictionary's lock.
class ReadingDictionary : public DPointDictionary
{
public:
    using DPointDictionary::DPointDictionary;
    QList<int> m_seen;

protected:
    void childEvent(QChildEvent* event) override
    {
        if (event->added())
            m_seen << getAllDefs().size() + (getDPointDefByName(QStringLiteral("b")) ? 10 : 0);
    }
};

} // namespace

class TestPointThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each thread registers points it made itself (children of its own object, which must let
    // them go) and points made in the provider's thread, all threads at once.
    void registerFromManyThreads()
    {
        constexpr int threadCount = 4;
        constexpr int perKind = 40;
        auto* provider = new DPointProvider(nullptr);
        std::vector<DPointObject*> points(threadCount * 2 * perKind, nullptr);
        std::atomic<bool> go { false };
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            for (int n = 0; n < perKind; ++n)
                points[(2 * t + 1) * perKind + n] = new DPointObject(nullptr);
            threads.emplace_back([&, t] {
                QObject owner;
                for (int n = 0; n < perKind; ++n)
                    points[2 * t * perKind + n] = new DPointObject(&owner);
                while (!go)
                    std::this_thread::yield();
                for (int i = 2 * t * perKind; i < 2 * (t + 1) * perKind; ++i) {
                    points[i]->setObjectName(QStringLiteral("Point_%1").arg(i));
                    provider->addPoint(points[i]);
                }
            });
        }
        go = true;
        for (std::thread& thread : threads)
            thread.join();

        QList<QPointer<DPointObject>> watched;
        for (int i = 0; i < int(points.size()); ++i) {
            const QString name = QStringLiteral("POINT_%1").arg(i);
            QCOMPARE(provider->getDPointByName(name), points[i]);
            QCOMPARE(provider->getNamespaceItem(name), points[i]);
            QCOMPARE(points[i]->parent(), provider);
            QCOMPARE(points[i]->thread(), provider->thread());
            watched << points[i];
        }
        delete provider;
        QCOMPARE(watched.count(nullptr), watched.size());
    }

    void refusePointOfThirdThread()
    {
        DPointProvider provider;
        std::unique_ptr<DPointObject> point;
        std::thread([&point] {
            point.reset(new DPointObject(nullptr));
            point->setObjectName(QStringLiteral("Pump_A"));
        }).join();
        QTest::ignoreMessage(QtCriticalMsg,
            "Point \"Pump_A\" not registered: it lives in another thread than the provider, and "
            "only its own thread may move it.");
        provider.addPoint(point.get());
        QVERIFY(!provider.getDPointByName(QStringLiteral("pump_a")));
        QCOMPARE(point->objectName(), QStringLiteral("Pump_A"));
        QVERIFY(!point->parent());
        QVERIFY(point->thread() != provider.thread());
    }

    // The commit comes in the point's thread although the asking thread runs no event loop.
    void autoCommitInPointThread()
    {
        DPointObject point;
        QStringList seen;
        const auto note = [&seen, &point](const char* signal) {
            return [&seen, &point, signal] {
                const bool home = QThread::currentThread() == point.thread();
                seen << QLatin1String(signal) + QLatin1String(home ? "" : " elsewhere");
            };
        };
        connect(
            &point, &DPointObject::valueChanged, this, note("valueChanged"), Qt::DirectConnection);
        connect(&point, &DPointObject::updatePending, this, note("updatePending"),
            Qt::DirectConnection);
        std::thread([&point] { point.setUpdatePending(7, true); }).join();
        QVERIFY(seen.isEmpty());
        QTRY_COMPARE(seen, QStringList({ "valueChanged", "updatePending" }));
        QCOMPARE(point.getCurrentValue(), QVariant(7));
        QVERIFY(point.isPending());
    }

    // A holder of a point's lock calls the point; a dictionary's ChildAdded handler reads it.
    void lockHolderCallsOperations()
    {
        DPointObject point;
        QList<int> seen;
        runWithoutDeadlock([&] {
            {
                ReentrantWriteLocker locker(point.getLock());
                point.setCurrentValue(1);
                point.getCurrentValue();
                point.setUpdatePending(2, false);
                point.commitPending();
                point.setUpdateComplete(point.getPendingValue(), point.getUpdateStatus());
                point.cancelPending();
            }
            ReentrantReadLocker locker(point.getLock());
            point.show();
            point.isAvailable();
            point.isPending();

            ReadingDictionary dict(nullptr);
            for (const QString& name : { QStringLiteral("a"), QStringLiteral("b") })
                dict.addDef((new DPointDef(nullptr))->_init(name, name, name, name, 0, nullptr));
            seen = dict.m_seen;
        });
        QCOMPARE(point.getCurrentValue(), QVariant(2));
        QCOMPARE(seen, QList<int>({ 1, 12 }));
    }

    void nothingDestroyedUnderLock_data()
    {
        QTest::addColumn<QString>("letGoBy");
        QTest::addColumn<int>("destroyed");
        QTest::newRow("value replaced") << "setCurrentValue" << 1;
        QTest::newRow("request replaced") << "setUpdatePending" << 1;
        QTest::newRow("request cancelled") << "cancelPending" << 1;
        QTest::newRow("value, request and status replaced") << "setUpdateComplete" << 3;
    }

    // The point holds probes (QObjects, whose destruction runs destroyed() handlers) as its
    // value's and its request's payloads and as its status, then lets go of some: each must find
    // the point's lock released when it is destroyed.
    void nothingDestroyedUnderLock()
    {
        QFETCH(QString, letGoBy);
        QFETCH(int, destroyed);
        DPointObject point;
        QObject observer; // goes first, so the point's own destruction is not observed
        QVector<bool> freeAtDestruction;
        const auto probe = [&] {
            auto* object = new StatBase;
            connect(object, &QObject::destroyed, &observer,
                [&] { freeAtDestruction << lockIsFree(point.getLock()); });
            return object;
        };
        const auto payload = [&] { return QVariant::fromValue(QSharedPointer<QObject>(probe())); };
        point.setUpdateComplete(payload(), StatRef(probe()));
        point.setUpdatePending(payload(), false);
        QVERIFY(freeAtDestruction.isEmpty());
        if (letGoBy == "setCurrentValue")
            point.setCurrentValue(1);
        else if (letGoBy == "setUpdatePending")
            point.setUpdatePending(1, false);
        else if (letGoBy == "cancelPending")
            point.cancelPending();
        else
            point.setUpdateComplete(1, StatRef());
        QCOMPARE(freeAtDestruction, QVector<bool>(destroyed, true));
    }
};

QTEST_GUILESS_MAIN(TestPointThreads)
#include "tst_pointthreads.moc"
