// Faults in the object lifecycle: objects destroyed while something still refers to them. The
// library must neither crash nor touch an object that is gone; what the application has to keep
// alive is written down in docs/lifetime.md. Run in the sanitizer builds, any touch of a
// deleted object is reported as a use after free.

#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/models/DPointTableModel.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/points/VirtualDPointObject.h>
#include <kivo/types/DPTypeNumber.h>

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

using namespace kivo;

namespace {

// Counts the commits that reach it, in a counter that outlives it.
class CountingPoint : public DPointObject
{
    Q_OBJECT

public:
    explicit CountingPoint(int* commits)
        : m_commits(commits)
    { }

    StatRef commitPending() override
    {
        ++*m_commits;
        return DPointObject::commitPending();
    }

private:
    int* m_commits;
};

// Waits for the event loop to run past a moment well after any 100 ms commit timer started now.
bool runEventsBeyondCommitDelay()
{
    QTimer sentinel;
    sentinel.setSingleShot(true);
    QSignalSpy fired(&sentinel, &QTimer::timeout);
    sentinel.start(300);
    return fired.wait(10000);
}

DPointDef* numberDefinition(const QString& name, QObject* parent)
{
    auto* def = new DPointDef(parent);
    auto* type = new DPTypeNumber(def);
    type->_init(QVariant(1), 0, 100, QStringLiteral("degC"), QStringLiteral("C"));
    def->_init(name, name, name, QString(), 0, type);
    return def;
}

} // namespace

class TstLifecycle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void pointDestroyedWithCommitScheduled_data();
    void pointDestroyedWithCommitScheduled();
    void providerDestroyedWhileFollowed();
    void followerDestroyedBeforeItsPoints();
    void dependencyDestroyedInAnotherThread();
    void dictionaryDestroyedWhilePointsReferToIt();
    void registryDestroyedBeforeItsDefinitions();
    void dictionaryDestroyedWhileRegistered();
};

void TstLifecycle::initTestCase()
{
    // Hundreds of value changes would each write a trace line.
    TopicLogger::disableAllTopics();
}

void TstLifecycle::pointDestroyedWithCommitScheduled_data()
{
    QTest::addColumn<bool>("destroy");

    // The kept point shows that the wait below is long enough for the commit to fire.
    QTest::newRow("point kept") << false;
    QTest::newRow("point destroyed") << true;
}

// QTimer::singleShot with a receiver is cancelled when the receiver is destroyed: a point
// deleted between setUpdatePending and its automatic commit is never called back.
void TstLifecycle::pointDestroyedWithCommitScheduled()
{
    QFETCH(bool, destroy);

    int commits = 0;
    int changes = 0;
    QObject witness;
    auto* point = new CountingPoint(&commits);
    connect(point, &DPointObject::valueChanged, &witness, [&changes] { ++changes; });
    point->setUpdatePending(QVariant(42), true);
    point->setUpdatePending(QVariant(43), true);
    if (destroy)
        delete point;

    QVERIFY(runEventsBeyondCommitDelay());
    QCOMPARE(commits, destroy ? 0 : 2);
    QCOMPARE(changes, destroy ? 0 : 1);
    if (!destroy)
        delete point;
}

// Destroying a provider deletes its points; a follower of those points stays usable, and the
// destruction emits none of the library's signals.
void TstLifecycle::providerDestroyedWhileFollowed()
{
    VirtualDPointObject follower;
    QSignalSpy followed(&follower, &VirtualDPointObject::valueChanged);
    auto* provider = new DPointProvider(nullptr);
    QPointer<DPointObject> pointA = new DPointObject(nullptr);
    QPointer<DPointObject> pointB = new DPointObject(nullptr);
    pointA->setObjectName(QStringLiteral("A"));
    pointB->setObjectName(QStringLiteral("B"));
    provider->addPoint(pointA);
    provider->addPoint(pointB);
    follower.addDependency(QVariant::fromValue(pointA.data()));
    follower.addDependency(QVariant::fromValue(pointB.data()));
    pointA->setCurrentValue(QVariant(1));
    QCOMPARE(followed.count(), 1);

    delete provider;
    QVERIFY(pointA.isNull());
    QVERIFY(pointB.isNull());
    QCOMPARE(followed.count(), 1);

    DPointObject another;
    follower.addDependency(QVariant::fromValue(&another));
    another.setCurrentValue(QVariant(2));
    QCOMPARE(followed.count(), 2);
}

