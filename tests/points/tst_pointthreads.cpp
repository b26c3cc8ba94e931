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
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

// Runs work on a new thread and waits up to five seconds for it. A deadlock aborts the run: the
// stuck thread still refers to the caller's objects, so the test cannot go on.
void runWithoutDeadlock(const std::function<void()>& work)
{
    std::atomic<bool> done { false };
    std::thread thread([&] {
        work();
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done.load(); }, 5000))
        qFatal("deadlock");
    thread.join();
}

// Whether no thread holds lock, asked from a thread of its own (a recursive lock lets its holder
// in).
bool lockIsFree(QReadWriteLock* lock)
{
    bool free = false;
    std::thread([&] {
        free = lock->tryLockForWrite();
        if (free)
            lock->unlock();
    }).join();
    return free;
}

QVariant holding(QObject* object)
{
    return QVariant::fromValue(QSharedPointer<QObject>(object));
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

using Hold = std::function<void(DPointObject&, StatBase*)>;
using LetGo = std::function<void(DPointObject&)>;

} // namespace

Q_DECLARE_METATYPE(Hold)
Q_DECLARE_METATYPE(LetGo)

class TestPointThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void registerFromManyThreads();
    void refusePointOfThirdThread();
    void autoCommitInPointThread_data();
    void autoCommitInPointThread();
    void lockHolderCallsOperations();
    void nothingDestroyedUnderLock_data();
    void nothingDestroyedUnderLock();
};

// Each thread registers points it made itself (children of its own object, which must let
// them go) and points made in the provider's thread, all threads at once.
void TestPointThreads::registerFromManyThreads()
{
    constexpr int threadCount = 4;
    constexpr int perKind = 40;
    auto* provider = new DPointProvider(nullptr);
    std::vector<DPointObject*> points(threadCount * 2 * perKind, nullptr);
    for (int t = 0; t < threadCount; ++t) {
        for (int n = 0; n < perKind; ++n)
            points[(2 * t + 1) * perKind + n] = new DPointObject(nullptr);
    }
    std::atomic<bool> go { false };
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
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

void TestPointThreads::refusePointOfThirdThread()
{
    DPointProvider provider;
    std::unique_ptr<DPointObject> point;
    std::thread([&point] {
        point.reset(new DPointObject(nullptr));
        point->setObjectName(QStringLiteral("Pump_A"));
    }).join();
    QTest::ignoreMessage(QtCriticalMsg,
        "Point \"Pump_A\" not registered: it lives in another thread than the provider, and only "
        "its own thread may move it.");
    provider.addPoint(point.get());
    QVERIFY(!provider.getDPointByName(QStringLiteral("pump_a")));
    QCOMPARE(point->objectName(), QStringLiteral("Pump_A"));
    QVERIFY(!point->parent());
    QVERIFY(point->thread() != provider.thread());
}

void TestPointThreads::autoCommitInPointThread_data()
{
    QTest::addColumn<bool>("fromThreadWithoutLoop");
    QTest::newRow("asked in the point's thread") << false;
    QTest::newRow("asked from a thread without event loop") << true;
}

void TestPointThreads::autoCommitInPointThread()
{
    QFETCH(bool, fromThreadWithoutLoop);
    DPointObject point;
    QStringList seen;
    const auto note = [&seen](const QString& signal) {
        return [&seen, signal] {
            seen << signal + QStringLiteral(" in ") + QThread::currentThread()->objectName();
        };
    };
    QThread::currentThread()->setObjectName(QStringLiteral("point's thread"));
    connect(&point, &DPointObject::valueChanged, this, note(QStringLiteral("valueChanged")),
        Qt::DirectConnection);
    connect(&point, &DPointObject::updatePending, this, note(QStringLiteral("updatePending")),
        Qt::DirectConnection);
    if (fromThreadWithoutLoop)
        std::thread([&point] { point.setUpdatePending(7, true); }).join();
    else
        point.setUpdatePending(7, true);
    QVERIFY(seen.isEmpty());
    QTRY_COMPARE(seen,
        QStringList({ QStringLiteral("valueChanged in point's thread"),
            QStringLiteral("updatePending in point's thread") }));
    QCOMPARE(point.getCurrentValue(), QVariant(7));
    QVERIFY(point.isPending());
}

// A holder of a point's lock calls the point; a dictionary's ChildAdded handler reads it.
void TestPointThreads::lockHolderCallsOperations()
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
        dict.addDef((new DPointDef(nullptr))
                        ->_init(QStringLiteral("a"), QString(), QString(), QString(), 0, nullptr));
        dict.addDef((new DPointDef(nullptr))
                        ->_init(QStringLiteral("b"), QString(), QString(), QString(), 1, nullptr));
        seen = dict.m_seen;
    });
    QCOMPARE(point.getCurrentValue(), QVariant(2));
    QCOMPARE(seen, QList<int>({ 1, 12 }));
}

void TestPointThreads::nothingDestroyedUnderLock_data()
{
    QTest::addColumn<Hold>("hold");
    QTest::addColumn<LetGo>("letGo");
    const Hold value = [](DPointObject& p, StatBase* s) { p.setCurrentValue(holding(s)); };
    const Hold request
        = [](DPointObject& p, StatBase* s) { p.setUpdatePending(holding(s), false); };
    const Hold status = [](DPointObject& p, StatBase* s) { p.setUpdateComplete(0, StatRef(s)); };
    const LetGo report = [](DPointObject& p) { p.setCurrentValue(1); };
    const LetGo complete = [](DPointObject& p) { p.setUpdateComplete(1, StatRef()); };
    const LetGo ask = [](DPointObject& p) { p.setUpdatePending(1, false); };
    const LetGo cancel = [](DPointObject& p) { p.cancelPending(); };
    QTest::newRow("value replaced by a report") << value << report;
    QTest::newRow("value replaced by a completion") << value << complete;
    QTest::newRow("request replaced") << request << ask;
    QTest::newRow("request cancelled") << request << cancel;
    QTest::newRow("request completed") << request << complete;
    QTest::newRow("status replaced") << status << complete;
}

// The last reference to a value or status goes when the point lets go of it; its destruction
// (a QObject's, which runs destroyed() handlers) must find the point's lock released.
void TestPointThreads::nothingDestroyedUnderLock()
{
    QFETCH(Hold, hold);
    QFETCH(LetGo, letGo);
    DPointObject point;
    auto* probe = new StatBase(QStringLiteral("E"));
    int freeAtDestruction = -1;
    connect(
        probe, &QObject::destroyed, this, [&] { freeAtDestruction = lockIsFree(point.getLock()); });
    hold(point, probe);
    QCOMPARE(freeAtDestruction, -1);
    letGo(point);
    QCOMPARE(freeAtDestruction, 1);
}

QTEST_GUILESS_MAIN(TestPointThreads)
#include "tst_pointthreads.moc"
