#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QDebug>
#include <QMetaType>
#include <QReadWriteLock>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <limits>

using kivo::DPointDef;
using kivo::DPointObject;
using kivo::DPointProvider;
using kivo::DPTypeBase;
using kivo::StatBase;
using kivo::StatRef;
using kivo::TopicLogger;

namespace {

constexpr int covsTopic = 4;
constexpr int traceTopic = 5;

// A point that exposes its change count and counts commits (the automatic commit calls the
// virtual commitPending, so this also counts deferred commits).
class ProbePoint : public DPointObject
{
    Q_OBJECT
public:
    using DPointObject::DPointObject;

    quint32 updateCount() const { return m_updateCount; }
    void setUpdateCount(quint32 count) { m_updateCount = count; }

    StatRef commitPending() override
    {
        ++m_commits;
        return DPointObject::commitPending();
    }

    int m_commits = 0;
};

// A point that runs without any lock.
class UnlockedPoint : public DPointObject
{
    Q_OBJECT
public:
    using DPointObject::DPointObject;
    QReadWriteLock* getLock() const override { return nullptr; }
};

// A point guarded by a lock that it shares with other points.
class SharedLockPoint : public DPointObject
{
    Q_OBJECT
public:
    explicit SharedLockPoint(QReadWriteLock* lock)
        : DPointObject(nullptr)
        , m_sharedLock(lock)
    { }
    QReadWriteLock* getLock() const override { return m_sharedLock; }

private:
    QReadWriteLock* m_sharedLock;
};

// Records the point's four signals, in emission order, on the emitting thread.
class SignalLog
{
public:
    explicit SignalLog(DPointObject* point)
    {
        QObject::connect(point, &DPointObject::valueChanged, [this, point](DPointObject* sender) {
            m_events << (sender == point ? QStringLiteral("valueChanged")
                                         : QStringLiteral("valueChanged(other)"));
        });
        QObject::connect(point, &DPointObject::updatePending,
            [this] { m_events << QStringLiteral("updatePending"); });
        QObject::connect(point, &DPointObject::updateCompleted, [this](bool success) {
            m_events << (success ? QStringLiteral("updateCompleted(true)")
                                 : QStringLiteral("updateCompleted(false)"));
        });
        QObject::connect(point, &DPointObject::covEnabled, [this](bool enable) {
            m_events << (enable ? QStringLiteral("covEnabled(true)")
                                : QStringLiteral("covEnabled(false)"));
        });
    }

    QStringList take()
    {
        const QStringList events = m_events;
        m_events.clear();
        return events;
    }

private:
    QStringList m_events;
};

// Collects every message written while it exists.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_messages.clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { s_messages << text; });
    }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }
    QStringList messages() const { return s_messages; }

private:
    static QStringList s_messages;
    QtMessageHandler m_previous;
};
QStringList MessageCapture::s_messages;

DPointDef* makeDef(DPTypeBase* type, QObject* parent)
{
    auto* def = new DPointDef(parent);
    def->_init(QStringLiteral("def"), QStringLiteral("def"), QString(), QString(), 0, type);
    if (type)
        type->setParent(def);
    return def;
}

// The point as Qt's debug stream writes a QObject pointer.
QString objectText(const QObject* object)
{
    QString text;
    QDebug(&text).nospace() << object;
    return text;
}

} // namespace

class TestDPointObject : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void newPoint();
    void setCurrentValue();
    void sentinelValues_data();
    void sentinelValues();
    void pendingCommitCancelSequences();
    void commitOfCurrentValueDoesNothing();
    void updateComplete_data();
    void updateComplete();
    void deferredCommit();
    void secondDeferredCommitDoesNothing();
    void countWrapsToOne_data();
    void countWrapsToOne();
    void show_data();
    void show();
    void showThisVar();
    void traceLines();
    void noTraceWhenTopicsOff();
    void covEnabledSlotReentersPoint();
    void covEnabledSlotReadsPointSharingTheLock();
    void unlockedSubclass();
    void valueChangedQueuedAcrossThreads();

private:
    bool m_savedTopics[TopicLogger::m_maxTopics] = {};
    QScopedPointer<DPointDef> m_numberDef;
    QScopedPointer<DPointDef> m_realDef;
};

