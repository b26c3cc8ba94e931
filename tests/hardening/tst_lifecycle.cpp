// Objects destroyed while something still refers to them: the library must neither crash nor
// touch an object that is gone (the sanitizer builds report any such touch; docs/lifetime.md
// says what the application keeps alive).

#include <kivo/kivodpoints.h> // the lifecycle crosses every subsystem

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <future>
#include <thread>

using namespace kivo;

namespace {

// Counts the commits that reach it, in a counter that outlives it.
struct CountingPoint : DPointObject
{
    int* m_commits = nullptr;
    StatRef commitPending() override { return ++*m_commits, DPointObject::commitPending(); }
};

} // namespace

class TstLifecycle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TopicLogger::disableAllTopics(); } // no trace line per change
    void pointDestroyedWithCommitScheduled();
    void providerAndFollowerDestroyed();
    void dependencyDestroyedInAnotherThread();
    void ownersDestroyedFirst();
};

// A point deleted between setUpdatePending and its automatic commit is never called back; the
// kept one's commits, scheduled last, show that the deleted one's would have run by then.
void TstLifecycle::pointDestroyedWithCommitScheduled()
{
    int commits[2] = { 0, 0 };
    int changes[2] = { 0, 0 };
    QObject witness;
    CountingPoint* points[2] = { new CountingPoint, new CountingPoint };
    for (int i : { 0, 1 }) {
        points[i]->m_commits = &commits[i];
        connect(points[i], &DPointObject::valueChanged, &witness, [&changes, i] { ++changes[i]; });
        points[i]->setUpdatePending(QVariant(42), true);
        points[i]->setUpdatePending(QVariant(43), true);
    }
    delete points[0];
    QTRY_COMPARE(commits[1], 2);
    QCOMPARE(QVector<int>({ commits[0], changes[0], changes[1] }), QVector<int>({ 0, 0, 1 }));
    delete points[1];
}

// Destroying a provider deletes its points without a signal; their follower stays usable. A
// follower destroyed before its points is not called again.
void TstLifecycle::providerAndFollowerDestroyed()
{
    VirtualDPointObject follower;
    QSignalSpy followed(&follower, &VirtualDPointObject::valueChanged);
    auto* provider = new DPointProvider(nullptr);
    QPointer<DPointObject> a = new DPointObject(nullptr);
    QPointer<DPointObject> b = new DPointObject(nullptr);
    b->setObjectName(QStringLiteral("B"));
    provider->addPoint(a);
    provider->addPoint(b);
    follower.addDependency(QVariant::fromValue(a.data()));
    follower.addDependency(QVariant::fromValue(b.data()));
    a->setCurrentValue(QVariant(1));
    delete provider;
    QVERIFY(a.isNull() && b.isNull());
    QCOMPARE(followed.count(), 1);

    DPointObject another;
    follower.addDependency(QVariant::fromValue(&another));
    {
        VirtualDPointObject shortLived;
        shortLived.addDependency(QVariant::fromValue(&another));
    }
    another.setCurrentValue(QVariant(2));
    another.setUpdateComplete(QVariant(3), StatRef());
    QCOMPARE(followed.count(), 3);
}

// A point living in another thread changes there and is destroyed there while its follower in
// this thread still has queued notifications to receive: they carry no pointer to the point, so
// they arrive (one per change) after it is gone.
void TstLifecycle::dependencyDestroyedInAnotherThread()
{
    const int changes = 200;
    VirtualDPointObject follower;
    QSignalSpy followed(&follower, &VirtualDPointObject::valueChanged);
    std::promise<DPointObject*> created;
    std::promise<void> followedNow;
    std::atomic<bool> destroyed { false };
    std::thread worker([&] {
        auto* point = new DPointObject(nullptr); // belongs to this thread: its signals are queued
        QObject::connect(point, &QObject::destroyed, [&destroyed] { destroyed = true; });
        created.set_value(point);
        followedNow.get_future().wait();
        for (int value = 1; value <= changes; ++value)
            point->setCurrentValue(QVariant(value));
        delete point;
    });
    follower.addDependency(QVariant::fromValue(created.get_future().get()));
    followedNow.set_value();
    worker.join();
    QVERIFY(destroyed);
    QCOMPARE(followed.count(), 0);
    QTRY_COMPARE(followed.count(), changes);
}

// The registry goes before the definition that carries it, the dictionary (and so the
// definition) before the point, the model row and the provider that refer to it: none of them
// touches what is gone, and the provider's entry for the dictionary can still be removed.
void TstLifecycle::ownersDestroyedFirst()
{
    auto* registry = new MeasurementRegistry(nullptr);
    auto* dictionary = new DPointDictionary(nullptr);
    dictionary->setObjectName(QStringLiteral("Plant"));
    QPointer<DPointDef> def = new DPointDef;
    def->_init("Temp", "Temp", "Temp", QString(), 0,
        (new DPTypeNumber(def))->_init(QVariant(1), 0, 100, "degC", "C"));
    def->m_registry = registry;
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
    QVERIFY(def->getTypeJson().startsWith(QLatin1String("{\"type\":\"int\"")));

    delete registry;
    delete dictionary;
    QVERIFY(def.isNull());
    delete item;
    delete model;
    QCOMPARE(provider->removeDict(QStringLiteral("plant")), 1);
    delete provider;
}

QTEST_GUILESS_MAIN(TstLifecycle)
#include "tst_lifecycle.moc"