void TstLifecycle::followerDestroyedBeforeItsPoints()
{
    DPointObject point;
    int emitted = 0;
    {
        VirtualDPointObject follower;
        connect(&follower, &VirtualDPointObject::valueChanged, [&emitted] { ++emitted; });
        follower.addDependency(QVariant::fromValue(&point));
        point.setCurrentValue(QVariant(1));
    }
    point.setCurrentValue(QVariant(2));
    point.setUpdateComplete(QVariant(3), StatRef());
    QCOMPARE(emitted, 1);
}

// A point living in another thread changes there and is destroyed there while its follower in
// this thread still has queued notifications to receive: they carry no pointer to the point,
// so they arrive (one per change) after it is gone.
void TstLifecycle::dependencyDestroyedInAnotherThread()
{
    const int changes = 200;
    VirtualDPointObject follower;
    QSignalSpy followed(&follower, &VirtualDPointObject::valueChanged);

    std::promise<DPointObject*> created;
    std::promise<void> followedNow;
    std::atomic<bool> destroyed { false };
    std::thread worker([&] {
        // Created here, so the point belongs to this thread and its signals to the follower are
        // queued.
        auto* point = new DPointObject(nullptr);
        QObject::connect(point, &QObject::destroyed, [&destroyed] { destroyed = true; });
        created.set_value(point);
        followedNow.get_future().wait();
        for (int value = 1; value <= changes; ++value)
            point->setCurrentValue(QVariant(value));
        delete point;
    });
    DPointObject* point = created.get_future().get();
    follower.addDependency(QVariant::fromValue(point));
    followedNow.set_value();
    worker.join();

    QVERIFY(destroyed);
    QCOMPARE(followed.count(), 0);
    QTRY_COMPARE(followed.count(), changes);
}

// The library never dereferences a point's definition on the way out: with the dictionary (and
// so the definition) already deleted, the point, its provider and a model row showing it are
// destroyed without touching it.
void TstLifecycle::dictionaryDestroyedWhilePointsReferToIt()
{
    auto* dictionary = new DPointDictionary(nullptr);
    dictionary->setObjectName(QStringLiteral("plant"));
    QPointer<DPointDef> def = numberDefinition(QStringLiteral("Temp"), nullptr);
    dictionary->addDef(def);

    auto* provider = new DPointProvider(nullptr);
    provider->addDict(dictionary);
    auto* point = new DPointObject(nullptr);
    point->setObjectName(QStringLiteral("Temp"));
    point->setDPointDef(def);
    provider->addPoint(point);
    point->setCurrentValue(QVariant(7));

    auto* model = new DPointTableModel(nullptr);
    QCOMPARE(model->addPoint(point), 0);
    auto* item = new DPointModelItemData(point);
    QCOMPARE(item->getDPointDef(), def.data());

    delete dictionary;
    QVERIFY(def.isNull());

    delete item;
    delete model;
    delete provider;
}

// Definitions that carry a registry do not touch it when they are destroyed after it.
void TstLifecycle::registryDestroyedBeforeItsDefinitions()
{
    auto* registry = new MeasurementRegistry(nullptr);
    auto* dictionary = new DPointDictionary(nullptr);
    DPointDef* def = numberDefinition(QStringLiteral("Temp"), nullptr);
    def->m_registry = registry;
    dictionary->addDef(def);
    QVERIFY(def->getTypeJson().startsWith(QLatin1String("{\"type\":\"int\"")));

    delete registry;
    delete dictionary;
}

// A provider files dictionaries without owning them: one deleted while still registered is not
// touched when the provider goes, and removing its entry does not touch it either.
void TstLifecycle::dictionaryDestroyedWhileRegistered()
{
    auto* provider = new DPointProvider(nullptr);
    auto* first = new DPointDictionary(nullptr);
    first->setObjectName(QStringLiteral("First"));
    auto* second = new DPointDictionary(nullptr);
    second->setObjectName(QStringLiteral("Second"));
    provider->addDict(first);
    provider->addDict(second);

    delete first;
    delete second;
    QCOMPARE(provider->removeDict(QStringLiteral("first")), 1);
    delete provider;
}

QTEST_GUILESS_MAIN(TstLifecycle)
#include "tst_lifecycle.moc"