void TestDPointObject::initTestCase()
{
    // Registered when the library is loaded, before any use of the type by this test.
    QVERIFY(QMetaType::type("kivo::DPointObject*") != QMetaType::UnknownType);
    QCOMPARE(DPointObject::errorString, QStringLiteral("32768"));
    m_numberDef.reset(makeDef(new kivo::DPTypeNumber, nullptr));
    m_realDef.reset(makeDef(new kivo::DPTypeReal, nullptr));
}

void TestDPointObject::init()
{
    std::copy(
        TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, m_savedTopics);
    TopicLogger::m_topics[covsTopic] = false;
    TopicLogger::m_topics[traceTopic] = false;
}

void TestDPointObject::cleanup()
{
    std::copy(m_savedTopics, m_savedTopics + TopicLogger::m_maxTopics, TopicLogger::m_topics);
}

void TestDPointObject::newPoint()
{
    DPointObject point;
    SignalLog log(&point);
    QVERIFY(!point.isAvailable());
    QVERIFY(!point.isPending());
    QVERIFY(!point.getPendingValue().isValid());
    QVERIFY(point.getUpdateStatus().m_stat == nullptr);
    QVERIFY(point.getDPointDef() == nullptr);

    QVERIFY(!point.getCurrentValue().isValid());
    QCOMPARE(log.take(), QStringList { "covEnabled(true)" });
    QVERIFY(!point.getCurrentValue().isValid());
    QVERIFY(point.show());
    QCOMPARE(log.take(), QStringList());
}

void TestDPointObject::setCurrentValue()
{
    ProbePoint point;
    SignalLog log(&point);
    point.setCurrentValue(5);
    QCOMPARE(log.take(), QStringList { "valueChanged" });
    QCOMPARE(point.updateCount(), 1u);
    QVERIFY(point.isAvailable());

    point.setCurrentValue(5);
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(point.updateCount(), 1u);

    point.setCurrentValue(6);
    QCOMPARE(log.take(), QStringList { "valueChanged" });
    QCOMPARE(point.updateCount(), 2u);
    QCOMPARE(point.getCurrentValue(), QVariant(6));
}

void TestDPointObject::sentinelValues_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("invalidated");

    QTest::newRow("int -32768") << "number" << QVariant(-32768) << true;
    QTest::newRow("int min") << "number" << QVariant(std::numeric_limits<int>::min()) << true;
    QTest::newRow("int 32768") << "number" << QVariant(32768) << true;
    QTest::newRow("text 32768") << "number" << QVariant(QStringLiteral("32768")) << true;
    QTest::newRow("text -32768") << "number" << QVariant(QStringLiteral("-32768")) << true;
    QTest::newRow("int 32767") << "number" << QVariant(32767) << false;
    QTest::newRow("int -32767") << "number" << QVariant(-32767) << false;
    QTest::newRow("text 3276") << "number" << QVariant(QStringLiteral("3276")) << false;
    QTest::newRow("real -32768") << "real" << QVariant(-32768.0) << false;
    QTest::newRow("real text 32768") << "real" << QVariant(QStringLiteral("32768")) << false;
    QTest::newRow("no definition -32768") << "none" << QVariant(-32768) << false;
}

void TestDPointObject::sentinelValues()
{
    QFETCH(QString, type);
    QFETCH(QVariant, value);
    QFETCH(bool, invalidated);

    ProbePoint point;
    if (type == QLatin1String("number"))
        point.setDPointDef(m_numberDef.data());
    else if (type == QLatin1String("real"))
        point.setDPointDef(m_realDef.data());
    point.setCurrentValue(1);
    SignalLog log(&point);

    point.setCurrentValue(value);
    QCOMPARE(log.take(), QStringList { "valueChanged" });
    QCOMPARE(point.updateCount(), 2u);
    QVERIFY(point.isAvailable());
    const QVariant current = point.getCurrentValue();
    if (invalidated)
        QVERIFY(!current.isValid());
    else
        QCOMPARE(current, value);
}

