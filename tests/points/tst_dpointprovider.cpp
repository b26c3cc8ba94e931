#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>

#include <QPointer>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

using kivo::DPointDef;
using kivo::DPointDictionary;
using kivo::DPointObject;
using kivo::DPointProvider;
using kivo::StatBase;
using kivo::StatRef;

namespace {

DPointObject* namedPoint(const QString& name)
{
    auto* point = new DPointObject(nullptr);
    point->setObjectName(name);
    return point;
}

// A point whose change count can be compared with the changes it announced.
class CountedPoint : public DPointObject
{
    Q_OBJECT
public:
    using DPointObject::DPointObject;
    quint32 updateCount() const { return m_updateCount; }
};

} // namespace

class TestDPointProvider : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addPointLowerCasesName();
    void duplicateNameReplacesPoint();
    void sameObjectRegisteredTwice();
    void removePoint();
    void nullPointRefused();
    void dictionaries();
    void connectStatus();
    void lookupFromRenameSlotDuringAddPoint();
    void destructorDeletesEveryRegisteredPoint();
    void concurrentUse();
};

void TestDPointProvider::addPointLowerCasesName()
{
    DPointProvider provider;
    DPointObject* point = namedPoint(QStringLiteral("Pump_A"));
    provider.addPoint(point);
    QCOMPARE(point->objectName(), QStringLiteral("pump_a"));
    QCOMPARE(point->parent(), &provider);
    QCOMPARE(provider.getDPointByName(QStringLiteral("PUMP_A")), point);
    QCOMPARE(provider.getDPointByName(QStringLiteral("pump_a")), point);
    QVERIFY(provider.getDPointByName(QStringLiteral("pump_b")) == nullptr);
    QCOMPARE(provider.getNamespaceItem(QStringLiteral("Pump_A")), point);
}

void TestDPointProvider::duplicateNameReplacesPoint()
{
    DPointProvider provider;
    QPointer<DPointObject> first = namedPoint(QStringLiteral("Pump_A"));
    DPointObject* second = namedPoint(QStringLiteral("PUMP_a"));
    provider.addPoint(first);

    QTest::ignoreMessage(
        QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"pump_a\"");
    provider.addPoint(second);
    QCOMPARE(provider.getDPointByName(QStringLiteral("pump_a")), second);
    QVERIFY(first);
    QCOMPARE(first->parent(), &provider);
    QCOMPARE(provider.getNamespaceSize(), 2);
}

void TestDPointProvider::sameObjectRegisteredTwice()
{
    DPointProvider provider;
    DPointObject* point = namedPoint(QStringLiteral("valve"));
    provider.addPoint(point);
    QTest::ignoreMessage(
        QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"valve\"");
    provider.addPoint(point);
    QCOMPARE(provider.getDPointByName(QStringLiteral("valve")), point);
    QCOMPARE(provider.removePoint(QStringLiteral("valve")), 1);
    QCOMPARE(provider.removePoint(QStringLiteral("valve")), 0);
}

void TestDPointProvider::removePoint()
{
    DPointProvider provider;
    QPointer<DPointObject> point = namedPoint(QStringLiteral("pump_a"));
    provider.addPoint(point);
    QCOMPARE(provider.removePoint(QStringLiteral("Pump_A")), 1);
    QCOMPARE(provider.removePoint(QStringLiteral("Pump_A")), 0);
    QVERIFY(provider.getDPointByName(QStringLiteral("pump_a")) == nullptr);
    QVERIFY(point);
    QCOMPARE(point->parent(), &provider);
    QCOMPARE(provider.removePoint(QStringLiteral("never")), 0);
}

void TestDPointProvider::nullPointRefused()
{
    DPointProvider provider;
    provider.addPoint(namedPoint(QStringLiteral("a")));
    QTest::ignoreMessage(QtCriticalMsg, "NULL POINT");
    provider.addPoint(nullptr);
    QCOMPARE(provider.getNamespaceSize(), 1);
    QVERIFY(provider.getDPointByName(QStringLiteral("a")) != nullptr);
}

