#include <kivo/core/StatRef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/VirtualDPointObject.h>
#include <kivo/types/DPTypeNumber.h>

#include <QMetaObject>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

using kivo::DPointObject;
using kivo::StatRef;
using kivo::VirtualDPointObject;

namespace {

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

bool invokeAddDependency(VirtualDPointObject* follower, const QVariant& dependency)
{
    return QMetaObject::invokeMethod(
        follower, "addDependency", Qt::DirectConnection, Q_ARG(QVariant, dependency));
}

} // namespace

class TestVirtualDPointObject : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void acceptedDependencies_data();
    void acceptedDependencies();
    void rejectedDependencies_data();
    void rejectedDependencies();
    void countsChangesOfEveryDependency();
    void sameDependencyTwice();
    void destroyedDependency();
    void dependencyChangingInAnotherThread();
};

void TestVirtualDPointObject::acceptedDependencies_data()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("DPointObject*") << "point";
    QTest::newRow("QObject*") << "object";
}

void TestVirtualDPointObject::acceptedDependencies()
{
    QFETCH(QString, form);
    DPointObject point;
    VirtualDPointObject follower;
    QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
    const QVariant dependency = form == QLatin1String("point")
        ? QVariant::fromValue(&point)
        : QVariant::fromValue(static_cast<QObject*>(&point));
    QVERIFY(invokeAddDependency(&follower, dependency));
    point.setCurrentValue(1);
    QCOMPARE(spy.count(), 1);
}

void TestVirtualDPointObject::rejectedDependencies_data()
{
    QTest::addColumn<QVariant>("dependency");
    QTest::newRow("nothing") << QVariant();
    QTest::newRow("integer") << QVariant(42);
    QTest::newRow("text") << QVariant(QStringLiteral("p1"));
    QTest::newRow("null point") << QVariant::fromValue(static_cast<DPointObject*>(nullptr));
}

void TestVirtualDPointObject::rejectedDependencies()
{
    QFETCH(QVariant, dependency);
    VirtualDPointObject follower;
    QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
    MessageCapture capture;
    QVERIFY(invokeAddDependency(&follower, dependency));
    QCOMPARE(capture.messages(), QStringList());
    QCOMPARE(spy.count(), 0);
}

void TestVirtualDPointObject::countsChangesOfEveryDependency()
{
    DPointObject first;
    DPointObject second;
    // An object of another class is no dependency, and does not disturb the others.
    kivo::DPTypeNumber notAPoint;
    VirtualDPointObject follower;
    QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
    follower.addDependency(QVariant::fromValue(&first));
    follower.addDependency(QVariant::fromValue(static_cast<QObject*>(&notAPoint)));
    follower.addDependency(QVariant::fromValue(&second));

    first.setCurrentValue(1);
    QCOMPARE(spy.count(), 1);
    first.setCurrentValue(1);
    QCOMPARE(spy.count(), 1);
    second.setCurrentValue(5);
    QCOMPARE(spy.count(), 2);
    // Completion announces a change even when the value stays the same.
    second.setUpdateComplete(5, StatRef());
    QCOMPARE(spy.count(), 3);
    second.setUpdatePending(6, false);
    second.commitPending();
    QCOMPARE(spy.count(), 4);
    second.cancelPending();
    QCOMPARE(spy.count(), 4);
}

void TestVirtualDPointObject::sameDependencyTwice()
{
    DPointObject point;
    VirtualDPointObject follower;
    QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
    QVERIFY(invokeAddDependency(&follower, QVariant::fromValue(&point)));
    QVERIFY(invokeAddDependency(&follower, QVariant::fromValue(&point)));
    point.setCurrentValue(1);
    QCOMPARE(spy.count(), 2);
}

void TestVirtualDPointObject::destroyedDependency()
{
    auto* gone = new DPointObject(nullptr);
    DPointObject kept;
    VirtualDPointObject follower;
    QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
    follower.addDependency(QVariant::fromValue(gone));
    follower.addDependency(QVariant::fromValue(&kept));
    delete gone;
    QCOMPARE(spy.count(), 0);
    kept.setCurrentValue(1);
    QCOMPARE(spy.count(), 1);
}

void TestVirtualDPointObject::dependencyChangingInAnotherThread()
{
    DPointObject point;
    VirtualDPointObject follower;
    QList<QThread*> emittedIn;
    connect(&follower, &VirtualDPointObject::valueChanged, this,
        [&] { emittedIn << QThread::currentThread(); });
    follower.addDependency(QVariant::fromValue(&point));

    // QThread::wait() synchronises out of the thread sanitizer's sight; the flag does not.
    std::atomic<bool> finished { false };
    QScopedPointer<QThread> worker(QThread::create([&] {
        point.setCurrentValue(1);
        point.setCurrentValue(2);
        finished.store(true, std::memory_order_release);
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QVERIFY(finished.load(std::memory_order_acquire));
    // Nothing arrives before this thread's event loop runs.
    QCOMPARE(emittedIn.count(), 0);

    QTRY_COMPARE(emittedIn.count(), 2);
    QCOMPARE(emittedIn.at(0), QThread::currentThread());
    QCOMPARE(emittedIn.at(1), QThread::currentThread());
}

QTEST_GUILESS_MAIN(TestVirtualDPointObject)
#include "tst_virtualdpointobject.moc"