void TestDPointObject::pendingCommitCancelSequences()
{
    ProbePoint point;
    point.setCurrentValue(1);
    SignalLog log(&point);

    QVERIFY(point.setUpdatePending(2, false).m_stat == nullptr);
    QCOMPARE(log.take(), QStringList());
    QVERIFY(point.isPending());
    QCOMPARE(point.getPendingValue(), QVariant(2));

    // A second request replaces the first silently.
    point.setUpdatePending(3, false);
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(point.getPendingValue(), QVariant(3));

    QVERIFY(point.commitPending().m_stat == nullptr);
    QCOMPARE(log.take(), (QStringList { "valueChanged", "updatePending" }));
    QVERIFY(point.isPending());
    QCOMPARE(point.getPendingValue(), QVariant(3));
    QCOMPARE(point.updateCount(), 2u);

    // The same request committed again finds the values equal.
    point.commitPending();
    QCOMPARE(log.take(), QStringList());

    QVERIFY(point.cancelPending().m_stat == nullptr);
    QCOMPARE(log.take(), QStringList { "updatePending" });
    QVERIFY(!point.isPending());
    QVERIFY(!point.getPendingValue().isValid());
    QCOMPARE(point.getCurrentValue(), QVariant(3));
    log.take();

    // Idle: commit and cancel do nothing.
    point.commitPending();
    point.cancelPending();
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(point.updateCount(), 2u);
}

void TestDPointObject::commitOfCurrentValueDoesNothing()
{
    ProbePoint point;
    point.setCurrentValue(7);
    point.setUpdatePending(7, false);
    SignalLog log(&point);
    point.commitPending();
    QCOMPARE(log.take(), QStringList());
    QVERIFY(point.isPending());
    QCOMPARE(point.updateCount(), 1u);
}

void TestDPointObject::updateComplete_data()
{
    QTest::addColumn<bool>("withStatus");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("success") << false << QStringList { "updateCompleted(true)", "valueChanged" };
    QTest::newRow("failure") << true << QStringList { "updateCompleted(false)", "valueChanged" };
}

void TestDPointObject::updateComplete()
{
    QFETCH(bool, withStatus);
    QFETCH(QStringList, expected);

    ProbePoint point;
    point.setCurrentValue(4);
    point.setUpdatePending(9, false);
    SignalLog log(&point);

    auto* stat
        = withStatus ? new StatBase(QStringLiteral("E1"), QStringLiteral("failed")) : nullptr;
    {
        const StatRef status(stat);
        // The value the point already has: still counted and announced.
        point.setUpdateComplete(4, status);
    }
    QCOMPARE(log.take(), expected);
    QCOMPARE(point.updateCount(), 2u);
    QVERIFY(!point.isPending());
    QVERIFY(!point.getPendingValue().isValid());
    QCOMPARE(point.getCurrentValue(), QVariant(4));

    const StatRef stored = point.getUpdateStatus();
    QCOMPARE(stored.m_stat, stat);
    if (stat) {
        QCOMPARE(stat->getCode(), QStringLiteral("E1"));
        // Held by the point and by the copy just taken.
        QCOMPARE(stat->getRefCount(), 2);
    }
}

void TestDPointObject::deferredCommit()
{
    ProbePoint point;
    point.setCurrentValue(1);
    SignalLog log(&point);
    QSignalSpy pendingSpy(&point, &DPointObject::updatePending);

    point.setUpdatePending(8);
    QCOMPARE(log.take(), QStringList());
    QCOMPARE(point.getCurrentValue(), QVariant(1));
    QCOMPARE(log.take(), QStringList { "covEnabled(true)" });

    QVERIFY(pendingSpy.wait(2000));
    QCOMPARE(log.take(), (QStringList { "valueChanged", "updatePending" }));
    QCOMPARE(point.getCurrentValue(), QVariant(8));
    QVERIFY(point.isPending());
    QCOMPARE(point.getPendingValue(), QVariant(8));
}

void TestDPointObject::secondDeferredCommitDoesNothing()
{
    ProbePoint point;
    point.setCurrentValue(1);
    SignalLog log(&point);

    point.setUpdatePending(8, true);
    point.setUpdatePending(8, true);
    QTRY_COMPARE_WITH_TIMEOUT(point.m_commits, 2, 2000);
    QCOMPARE(log.take(), (QStringList { "valueChanged", "updatePending" }));
    QCOMPARE(point.updateCount(), 2u);
    QVERIFY(point.isPending());
}

void TestDPointObject::countWrapsToOne_data()
{
    QTest::addColumn<bool>("throughComplete");
    QTest::newRow("setCurrentValue") << false;
    QTest::newRow("setUpdateComplete") << true;
}