void TestDPointProvider::dictionaries()
{
    DPointProvider provider;
    DPointDictionary first;
    first.setObjectName(QStringLiteral("Main"));
    DPointDictionary second;
    second.setObjectName(QStringLiteral("MAIN"));
    DPointDictionary other;
    other.setObjectName(QStringLiteral("aux"));

    provider.addDict(&first);
    provider.addDict(&other);
    provider.addDict(&second);
    QCOMPARE(provider.getDictByName(QStringLiteral("main")), &second);
    QCOMPARE(provider.getDictByName(QStringLiteral("AUX")), &other);
    QVERIFY(provider.getDictByName(QStringLiteral("none")) == nullptr);
    QCOMPARE(provider.getAllDicts(), (QList<DPointDictionary*> { &other, &second }));
    // Names and parents are left alone.
    QCOMPARE(second.objectName(), QStringLiteral("MAIN"));
    QVERIFY(second.parent() == nullptr);

    QCOMPARE(provider.removeDict(QStringLiteral("Main")), 1);
    QCOMPARE(provider.removeDict(QStringLiteral("Main")), 0);
    QCOMPARE(provider.getAllDicts(), QList<DPointDictionary*> { &other });
}

void TestDPointProvider::connectStatus()
{
    DPointProvider provider;
    QSignalSpy spy(&provider, &DPointProvider::connectStatusChanged);
    QVERIFY(!provider.isConnected());
    provider.setConnectStatus(false);
    QCOMPARE(spy.count(), 0);
    provider.setConnectStatus(true);
    provider.setConnectStatus(true);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QVERIFY(provider.isConnected());
    provider.setConnectStatus(false);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
}

void TestDPointProvider::lookupFromRenameSlotDuringAddPoint()
{
    // Renaming happens under the provider's write lock; a slot on the same thread may still
    // look points up.
    DPointProvider provider;
    DPointObject* known = namedPoint(QStringLiteral("known"));
    provider.addPoint(known);
    DPointObject* point = namedPoint(QStringLiteral("New"));
    DPointObject* found = nullptr;
    connect(point, &QObject::objectNameChanged, this,
        [&] { found = provider.getDPointByName(QStringLiteral("KNOWN")); });
    provider.addPoint(point);
    QCOMPARE(found, known);
    QCOMPARE(provider.getDPointByName(QStringLiteral("new")), point);
}

void TestDPointProvider::destructorDeletesEveryRegisteredPoint()
{
    auto* provider = new DPointProvider(nullptr);
    QPointer<DPointObject> replaced = namedPoint(QStringLiteral("x"));
    QPointer<DPointObject> removed = namedPoint(QStringLiteral("y"));
    provider->addPoint(replaced);
    QTest::ignoreMessage(QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"x\"");
    provider->addPoint(namedPoint(QStringLiteral("X")));
    provider->addPoint(removed);
    provider->removePoint(QStringLiteral("y"));
    DPointDictionary dict;
    dict.setObjectName(QStringLiteral("d"));
    provider->addDict(&dict);
    delete provider;
    QVERIFY(!replaced);
    QVERIFY(!removed);
}

