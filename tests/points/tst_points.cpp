#include <kivo/kivodpoints.h>

#include <QPointer>
#include <QSharedPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

constexpr int covsTopic = 4;
constexpr int traceTopic = 5;

// A point that counts commits (the automatic commit calls the virtual commitPending too) and
// exposes its change count; "unlocked" runs without a lock, a given lock is shared.
class ProbePoint : public DPointObject
{
    Q_OBJECT
public:
    explicit ProbePoint(QReadWriteLock* lock = nullptr, bool unlocked = false)
        : m_shared(lock)
        , m_unlocked(unlocked)
    { }
    QReadWriteLock* getLock() const override
    {
        return m_shared || m_unlocked ? m_shared : DPointObject::getLock();
    }
    StatRef commitPending() override
    {
        ++m_commits;
        return DPointObject::commitPending();
    }
    quint32 count() const { return m_updateCount; }
    void setCount(quint32 count) { m_updateCount = count; }

    int m_commits = 0;
    QReadWriteLock* m_shared;
    bool m_unlocked;
};

QString text(const QVariant& v)
{
    return !v.isValid()                      ? "-"
        : v.userType() == QMetaType::QString ? "'" + v.toString()
                                             : v.toString();
}

QVariant value(const QString& t)
{
    if (t == "-")
        return QVariant();
    if (t.startsWith('\''))
        return t.mid(1);
    return t.contains('.') ? QVariant(t.toDouble()) : QVariant(t.toInt());
}

// Records the point's signals in emission order; "!" marks one emitted outside the point's thread.
void attachLog(DPointObject* point, QStringList* log)
{
    const auto note = [point, log](const QString& event) {
        *log << event + (QThread::currentThread() == point->thread() ? "" : "!");
    };
    QObject::connect(point, &DPointObject::valueChanged, [note] { note("v"); });
    QObject::connect(point, &DPointObject::updatePending, [note] { note("u"); });
    QObject::connect(
        point, &DPointObject::updateCompleted, [note](bool ok) { note(ok ? "c+" : "c-"); });
    QObject::connect(
        point, &DPointObject::covEnabled, [note](bool on) { note(on ? "cov" : "cov-"); });
}

// Current and pending value, isPending, isAvailable, change count, status code, show().
QString state(ProbePoint& p)
{
    StatBase* stat = p.getUpdateStatus().m_stat;
    return QStringList { text(p.getCurrentValue()), text(p.getPendingValue()),
        QString::number(p.isPending()), QString::number(p.isAvailable()),
        QString::number(p.count()), stat ? stat->getCode() : "ok", QString::number(p.show()) }
        .join(' ');
}

DPointObject* named(const QString& name, QObject* parent = nullptr)
{
    auto* point = new DPointObject(parent);
    point->setObjectName(name);
    return point;
}

QStringList s_messages;
void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    s_messages << message;
}

} // namespace