void TestDPointObject::countWrapsToOne()
{
    QFETCH(bool, throughComplete);
    ProbePoint point;
    point.setUpdateCount(std::numeric_limits<quint32>::max() - 1);
    const auto report = [&](int value) {
        if (throughComplete)
            point.setUpdateComplete(value, StatRef());
        else
            point.setCurrentValue(value);
    };
    report(1);
    QCOMPARE(point.updateCount(), std::numeric_limits<quint32>::max());
    report(2);
    QCOMPARE(point.updateCount(), 1u);
    QVERIFY(point.isAvailable());
    report(3);
    QCOMPARE(point.updateCount(), 2u);
}

void TestDPointObject::show_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("shown");
    QTest::newRow("invalid") << QVariant() << true;
    QTest::newRow("int 0") << QVariant(0) << false;
    QTest::newRow("real 0.0") << QVariant(0.0) << false;
    QTest::newRow("text 0") << QVariant(QStringLiteral("0")) << false;
    QTest::newRow("bool false") << QVariant(false) << true;
    QTest::newRow("int 1") << QVariant(1) << true;
    QTest::newRow("text 00") << QVariant(QStringLiteral("00")) << true;
    QTest::newRow("text blank 0") << QVariant(QStringLiteral(" 0")) << true;
    QTest::newRow("empty text") << QVariant(QString()) << true;
}

void TestDPointObject::show()
{
    QFETCH(QVariant, value);
    QFETCH(bool, shown);
    DPointObject point;
    point.setCurrentValue(value);
    QCOMPARE(point.show(), shown);
}

void TestDPointObject::showThisVar()
{
    DPointProvider provider;
    QScopedPointer<DPointDef> controlledDef(makeDef(nullptr, nullptr));
    controlledDef->setProperty("ShowVar", QStringLiteral("ShowVar_Ctrl"));
    QScopedPointer<DPointDef> plainDef(makeDef(nullptr, nullptr));

    auto* controller = new DPointObject(nullptr);
    controller->setObjectName(QStringLiteral("SHOWVAR_ctrl"));
    provider.addPoint(controller);
    QSignalSpy covSpy(controller, &DPointObject::covEnabled);

    // No definition, or a definition without "ShowVar": shown.
    auto* point = new DPointObject(nullptr);
    point->setObjectName(QStringLiteral("shown"));
    provider.addPoint(point);
    QVERIFY(point->showThisVar());
    point->setDPointDef(plainDef.data());
    QVERIFY(point->showThisVar());

    // Without a provider parent the named point cannot be found: shown.
    DPointObject orphan;
    orphan.setDPointDef(controlledDef.data());
    controller->setCurrentValue(0);
    QVERIFY(orphan.showThisVar());

    // With a provider parent the named point decides, whatever the case of the name.
    point->setDPointDef(controlledDef.data());
    QVERIFY(!point->showThisVar());
    QCOMPARE(covSpy.count(), 1);
    controller->setCurrentValue(1);
    QVERIFY(point->showThisVar());
    controller->setCurrentValue(QStringLiteral("0"));
    QVERIFY(!point->showThisVar());

    // The named point unregistered: shown.
    QCOMPARE(provider.removePoint(QStringLiteral("ShowVar_Ctrl")), 1);
    QVERIFY(point->showThisVar());

    // A parent that is not a provider: shown.
    QObject otherParent;
    DPointObject adopted(&otherParent);
    adopted.setDPointDef(controlledDef.data());
    QVERIFY(adopted.showThisVar());
}

void TestDPointObject::traceLines()
{
    ProbePoint point;
    point.setObjectName(QStringLiteral("tp"));
    const QString object = objectText(&point);
    TopicLogger::m_topics[covsTopic] = true;
    TopicLogger::m_topics[traceTopic] = true;

    // The first value is not traced.
    point.setCurrentValue(1);

    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QStringLiteral("change:  ") + object
            + QStringLiteral("  [ 1 ]  old:  QVariant(int, 1)   new:  QVariant(int, 2)")));
    point.setCurrentValue(2);

    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QStringLiteral("update:  ") + object
            + QStringLiteral("  [ 2 ]  old:  QVariant(int, 2)   upd:  QVariant(QString, \"3\")")));
    point.setUpdatePending(QStringLiteral("3"), false);

    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QStringLiteral("commit:  ") + object
            + QStringLiteral("  [ 2 ]  old:  QVariant(int, 2)   pnd:  QVariant(QString, \"3\")")));
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QStringLiteral("change:  ") + object
            + QStringLiteral("  [ 2 ]  old:  QVariant(int, 2)   new:  QVariant(QString, \"3\")")));
    point.commitPending();

    QTest::ignoreMessage(QtDebugMsg,
        qPrintable(QStringLiteral("cmplte:  ") + object
            + QStringLiteral(
                "  [ 3 ]  old:  QVariant(QString, \"3\")   new:  QVariant(double, 4.5)")));
    point.setUpdateComplete(4.5, StatRef());
}