// Reporter threads feed values, writer threads run the write cycle, reader threads read and
// judge visibility, and a registrar adds, finds and removes further points, all at once.
void TestDPointProvider::concurrentUse()
{
    constexpr int pointCount = 6;
    constexpr int reporterCount = 3;
    constexpr int reportsPerPoint = 300;
    constexpr int cyclesPerPoint = 150;
    constexpr int readerCount = 2;
    constexpr int dynamicCount = 200;

    DPointProvider provider;
    DPointDictionary dict;
    dict.setObjectName(QStringLiteral("stress"));
    provider.addDict(&dict);

    std::vector<std::unique_ptr<DPointDef>> defs;
    QList<CountedPoint*> points;
    std::atomic<int> changes[pointCount];
    std::atomic<int> completions { 0 };
    std::atomic<int> updatePendings { 0 };
    std::atomic<int> covEnables { 0 };
    for (int i = 0; i < pointCount; ++i) {
        changes[i] = 0;
        auto def = std::make_unique<DPointDef>(nullptr);
        def->_init(QStringLiteral("p%1").arg(i), QStringLiteral("p%1").arg(i), QString(), QString(),
            i, nullptr);
        def->setProperty("ShowVar", QStringLiteral("P%1").arg((i + 1) % pointCount));
        auto* point = new CountedPoint(nullptr);
        point->setObjectName(QStringLiteral("P%1").arg(i));
        point->setDPointDef(def.get());
        connect(
            point, &DPointObject::valueChanged, this, [&changes, i] { ++changes[i]; },
            Qt::DirectConnection);
        connect(
            point, &DPointObject::updatePending, this, [&updatePendings] { ++updatePendings; },
            Qt::DirectConnection);
        connect(
            point, &DPointObject::updateCompleted, this, [&completions] { ++completions; },
            Qt::DirectConnection);
        // The first read emits covEnabled under the point's write lock; this slot reads back.
        connect(
            point, &DPointObject::covEnabled, this,
            [&covEnables, point] {
                ++covEnables;
                point->getCurrentValue();
                point->isAvailable();
                point->getPendingValue();
            },
            Qt::DirectConnection);
        provider.addPoint(point);
        points << point;
        defs.push_back(std::move(def));
    }

    std::atomic<bool> failed { false };
    std::vector<std::unique_ptr<QThread>> threads;
    // QThread::wait() synchronises inside Qt, out of the thread sanitizer's sight; the finish
    // count is the ordering it can see.
    std::atomic<int> finished { 0 };
    const auto addThread = [&](std::function<void()> body) {
        threads.emplace_back(QThread::create([body, &finished] {
            body();
            finished.fetch_add(1, std::memory_order_release);
        }));
    };

    // Every reported value is unique, so every report is a change.
    for (int r = 0; r < reporterCount; ++r) {
        addThread([&, r] {
            for (int n = 0; n < reportsPerPoint; ++n) {
                for (int i = 0; i < pointCount; ++i)
                    points.at(i)->setCurrentValue(1000000 * (r + 1) + n);
            }
        });
    }

    // One writer per point, so that each commit finds a value that differs.
    for (int i = 0; i < pointCount; ++i) {
        addThread([&, i] {
            for (int n = 0; n < cyclesPerPoint; ++n) {
                points.at(i)->setUpdatePending(-(2 * n + 1), false);
                if (!points.at(i)->isPending())
                    failed = true;
                points.at(i)->commitPending();
                if (n % 10 == 0)
                    points.at(i)->cancelPending();
                else
                    points.at(i)->setUpdateComplete(-(2 * n + 2),
                        StatRef(n % 3 == 0 ? new StatBase(QStringLiteral("E")) : nullptr));
                points.at(i)->getUpdateStatus();
            }
        });
    }

    for (int r = 0; r < readerCount; ++r) {
        addThread([&] {
            bool wasAvailable[pointCount] = {};
            for (int n = 0; n < 400; ++n) {
                for (int i = 0; i < pointCount; ++i) {
                    points.at(i)->getCurrentValue();
                    points.at(i)->getPendingValue();
                    points.at(i)->isPending();
                    points.at(i)->showThisVar();
                    const bool available = points.at(i)->isAvailable();
                    if (wasAvailable[i] && !available)
                        failed = true;
                    wasAvailable[i] = available;
                }
            }
        });
    }

    addThread([&] {
        for (int n = 0; n < dynamicCount; ++n) {
            auto* point = new DPointObject(nullptr);
            point->setObjectName(QStringLiteral("Dyn_%1").arg(n));
            point->moveToThread(provider.thread());
            provider.addPoint(point);
            if (provider.getDPointByName(QStringLiteral("DYN_%1").arg(n)) != point)
                failed = true;
            if (provider.getDPointByName(QStringLiteral("p%1").arg(n % pointCount))
                != points.at(n % pointCount))
                failed = true;
            if (provider.getDictByName(QStringLiteral("STRESS")) != &dict)
                failed = true;
            if (n % 2 == 0 && provider.removePoint(QStringLiteral("dyn_%1").arg(n)) != 1)
                failed = true;
        }
    });

    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        QVERIFY2(thread->wait(120000), "a thread did not finish: deadlock");
    QCOMPARE(finished.load(std::memory_order_acquire), int(threads.size()));

    QVERIFY(!failed);
    const int cancels = cyclesPerPoint / 10;
    const int completes = cyclesPerPoint - cancels;
    for (int i = 0; i < pointCount; ++i) {
        CountedPoint* point = points.at(i);
        QVERIFY(point->isAvailable());
        QVERIFY(point->isPending() == false);
        const int expected = reporterCount * reportsPerPoint + cyclesPerPoint + completes;
        QCOMPARE(changes[i].load(), expected);
        QCOMPARE(point->updateCount(), quint32(expected));
    }
    QCOMPARE(completions.load(), pointCount * completes);
    QCOMPARE(updatePendings.load(), pointCount * (cyclesPerPoint + cancels));
    QCOMPARE(covEnables.load(), pointCount);
    QCOMPARE(provider.getNamespaceSize(), pointCount + dynamicCount);
    for (int n = 0; n < dynamicCount; ++n) {
        DPointObject* found = provider.getDPointByName(QStringLiteral("dyn_%1").arg(n));
        QCOMPARE(found == nullptr, n % 2 == 0);
    }
}

QTEST_GUILESS_MAIN(TestDPointProvider)
#include "tst_dpointprovider.moc"