class TestPoints : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        TopicLogger::m_topics[covsTopic] = TopicLogger::m_topics[traceTopic] = false;
    }

    // Script steps: "s V" report, "p V" request without commit, "c" commit, "x" cancel, "d V" /
    // "f V" complete with success / failure "E1", "g" read ("=V"), "w" change count 2^32 - 2.
    // V: an int, a real (with "."), 'text, or - for none.
    void writeCycle_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("state");
        const auto row
            = [](const char* name, const char* type, const char* script, const char* log,
                  const char* state) { QTest::newRow(name) << type << script << log << state; };
        row("first read enables reporting once", "number", "g;g;s 1;g", "cov =- =- v =1",
            "1 - 0 1 1 ok 1");
        row("only changes are reported", "number", "s 5;s 5;s 6", "v v", "6 - 0 1 2 ok 1");
        row("commit keeps the request", "number", "s 1;p 2;c", "v v u", "2 2 1 1 2 ok 1");
        row("replace, commit, recommit, cancel, idle", "none", "s 1;p 2;p 3;c;c;x;c;x", "v v u u",
            "3 - 0 1 2 ok 1");
        row("commit of the current value", "number", "s 7;p 7;c", "v", "7 7 1 1 1 ok 1");
        row("completion with the same value", "number", "s 4;p 9;d 4", "v c+ v", "4 - 0 1 2 ok 1");
        row("completion failed", "number", "s 4;p 9;f 4", "v c- v", "4 - 0 1 2 E1 1");
        row("success clears the failure", "number", "f 1;d 2", "c- v c+ v", "2 - 0 1 2 ok 1");
        row("count wraps to one", "number", "w;s 1;s 2;s 3", "v v v", "3 - 0 1 2 ok 1");
        row("count wraps on completion", "number", "w;d 1;d 2", "c+ v c+ v", "2 - 0 1 1 ok 1");
        row("sentinel -32768", "number", "s 1;s -32768", "v v", "- - 0 1 2 ok 1");
        row("sentinel int min", "number", "s 1;s -2147483648", "v v", "- - 0 1 2 ok 1");
        row("sentinel 32768", "number", "s 1;s 32768", "v v", "- - 0 1 2 ok 1");
        row("sentinel text", "number", "s 1;s '32768", "v v", "- - 0 1 2 ok 1");
        row("sentinel negative text", "number", "s 1;s '-32768", "v v", "- - 0 1 2 ok 1");
        row("32767 kept", "number", "s 1;s 32767", "v v", "32767 - 0 1 2 ok 1");
        row("-32767 kept", "number", "s 1;s -32767", "v v", "-32767 - 0 1 2 ok 1");
        row("text 3276 kept", "number", "s 1;s '3276", "v v", "'3276 - 0 1 2 ok 1");
        row("real -32768 kept", "real", "s 1;s -32768.0", "v v", "-32768 - 0 1 2 ok 1");
        row("real text 32768 kept", "real", "s 1;s '32768", "v v", "'32768 - 0 1 2 ok 1");
        row("no definition, -32768 kept", "none", "s 1;s -32768", "v v", "-32768 - 0 1 2 ok 1");
        row("unlocked point", "unlocked", "g;s 1;p 2;c;x;p 3;d 3", "cov =- v v u u c+ v",
            "3 - 0 1 3 ok 1");
        row("hidden by 0", "none", "s 0", "v", "0 - 0 1 1 ok 0");
        row("hidden by 0.0", "none", "s 0.0", "v", "0 - 0 1 1 ok 0");
        row("hidden by text 0", "none", "s '0", "v", "'0 - 0 1 1 ok 0");
        row("shown by text 00", "none", "s '00", "v", "'00 - 0 1 1 ok 1");
    }

    void writeCycle()
    {
        QFETCH(QString, type);
        QFETCH(QString, script);
        DPointDef def;
        def._init("p", "p", "", "", 0,
            type == "number"     ? static_cast<DPTypeBase*>(new DPTypeNumber(&def))
                : type == "real" ? new DPTypeReal(&def)
                                 : nullptr);
        ProbePoint point(nullptr, type == "unlocked");
        point.setDPointDef(type == "none" ? nullptr : &def);
        QStringList log;
        attachLog(&point, &log);
        for (const QString& step : script.split(';')) {
            const QVariant v = value(step.mid(2));
            switch (step.at(0).toLatin1()) {
            case 's':
                point.setCurrentValue(v);
                break;
            case 'p':
                QVERIFY(!point.setUpdatePending(v, false).m_stat);
                break;
            case 'c':
                QVERIFY(!point.commitPending().m_stat);
                break;
            case 'x':
                QVERIFY(!point.cancelPending().m_stat);
                break;
            case 'd':
                point.setUpdateComplete(v, StatRef());
                break;
            case 'f':
                point.setUpdateComplete(v, StatRef(new StatBase("E1", "failed")));
                break;
            case 'g':
                log << "=" + text(point.getCurrentValue());
                break;
            case 'w':
                point.setCount(0xfffffffe);
                break;
            }
        }
        QTEST(log.join(' '), "log");
        QTEST(state(point), "state");
    }

    // A second automatic commit finds the value current; the commit runs in the point's thread
    // although the asking thread runs no event loop.
    void autoCommit_data()
    {
        QTest::addColumn<bool>("otherThread");
        QTest::newRow("this thread") << false;
        QTest::newRow("other thread") << true;
    }

    void autoCommit()
    {
        QFETCH(bool, otherThread);
        ProbePoint point;
        point.setCurrentValue(1);
        QStringList log;
        attachLog(&point, &log);
        const auto request = [&point] {
            point.setUpdatePending(8);
            point.setUpdatePending(8);
        };
        if (otherThread)
            std::thread(request).join();
        else
            request();
        QCOMPARE(point.m_commits, 0);
        QTRY_COMPARE(point.m_commits, 2);
        QCOMPARE(log, QStringList({ "v", "u" }));
        QCOMPARE(state(point), QString("8 8 1 1 2 ok 1"));
    }

    // The first read's covEnabled is emitted under the lock; its slot may use the point and
    // any point sharing the lock.
    void covSlotReentersPoints_data()
    {
        QTest::addColumn<bool>("sharedLock");
        QTest::newRow("own lock") << false;
        QTest::newRow("shared lock") << true;
    }

    void covSlotReentersPoints()
    {
        QFETCH(bool, sharedLock);
        QReadWriteLock lock(QReadWriteLock::Recursive);
        ProbePoint first(sharedLock ? &lock : nullptr);
        ProbePoint second(sharedLock ? &lock : nullptr);
        second.setCurrentValue(3);
        first.setCurrentValue(1);
        first.setUpdatePending(2, false);
        QVariantList seen;
        connect(&first, &DPointObject::covEnabled, this, [&] {
            seen << second.getCurrentValue() << first.getCurrentValue() << first.getPendingValue()
                 << first.isAvailable() << first.isPending();
            first.commitPending();
        });
        QCOMPARE(first.getCurrentValue(), QVariant(2));
        QCOMPARE(seen, QVariantList({ 3, 1, 2, true, true }));
    }

    void trace_data()
    {
        QTest::addColumn<bool>("covs");
        QTest::addColumn<bool>("trace");
        QTest::addColumn<QStringList>("lines");
        const QString change = "change:  %1  [ %2 ]  old:  QVariant(int, %3)   new:  QVariant(%4)";
        QTest::newRow("off") << false << false << QStringList();
        QTest::newRow("changes") << true << false
                                 << QStringList { change.arg("%1", "1", "1", "int, 2"),
                                        change.arg("%1", "2", "2", "QString, \"3\"") };
        QTest::newRow("requests")
            << false << true
            << QStringList {
                   "update:  %1  [ 2 ]  old:  QVariant(int, 2)   upd:  QVariant(QString, \"3\")",
                   "commit:  %1  [ 2 ]  old:  QVariant(int, 2)   pnd:  QVariant(QString, \"3\")",
                   "cmplte:  %1  [ 3 ]  old:  QVariant(QString, \"3\")   new:  QVariant(double, "
                   "4.5)"
               };
    }

    void trace()
    {
        QFETCH(QStringList, lines);
        QFETCH(bool, covs);
        QFETCH(bool, trace);
        DPointObject point;
        point.setObjectName("tp");
        QString object;
        QDebug(&object).nospace() << &point;
        TopicLogger::m_topics[covsTopic] = covs;
        TopicLogger::m_topics[traceTopic] = trace;
        s_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        point.setCurrentValue(1);
        point.setCurrentValue(2);
        point.setUpdatePending("3", false);
        point.commitPending();
        point.setUpdateComplete(4.5, StatRef());
        qInstallMessageHandler(previous);
        for (QString& line : lines)
            line = line.arg(object);
        QCOMPARE(s_messages, lines);
    }

    void showThisVar()
    {
        DPointProvider provider;
        DPointDef plain;
        DPointDef controlled;
        controlled.setProperty("ShowVar", "ShowVar_Ctrl");
        DPointObject* controller = named("SHOWVAR_ctrl");
        provider.addPoint(controller);
        QObject other;
        DPointObject* points[] = { named("nodef", &provider), named("plain", &provider),
            named("controlled", &provider), named("orphan"), named("adopted", &other) };
        points[1]->setDPointDef(&plain);
        for (int i = 2; i < 5; ++i)
            points[i]->setDPointDef(&controlled);
        const auto verdicts = [&points] {
            QString result;
            for (DPointObject* point : points)
                result += point->showThisVar() ? '1' : '0';
            return result;
        };
        controller->setCurrentValue(0);
        QCOMPARE(verdicts(), QString("11011"));
        controller->setCurrentValue(1);
        QCOMPARE(verdicts(), QString("11111"));
        controller->setCurrentValue("0");
        QCOMPARE(verdicts(), QString("11011"));
        QCOMPARE(provider.removePoint("ShowVar_Ctrl"), 1);
        QCOMPARE(verdicts(), QString("11111"));
        delete points[3];
    }

    void follower_data()
    {
        QTest::addColumn<QString>("dependencies");
        QTest::addColumn<int>("changes");
        QTest::newRow("point") << "point" << 1;
        QTest::newRow("point as QObject") << "object" << 1;
        QTest::newRow("point twice") << "point,object" << 2;
        QTest::newRow("nothing usable") << "none,int,text,null,stranger" << 0;
    }

    void follower()
    {
        QFETCH(QString, dependencies);
        DPointObject point;
        QObject stranger;
        VirtualDPointObject follower;
        QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
        const QMap<QString, QVariant> forms { { "point", QVariant::fromValue(&point) },
            { "object", QVariant::fromValue<QObject*>(&point) }, { "int", 42 }, { "text", "point" },
            { "null", QVariant::fromValue<DPointObject*>(nullptr) },
            { "stranger", QVariant::fromValue(&stranger) } };
        for (const QString& form : dependencies.split(','))
            QVERIFY(QMetaObject::invokeMethod(
                &follower, "addDependency", Q_ARG(QVariant, forms.value(form))));
        point.setCurrentValue(1);
        point.setCurrentValue(1);
        QTEST(spy.count(), "changes");
    }

    // valueChanged(DPointObject*) reaches a receiver and a follower of another thread queued.
    void changesQueuedAcrossThreads()
    {
        DPointObject point;
        VirtualDPointObject follower;
        follower.addDependency(QVariant::fromValue(&point));
        QVector<QThread*> seen;
        connect(&follower, &VirtualDPointObject::valueChanged, this,
            [&] { seen << QThread::currentThread(); });
        connect(&point, &DPointObject::valueChanged, this, [&](DPointObject* sender) {
            seen << (sender == &point ? QThread::currentThread() : nullptr);
        });
        std::thread([&point] {
            point.setCurrentValue(1);
            point.setCurrentValue(2);
        }).join();
        QCOMPARE(seen.size(), 0);
        QTRY_COMPARE(seen, QVector<QThread*>(4, QThread::currentThread()));
    }

    void registry()
    {
        DPointDictionary first, second, other;
        first.setObjectName("Main");
        second.setObjectName("MAIN");
        other.setObjectName("aux");
        auto* provider = new DPointProvider;
        QPointer<DPointObject> a = named("Pump_A");
        const QString longName(70, 'X');
        const QList<DPointObject*> points { a, named(QString::fromUtf8("ÄUSSERE")),
            named(longName) };
        DPointObject* found = nullptr;
        connect(points[1], &QObject::objectNameChanged, this,
            [&] { found = provider->getDPointByName("PUMP_A"); });
        for (DPointObject* point : points)
            provider->addPoint(point);
        QCOMPARE(found, a.data());
        QCOMPARE(a->objectName(), QString("pump_a"));
        QCOMPARE(a->parent(), provider);
        QCOMPARE(provider->getDPointByName("PUMP_a"), a.data());
        QCOMPARE(provider->getDPointByName(QString::fromUtf8("äussere")), points[1]);
        QCOMPARE(provider->getDPointByName(longName.toLower()), points[2]);
        QCOMPARE(provider->getDPointByName("pump_b"), nullptr);
        QPointer<DPointObject> b = named("PUMP_a");
        QTest::ignoreMessage(
            QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"pump_a\"");
        provider->addPoint(b);
        QCOMPARE(provider->getDPointByName("pump_a"), b.data());
        QCOMPARE(provider->getNamespaceSize(), 4);
        QCOMPARE(provider->removePoint("Pump_A"), 1);
        QCOMPARE(provider->removePoint("Pump_A"), 0);
        QCOMPARE(provider->getDPointByName("pump_a"), nullptr);

        for (DPointDictionary* dict : { &first, &other, &second })
            provider->addDict(dict);
        QCOMPARE(provider->getDictByName("main"), &second);
        QCOMPARE(provider->getDictByName("AUX"), &other);
        QCOMPARE(provider->getDictByName("none"), nullptr);
        QCOMPARE(provider->getAllDicts(), QList<DPointDictionary*>({ &other, &second }));
        QCOMPARE(second.objectName(), QString("MAIN"));
        QCOMPARE(provider->removeDict("Main"), 1);
        QCOMPARE(provider->removeDict("Main"), 0);
        QCOMPARE(provider->getAllDicts(), QList<DPointDictionary*> { &other });
        delete provider;
        QVERIFY(!a && !b);
    }

    void connectStatus()
    {
        DPointProvider provider;
        QSignalSpy spy(&provider, &DPointProvider::connectStatusChanged);
        QList<bool> states;
        for (bool connected : { false, true, true, false }) {
            provider.setConnectStatus(connected);
            states << provider.isConnected();
        }
        QCOMPARE(states, QList<bool>({ false, true, true, false }));
        QCOMPARE(QList<QVariantList>(spy), QList<QVariantList>({ { true }, { false } }));
    }

    void pointOfThirdThreadRefused()
    {
        DPointProvider provider;
        std::unique_ptr<DPointObject> point;
        std::thread([&point] { point.reset(named("Pump_A")); }).join();
        QTest::ignoreMessage(QtCriticalMsg,
            "Point \"Pump_A\" not registered: it lives in another thread than the provider, and "
            "only its own thread may move it.");
        provider.addPoint(point.get());
        QCOMPARE(provider.getDPointByName("pump_a"), nullptr);
        QCOMPARE(point->objectName(), QString("Pump_A"));
        QVERIFY(!point->parent() && point->thread() != provider.thread());
    }

    // Threads register points they made (children of their own object) and points of the
    // provider's thread, all at once.
    void registerFromManyThreads()
    {
        constexpr int threadCount = 4;
        constexpr int perKind = 40;
        auto* provider = new DPointProvider;
        std::vector<DPointObject*> points(threadCount * 2 * perKind, nullptr);
        std::atomic<bool> go { false };
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            for (int n = 0; n < perKind; ++n)
                points[(2 * t + 1) * perKind + n] = new DPointObject;
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
            QCOMPARE(provider->getDPointByName(QStringLiteral("POINT_%1").arg(i)), points[i]);
            QVERIFY(points[i]->parent() == provider && points[i]->thread() == provider->thread());
            watched << points[i];
        }
        delete provider;
        QCOMPARE(watched.count(nullptr), watched.size());
    }

    // Reporters, writers (one per point), readers and a registrar, all at once; every change,
    // request and completion is announced exactly once.
    void concurrentUse()
    {
        constexpr int pointCount = 4, reports = 300, cycles = 150, dynamic = 200;
        DPointProvider provider;
        std::vector<std::unique_ptr<DPointDef>> defs;
        std::vector<ProbePoint*> points;
        std::atomic<int> changes[pointCount] = {}, pendings { 0 }, completions { 0 }, covs { 0 };
        for (int i = 0; i < pointCount; ++i) {
            defs.emplace_back(new DPointDef);
            defs.back()->setProperty("ShowVar", QStringLiteral("P%1").arg((i + 1) % pointCount));
            auto* point = new ProbePoint;
            point->setObjectName(QStringLiteral("P%1").arg(i));
            point->setDPointDef(defs.back().get());
            connect(point, &DPointObject::valueChanged, [&changes, i] { ++changes[i]; });
            connect(point, &DPointObject::updatePending, [&pendings] { ++pendings; });
            connect(point, &DPointObject::updateCompleted, [&completions] { ++completions; });
            connect(point, &DPointObject::covEnabled, [&covs, point] {
                ++covs;
                point->getCurrentValue();
                point->getPendingValue();
            });
            provider.addPoint(point);
            points.push_back(point);
        }
        std::atomic<bool> failed { false };
        std::vector<std::thread> threads;
        for (int r = 0; r < 2; ++r) {
            threads.emplace_back([&, r] {
                for (int n = 0; n < reports; ++n)
                    for (ProbePoint* point : points)
                        point->setCurrentValue(1000000 * (r + 1) + n);
            });
            threads.emplace_back([&] {
                bool was[pointCount] = {};
                for (int n = 0; n < 400; ++n) {
                    for (int i = 0; i < pointCount; ++i) {
                        points[i]->getCurrentValue();
                        points[i]->showThisVar();
                        failed = failed || (was[i] && !points[i]->isAvailable());
                        was[i] = points[i]->isAvailable();
                    }
                }
            });
        }
        for (ProbePoint* point : points) {
            threads.emplace_back([&failed, point] {
                for (int n = 0; n < cycles; ++n) {
                    point->setUpdatePending(-(2 * n + 1), false);
                    failed = failed || !point->isPending();
                    point->commitPending();
                    if (n % 10 == 0)
                        point->cancelPending();
                    else
                        point->setUpdateComplete(
                            -(2 * n + 2), StatRef(n % 3 ? nullptr : new StatBase("E")));
                }
            });
        }
        threads.emplace_back([&] {
            for (int n = 0; n < dynamic; ++n) {
                auto* point = named(QStringLiteral("Dyn_%1").arg(n));
                point->moveToThread(provider.thread());
                provider.addPoint(point);
                failed = failed
                    || provider.getDPointByName(QStringLiteral("DYN_%1").arg(n)) != point
                    || (n % 2 == 0 && provider.removePoint(QStringLiteral("dyn_%1").arg(n)) != 1);
            }
        });
        for (std::thread& thread : threads)
            thread.join();
        QVERIFY(!failed);
        const int completes = cycles - cycles / 10;
        for (int i = 0; i < pointCount; ++i) {
            QCOMPARE(changes[i].load(), 2 * reports + cycles + completes);
            QCOMPARE(points[i]->count(), quint32(2 * reports + cycles + completes));
            QVERIFY(!points[i]->isPending());
        }
        QCOMPARE(completions.load(), pointCount * completes);
        QCOMPARE(pendings.load(), pointCount * (cycles + cycles / 10));
        QCOMPARE(covs.load(), pointCount);
        QCOMPARE(provider.getNamespaceSize(), pointCount + dynamic);
    }

    // What the point lets go of (value, request, status: QObjects here, whose destroyed() runs
    // code) is destroyed after its lock is released.
    void nothingDestroyedUnderLock_data()
    {
        QTest::addColumn<char>("step");
        QTest::addColumn<int>("destroyed");
        QTest::newRow("value replaced") << 's' << 1;
        QTest::newRow("request replaced") << 'p' << 1;
        QTest::newRow("request cancelled") << 'x' << 1;
        QTest::newRow("value, request and status replaced") << 'd' << 3;
    }

    void nothingDestroyedUnderLock()
    {
        QFETCH(char, step);
        DPointObject point;
        QObject observer; // destroyed first: the point's own end is not observed
        QVector<bool> lockFree;
        const auto probe = [&] {
            auto* object = new StatBase;
            connect(object, &QObject::destroyed, &observer, [&] {
                lockFree << std::async(std::launch::async, [&point] {
                    const bool free = point.getLock()->tryLockForWrite();
                    if (free)
                        point.getLock()->unlock();
                    return free;
                }).get();
            });
            return object;
        };
        const auto payload = [&] { return QVariant::fromValue(QSharedPointer<QObject>(probe())); };
        point.setUpdateComplete(payload(), StatRef(probe()));
        point.setUpdatePending(payload(), false);
        if (step == 's')
            point.setCurrentValue(1);
        else if (step == 'p')
            point.setUpdatePending(1, false);
        else if (step == 'x')
            point.cancelPending();
        else
            point.setUpdateComplete(1, StatRef());
        QTEST(lockFree.size(), "destroyed");
        QVERIFY(!lockFree.contains(false));
    }

    // Text converted to the point's type under the default locale; other values unchanged.
    void checkDPointType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("expected");
        const QVariant no;
        const auto row = [](const char* type, QVariant in, QVariant out) {
            QTest::newRow(qPrintable(QString(type) + ' ' + in.typeName() + ' ' + in.toString()))
                << type << in << out;
        };
        for (const char* t : { "42", "-7" })
            row("number", t, QString(t).toInt());
        for (const char* t : { "4x2", "", "2.5", "2147483648" })
            row("number", t, no);
        row("number", 5, 5);
        row("number", 5.5, 5.5);
        row("number", no, no);
        row("number", QByteArray("x"), QByteArray("x"));
        row("real", "2.5", 2.5);
        row("real", "3", 3.0);
        row("real", "abc", no);
        row("real", "", no);
        row("real", "2,5", no);
        row("real@de", "2,5", 2.5);
        for (const char* t : { "open", "OPEN", "Open" })
            row("enum", t, 1);
        row("enum", "cLoSeD", 2);
        for (const char* t : { "Ajar", " Open", "1" })
            row("enum", t, no);
        row("enum", 7, 7);
        row("emptyEnum", "Open", no);
        row("ipv4", "16909060", 16909060);
        row("ipv4", "1.2.3.4", no);
        row("time", "12", 12u);
        row("time", "4294967295", 4294967295u);
        row("time", "-1", no);
        row("time", "1.5", no);
        for (const char* t : { "string", "event", "none", "nodef" })
            row(t, "4x2", "4x2");
    }

    void checkDPointType()
    {
        QFETCH(QString, type);
        QFETCH(QVariant, expected);
        DPointDef def;
        auto* choices = new DPTypeEnum(&def);
        choices->_init(1, { { 1, "Open" }, { 2, "Closed" } });
        const QMap<QString, DPTypeBase*> types { { "number", new DPTypeNumber(&def) },
            { "real", new DPTypeReal(&def) }, { "real@de", new DPTypeReal(&def) },
            { "enum", choices }, { "emptyEnum", new DPTypeEnum(&def) },
            { "ipv4", new DPTypeIPv4(&def) }, { "time", new DPTypeTime(&def) },
            { "string", new DPTypeString(&def) }, { "event", new DPTypeEvent(&def) } };
        def._init("p", "p", "", "", 0, types.value(type));
        if (type == "real@de")
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        DPointObject point;
        point.setDPointDef(type == "nodef" ? nullptr : &def);
        QSignalSpy cov(&point, &DPointObject::covEnabled);
        QFETCH(QVariant, input);
        const QVariant result = kivo::checkDPointType(input, point);
        QCOMPARE(result.userType(), expected.userType());
        QCOMPARE(result, expected);
        QCOMPARE(cov.count(), 0);
    }
    // Display texts and their inverse over the sample boiler dictionary and measurement file
    // (display system "msys.us").
    void displayText_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<QVariant>("raw");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("edit"); // displayValue; the text when not given
        const auto row
            = [](const char* point, QVariant raw, const char* text, QVariant edit = QVariant()) {
                  QTest::newRow(*text ? text : "no value")
                      << point << raw << QString::fromUtf8(text)
                      << (edit.isValid() || !raw.isValid() ? edit : QString::fromUtf8(text));
              };
        row("SupplySetpoint", 235, "74.3 °F", 74.3);
        row("FlueGasTemp", 100, "212 °F", 212);
        row("BurnerModulation", 42, "42 %", 42);
        row("EfficiencyEstimate", 91.5, "92 %", 92);
        row("PumpMode", 2, "Auto");
        row("HighLimitAlarm", 19, "Active, unacknowledged");
        row("HighLimitAlarm", 20, "Cleared, reset needed");
        row("BoilerTag", "BLR-1", "BLR-1");
        row("ControllerAddress", int(0xC0A80A14), "192.168.10.20");
        row("ControllerClock", 31536000, "1971-01-01 00:00:00");
        row("LastLockoutTime", 0, "1970-01-01 00:00:00 UTC");
        row("ControllerUptime", 273906, "3d 04:05:06");
        row("NightSetbackStart", 79200, "22:00:00");
        row("AnnualServiceDate", 2682000, "day 32 01:00:00");
        row("SupplySetpoint", QVariant(), "");
    }

    void displayText()
    {
        QFETCH(QString, point);
        QFETCH(QVariant, raw);
        QFETCH(QVariant, edit);
        QTEST(DPointDisplay::displayText(def(point), raw), "text");
        const QVariant value = DPointDisplay::displayValue(def(point), raw);
        QCOMPARE(value.userType(), edit.userType());
        QCOMPARE(value, edit);
    }

    // rawValue, and for what it converts, checkLimits: why input is refused.
    void rawValue_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("raw");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* point, QVariant input, QVariant raw, const char* reason) {
            QTest::newRow(qPrintable(point + (": " + input.toString())))
                << point << input << raw << QString::fromUtf8(reason);
        };
        row("SupplySetpoint", "74.3", 235, "Below the lower limit 86.0 °F");
        row("SupplySetpoint", " 203.0 °F", 950, "");
        row("SupplySetpoint", "203.1", 951, "Above the upper limit 203.0 °F");
        row("SupplySetpoint", "warm", QVariant(), "\"warm\" is not a number");
        row("SupplySetpoint", "1e12", QVariant(), "\"1e12\" is out of range");
        row("HeatOutputFiltered", "3412.1 kBtu/h", 1000.0, "");
        row("PumpMode", "auto", 2, "");
        row("PumpMode", "Ajar", QVariant(), "No choice is labelled \"Ajar\"");
        row("ControllerAddress", "192.168.10.20", int(0xC0A80A14), "");
        row("ControllerAddress", "192.168.10.256", QVariant(),
            "\"192.168.10.256\" is not an IPv4 address");
        row("ControllerClock", "1971-01-01 00:00", 31536000u, "");
        row("ControllerUptime", "3d 04:05:06", 273906u, "");
        row("AnnualServiceDate", "day 32 01:00:00", 2682000u, "");
        row("NightSetbackStart", "25:00", QVariant(), "\"25:00\" is not a time");
        row("BoilerTag", " BLR 2", " BLR 2", "");
        row("BoilerTag", "BLR#2", "BLR#2", "Has characters that are not allowed");
        row("BoilerTag", "BLR-2 of the east wing", "BLR-2 of the east wing",
            "Longer than 16 characters");
    }

    void rawValue()
    {
        QFETCH(QString, point);
        QFETCH(QVariant, input);
        QFETCH(QVariant, raw);
        QString why = "stale";
        const QVariant result = DPointDisplay::rawValue(def(point), input, &why);
        QCOMPARE(result.userType(), raw.userType());
        QCOMPARE(result, raw);
        QTEST(why.isEmpty() ? DPointDisplay::checkLimits(def(point), result) : why, "reason");
    }

private:
    const DPointDef* def(const QString& name) const { return m_dict->getDPointDefByName(name); }

    std::unique_ptr<MeasurementRegistry> m_registry { MeasurementLoader::loadMeasurementRegistry(
        KIVO_SAMPLE_DATA_DIR "/measurements.xml") };
    std::unique_ptr<DPointDictionary> m_dict { DPDictLoader(nullptr, nullptr, m_registry.get())
                                                   .load(KIVO_SAMPLE_DATA_DIR "/boiler.xml",
                                                       "boiler") };
};

QTEST_GUILESS_MAIN(TestPoints)
#include "tst_points.moc"