void TestDPointObject::noTraceWhenTopicsOff()
{
    MessageCapture capture;
    ProbePoint point;
    point.setCurrentValue(1);
    point.setCurrentValue(2);
    point.setUpdatePending(3, false);
    point.commitPending();
    point.setUpdateComplete(4, StatRef());
    QCOMPARE(capture.messages(), QStringList());
}

void TestDPointObject::covEnabledSlotReentersPoint()
{
    ProbePoint point;
    point.setCurrentValue(1);
    point.setUpdatePending(2, false);
    QVariantList seen;
    bool availableInSlot = false;
    bool pendingInSlot = false;
    connect(&point, &DPointObject::covEnabled, this, [&](bool) {
        seen << point.getCurrentValue() << point.getPendingValue();
        availableInSlot = point.isAvailable();
        pendingInSlot = point.isPending();
        point.getUpdateStatus();
        point.setCurrentValue(5);
    });
    QSignalSpy changed(&point, &DPointObject::valueChanged);

    QCOMPARE(point.getCurrentValue(), QVariant(5));
    QCOMPARE(seen, (QVariantList { 1, 2 }));
    QVERIFY(availableInSlot);
    QVERIFY(pendingInSlot);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(point.updateCount(), 2u);
}

void TestDPointObject::covEnabledSlotReadsPointSharingTheLock()
{
    QReadWriteLock sharedLock(QReadWriteLock::Recursive);
    SharedLockPoint first(&sharedLock);
    SharedLockPoint second(&sharedLock);
    second.setCurrentValue(3);
    QVariant seen;
    connect(&first, &DPointObject::covEnabled, this, [&](bool) {
        seen = second.getCurrentValue();
        first.setUpdatePending(4, false);
        first.commitPending();
    });
    QSignalSpy secondCov(&second, &DPointObject::covEnabled);

    QCOMPARE(first.getCurrentValue(), QVariant(4));
    QCOMPARE(seen, QVariant(3));
    QCOMPARE(secondCov.count(), 1);
}

void TestDPointObject::unlockedSubclass()
{
    UnlockedPoint point;
    QVERIFY(point.getLock() == nullptr);
    SignalLog log(&point);
    connect(&point, &DPointObject::covEnabled, this, [&](bool) { point.getCurrentValue(); });

    QVERIFY(!point.getCurrentValue().isValid());
    point.setCurrentValue(1);
    point.setUpdatePending(2, false);
    point.commitPending();
    point.cancelPending();
    point.setUpdatePending(3, false);
    point.setUpdateComplete(3, StatRef());
    QCOMPARE(log.take(),
        (QStringList { "covEnabled(true)", "valueChanged", "valueChanged", "updatePending",
            "updatePending", "updateCompleted(true)", "valueChanged" }));
    QVERIFY(point.isAvailable());
    QVERIFY(!point.isPending());
    QCOMPARE(point.getCurrentValue(), QVariant(3));
}

void TestDPointObject::valueChangedQueuedAcrossThreads()
{
    DPointObject point;
    QObject receiver;
    QList<DPointObject*> delivered;
    QList<QThread*> deliveryThreads;
    connect(&point, &DPointObject::valueChanged, &receiver, [&](DPointObject* sender) {
        delivered << sender;
        deliveryThreads << QThread::currentThread();
    });

    // QThread::wait() synchronises out of the thread sanitizer's sight; the flag does not.
    std::atomic<bool> finished { false };
    QScopedPointer<QThread> worker(QThread::create([&] {
        point.setCurrentValue(11);
        finished.store(true, std::memory_order_release);
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QVERIFY(finished.load(std::memory_order_acquire));
    QCOMPARE(delivered.count(), 0);

    QTRY_COMPARE(delivered.count(), 1);
    QCOMPARE(delivered.first(), &point);
    QCOMPARE(deliveryThreads.first(), QThread::currentThread());
}

QTEST_GUILESS_MAIN(TestDPointObject)
#include "tst_dpointobject.moc"
