#include <kivo/kivodpoints.h>

#include <QPointer>
#include <QSharedPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

// A point counting commits (the automatic commit calls the virtual commitPending too), with its
// change count exposed; guarded by lock when one is given, by none when unlocked.
class ProbePoint : public DPointObject
{
    Q_OBJECT
public:
    explicit ProbePoint(QReadWriteLock* lock = nullptr, bool unlocked = false)
        : m_lock(lock)
        , m_unlocked(unlocked)
    { }
    QReadWriteLock* getLock() const override
    {
        return m_lock || m_unlocked ? m_lock : DPointObject::getLock();
    }
    StatRef commitPending() override
    {
        ++m_commits;
        return DPointObject::commitPending();
    }
    quint32 count() const { return m_updateCount; }
    void setCount(quint32 count) { m_updateCount = count; }

    int m_commits = 0;
    QReadWriteLock* m_lock;
    bool m_unlocked;
};

// Values in tables: 'text, N (int), Nu (uint), N.N (double), - (none).
QVariant value(const QString& t)
{
    if (t == "-" || t.startsWith('\''))
        return t == "-" ? QVariant() : QVariant(t.mid(1));
    if (t.endsWith('u'))
        return t.chopped(1).toUInt();
    return t.contains('.') ? QVariant(t.toDouble()) : QVariant(t.toInt());
}

QString text(const QVariant& v)
{
    QString t = (v.userType() == QMetaType::QString ? "'" : "") + v.toString();
    if (v.type() == QVariant::Double && !t.contains('.'))
        t += ".0";
    return !v.isValid() ? "-" : t + (v.type() == QVariant::UInt ? "u" : "");
}

// Records the point's signals in order; "!" marks one emitted outside the point's thread.
void attachLog(DPointObject* point, QStringList* log)
{
    const auto note = [point, log](const char* event) {
        *log << event + QString(QThread::currentThread() == point->thread() ? "" : "!");
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
    const StatBase* stat = p.getUpdateStatus().m_stat;
    return QString("%1 %2 %3 %4 %5 %6 %7")
        .arg(text(p.getCurrentValue()), text(p.getPendingValue()))
        .arg(p.isPending())
        .arg(p.isAvailable())
        .arg(p.count())
        .arg(stat ? stat->getCode() : "ok")
        .arg(p.show());
}

DPointObject* named(const QString& name, QObject* parent = nullptr)
{
    auto* point = new DPointObject(parent);
    point->setObjectName(name);
    return point;
}

QStringList s_messages;

} // namespace

class TestPoints : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
    }

    // Steps: "s V" report, "p V" request without commit, "c" commit, "x" cancel, "d V" / "f V"
    // complete with success / status "E1", "g" read ("=V"), "w" change count to 2^32 - 2.
    void writeCycle_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("state");
        const char* rows[][5] = {
            { "first read enables reporting", "number", "g;g;s 1;g", "cov =- =- v =1",
                "1 - 0 1 1 ok 1" },
            { "only changes are reported", "number", "s 5;s 5;s 6", "v v", "6 - 0 1 2 ok 1" },
            { "commit keeps the request", "number", "s 1;p 2;c", "v v u", "2 2 1 1 2 ok 1" },
            { "replace, commit twice, cancel", "none", "s 1;p 2;p 3;c;c;x;c;x", "v v u u",
                "3 - 0 1 2 ok 1" },
            { "commit of the current value", "number", "s 7;p 7;c", "v", "7 7 1 1 1 ok 1" },
            { "completion of the same value", "number", "s 4;p 9;d 4", "v c+ v", "4 - 0 1 2 ok 1" },
            { "completion failed", "number", "s 4;p 9;f 4", "v c- v", "4 - 0 1 2 E1 1" },
            { "success clears the failure", "number", "f 1;d 2", "c- v c+ v", "2 - 0 1 2 ok 1" },
            { "count wraps to one", "number", "w;s 1;s 2;s 3", "v v v", "3 - 0 1 2 ok 1" },
            { "count wraps on completion", "number", "w;d 1;d 2", "c+ v c+ v", "2 - 0 1 1 ok 1" },
            { "sentinel -32768", "number", "s 1;s -32768", "v v", "- - 0 1 2 ok 1" },
            { "sentinel int min", "number", "s 1;s -2147483648", "v v", "- - 0 1 2 ok 1" },
            { "sentinel 32768", "number", "s 1;s 32768", "v v", "- - 0 1 2 ok 1" },
            { "sentinel text", "number", "s 1;s '32768", "v v", "- - 0 1 2 ok 1" },
            { "sentinel text -32768", "number", "s 1;s '-32768", "v v", "- - 0 1 2 ok 1" },
            { "32767 kept", "number", "s 1;s 32767", "v v", "32767 - 0 1 2 ok 1" },
            { "-32767 kept", "number", "s 1;s -32767", "v v", "-32767 - 0 1 2 ok 1" },
            { "text 3276 kept", "number", "s 1;s '3276", "v v", "'3276 - 0 1 2 ok 1" },
            { "real -32768 kept", "real", "s 1;s -32768.0", "v v", "-32768.0 - 0 1 2 ok 1" },
            { "real text 32768 kept", "real", "s 1;s '32768", "v v", "'32768 - 0 1 2 ok 1" },
            { "untyped -32768 kept", "none", "s 1;s -32768", "v v", "-32768 - 0 1 2 ok 1" },
            { "unlocked", "unlocked", "g;s 1;p 2;c;x;p 3;d 3", "cov =- v v u u c+ v",
                "3 - 0 1 3 ok 1" },
            { "hidden by 0", "none", "s 0", "v", "0 - 0 1 1 ok 0" },
            { "hidden by 0.0", "none", "s 0.0", "v", "0.0 - 0 1 1 ok 0" },
            { "hidden by text 0", "none", "s '0", "v", "'0 - 0 1 1 ok 0" },
            { "shown by text 00", "none", "s '00", "v", "'00 - 0 1 1 ok 1" },
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << r[1] << r[2] << r[3] << r[4];
    }

    void writeCycle()
    {
        QFETCH(QString, type);
        QFETCH(QString, script);
        DPointDef def;
        def._init("p", "p", "", "", 0,
            type == "real" ? static_cast<DPTypeBase*>(new DPTypeReal(&def))
                           : new DPTypeNumber(&def));
        ProbePoint point(nullptr, type == "unlocked");
        point.setDPointDef(type == "none" || type == "unlocked" ? nullptr : &def);
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

    // Two automatic commits, the second finding the value current; they run in the point's
    // thread although the asking thread runs no event loop.
    void autoCommit_data()
    {
        QTest::addColumn<bool>("otherThread");
        QTest::newRow("this thread") << false;
        QTest::newRow("other thread") << true;
    }

    void autoCommit()
    {
        ProbePoint point;
        point.setCurrentValue(1);
        QStringList log;
        attachLog(&point, &log);
        const auto request = [&point] { point.setUpdatePending(8), point.setUpdatePending(8); };
        QFETCH(bool, otherThread);
        otherThread ? std::thread(request).join() : request();
        QCOMPARE(point.m_commits, 0);
        QTRY_COMPARE(point.m_commits, 2);
        QCOMPARE(log, QStringList({ "v", "u" }));
        QCOMPARE(state(point), QString("8 8 1 1 2 ok 1"));
    }

    // The first read's covEnabled comes under the lock; its slot may use the point and points
    // sharing the lock.
    void covSlotReentersPoints()
    {
        QReadWriteLock lock(QReadWriteLock::Recursive);
        for (QReadWriteLock* shared : { static_cast<QReadWriteLock*>(nullptr), &lock }) {
            ProbePoint first(shared), second(shared);
            second.setCurrentValue(3);
            first.setCurrentValue(1);
            first.setUpdatePending(2, false);
            QVariantList seen;
            connect(&first, &DPointObject::covEnabled, this, [&] {
                seen << second.getCurrentValue() << first.getCurrentValue()
                     << first.getPendingValue() << first.isAvailable() << first.isPending();
                first.commitPending();
            });
            QCOMPARE(first.getCurrentValue(), QVariant(2));
            QCOMPARE(seen, QVariantList({ 3, 1, 2, true, true }));
        }
    }

    // Topic 4 traces changes but the first value, topic 5 the write cycle; nothing when off.
    void trace()
    {
        DPointObject point;
        QString object;
        QDebug(&object).nospace() << &point;
        const QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&,
                                         const QString& message) { s_messages << message; });
        for (bool on : { true, false }) {
            TopicLogger::m_topics[4] = TopicLogger::m_topics[5] = on;
            point.setCurrentValue(on ? 1 : 0);
            point.setCurrentValue(2);
            point.setUpdatePending("3", false);
            point.commitPending();
            point.setUpdateComplete(4.5, StatRef());
        }
        qInstallMessageHandler(previous);
        QCOMPARE(s_messages.join('\n'),
            QString(
                "change:  %1  [ 1 ]  old:  QVariant(int, 1)   new:  QVariant(int, 2)\n"
                "update:  %1  [ 2 ]  old:  QVariant(int, 2)   upd:  QVariant(QString, \"3\")\n"
                "commit:  %1  [ 2 ]  old:  QVariant(int, 2)   pnd:  QVariant(QString, \"3\")\n"
                "change:  %1  [ 2 ]  old:  QVariant(int, 2)   new:  QVariant(QString, \"3\")\n"
                "cmplte:  %1  [ 3 ]  old:  QVariant(QString, \"3\")   new:  QVariant(double, 4.5)")
                .arg(object));
    }

    void showThisVar()
    {
        DPointProvider provider;
        DPointDef plain, controlled;
        controlled.setProperty("ShowVar", "ShowVar_Ctrl");
        DPointObject* controller = named("SHOWVAR_ctrl");
        provider.addPoint(controller);
        QObject other;
        std::unique_ptr<DPointObject> orphan(named("orphan"));
        DPointObject* points[] = { named("nodef", &provider), named("plain", &provider),
            named("controlled", &provider), orphan.get(), named("adopted", &other) };
        for (int i = 1; i < 5; ++i)
            points[i]->setDPointDef(i == 1 ? &plain : &controlled);
        QString verdicts;
        for (const QVariant& shown : { QVariant(0), QVariant(1), QVariant("0"), QVariant() }) {
            if (shown.isValid())
                controller->setCurrentValue(shown);
            else
                QCOMPARE(provider.removePoint("ShowVar_Ctrl"), 1);
            for (DPointObject* point : points)
                verdicts += point->showThisVar() ? '1' : '0';
        }
        QCOMPARE(verdicts, QString("11011111111101111111"));
    }

    // Followers accept a DPointObject* in any QVariant form and announce every change.
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
            QMetaObject::invokeMethod(
                &follower, "addDependency", Q_ARG(QVariant, forms.value(form)));
        point.setCurrentValue(1);
        point.setCurrentValue(1);
        QTEST(int(spy.count()), "changes");
    }

    // valueChanged(DPointObject*) reaches a receiver and a follower of another thread queued.
    void changesQueuedAcrossThreads()
    {
        DPointObject point;
        VirtualDPointObject follower;
        follower.addDependency(QVariant::fromValue(&point));
        QVector<QThread*> seen;
        const auto note = [&seen] { seen << QThread::currentThread(); };
        connect(&follower, &VirtualDPointObject::valueChanged, this, note);
        connect(&point, &DPointObject::valueChanged, this, [&](DPointObject* sender) {
            seen << (sender == &point ? QThread::currentThread() : nullptr);
        });
        std::thread([&point] { point.setCurrentValue(1), point.setCurrentValue(2); }).join();
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
        const QString longName(70, 'X');
        QPointer<DPointObject> a = named("Pump_A"), b = named("PUMP_a");
        const QList<DPointObject*> points { a, named(QString::fromUtf8("ÄUSSERE")),
            named(longName) };
        DPointObject* found = nullptr;
        // The renaming signal comes before the provider takes its lock: lookups work there.
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
        QTest::ignoreMessage(
            QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"pump_a\"");
        provider->addPoint(b);
        QCOMPARE(provider->getDPointByName("pump_a"), b.data());
        QCOMPARE(provider->getNamespaceSize(), 4);
        QCOMPARE(provider->removePoint("Pump_A") * 10 + provider->removePoint("Pump_A"), 10);
        QCOMPARE(provider->getDPointByName("pump_a"), nullptr);
        for (DPointDictionary* dict : { &first, &other, &second })
            provider->addDict(dict);
        QCOMPARE(provider->getDictByName("main"), &second);
        QCOMPARE(provider->getDictByName("AUX"), &other);
        QCOMPARE(provider->getDictByName("none"), nullptr);
        QCOMPARE(provider->getAllDicts(), QList<DPointDictionary*>({ &other, &second }));
        QCOMPARE(second.objectName(), QString("MAIN"));
        QCOMPARE(provider->removeDict("Main") * 10 + provider->removeDict("Main"), 10);
        QCOMPARE(provider->getAllDicts(), QList<DPointDictionary*> { &other });
        delete provider;
        QVERIFY(!a && !b);
    }

    void connectStatus()
    {
        DPointProvider provider;
        QSignalSpy spy(&provider, &DPointProvider::connectStatusChanged);
        QString states;
        for (bool connected : { false, true, true, false }) {
            provider.setConnectStatus(connected);
            states += QString::number(provider.isConnected()) + QString::number(spy.count());
        }
        QCOMPARE(states, QString("00111102"));
        QCOMPARE(spy.at(0).at(0).toBool(), true);
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

    // Reporters, one writer per point, readers, and registrars adding their own points and
    // points of the provider's thread, all at once; every change, request and completion is
    // announced exactly once.
    void concurrentUse()
    {
        constexpr int pointCount = 4, reports = 300, cycles = 150, added = 60;
        auto* provider = new DPointProvider;
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
                point->getPendingValue();
            });
            provider->addPoint(point);
            points.push_back(point);
        }
        std::vector<DPointObject*> adopted(4 * added);
        for (int i = 0; i < 2 * added; ++i)
            adopted[2 * added + i] = new DPointObject;
        std::atomic<bool> failed { false };
        std::vector<std::thread> threads;
        for (int r = 0; r < 2; ++r) {
            threads.emplace_back([&, r] {
                for (int n = 0; n < reports; ++n)
                    for (ProbePoint* point : points)
                        point->setCurrentValue(1000000 * (r + 1) + n);
            });
            threads.emplace_back([&] {
                for (int n = 0; n < 400; ++n) {
                    for (ProbePoint* point : points) {
                        const bool was = point->isAvailable();
                        point->getCurrentValue();
                        point->showThisVar();
                        failed = failed || (was && !point->isAvailable());
                    }
                }
            });
            threads.emplace_back([&, r] {
                QObject owner;
                for (int n = r * added; n < (r + 1) * added; ++n)
                    adopted[n] = new DPointObject(&owner);
                for (int k = 0; k < 2 * added; ++k) {
                    const int n = k < added ? r * added + k : (r + 1) * added + k;
                    adopted[n]->setObjectName(QStringLiteral("Dyn_%1").arg(n));
                    provider->addPoint(adopted[n]);
                    const QString name = QStringLiteral("DYN_%1").arg(n);
                    failed = failed || provider->getDPointByName(name) != adopted[n];
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
        QList<QPointer<DPointObject>> watched;
        for (DPointObject* point : adopted) {
            QVERIFY(point->parent() == provider && point->thread() == provider->thread());
            watched << point;
        }
        QCOMPARE(provider->getNamespaceSize(), pointCount + 4 * added);
        delete provider;
        QCOMPARE(watched.count(nullptr), watched.size());
    }

    // What the point lets go of (value, request, status: QObjects here, whose destroyed() runs
    // code) is destroyed after its lock is released.
    void nothingDestroyedUnderLock()
    {
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
        point.setUpdatePending(payload(), false); // lets the first request go
        point.cancelPending(); // the second request
        point.setCurrentValue(1); // the first value
        point.setUpdatePending(payload(), false);
        point.setUpdateComplete(payload(), StatRef()); // the status and the third request
        point.setCurrentValue(2); // the second value
        QCOMPARE(lockFree, QVector<bool>(6, true));
    }

    // Text converted to the point's type under the default locale; other values unchanged.
    void checkDPointType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const char* rows[][3] = { { "number", "'42", "42" }, { "number", "'-7", "-7" },
            { "number", "'4x2", "-" }, { "number", "'", "-" }, { "number", "'2.5", "-" },
            { "number", "'2147483648", "-" }, { "number", "5", "5" }, { "number", "5.5", "5.5" },
            { "number", "-", "-" }, { "real", "'2.5", "2.5" }, { "real", "'3", "3.0" },
            { "real", "'abc", "-" }, { "real", "'", "-" }, { "real", "'2,5", "-" },
            { "real@de", "'2,5", "2.5" }, { "enum", "'open", "1" }, { "enum", "'OPEN", "1" },
            { "enum", "'cLoSeD", "2" }, { "enum", "'Ajar", "-" }, { "enum", "' Open", "-" },
            { "enum", "'1", "-" }, { "enum", "7", "7" }, { "emptyEnum", "'Open", "-" },
            { "ipv4", "'16909060", "16909060" }, { "ipv4", "'1.2.3.4", "-" },
            { "time", "'12", "12u" }, { "time", "'4294967295", "4294967295u" },
            { "time", "'-1", "-" }, { "time", "'1.5", "-" }, { "string", "'4x2", "'4x2" },
            { "event", "'4x2", "'4x2" }, { "none", "'4x2", "'4x2" }, { "nodef", "'4x2", "'4x2" } };
        for (const auto& r : rows)
            QTest::newRow(qPrintable(QString("%1 %2").arg(r[0], r[1]))) << r[0] << r[1] << r[2];
    }

    void checkDPointType()
    {
        QFETCH(QString, type);
        QFETCH(QString, input);
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
        QTEST(text(kivo::checkDPointType(value(input), point)), "expected");
        QCOMPARE(cov.count(), 0);
    }

    // Display texts and their inverse over the sample boiler dictionary (tests/data/points).
    void display_data()
    {
        QTest::addColumn<QStringList>("row");
        QFile file(KIVO_TEST_DATA_DIR "/points/display.txt");
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QString& line :
            QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith('#'))
                QTest::newRow(qPrintable(line.section('\t', 0, 2).replace('\t', ' ')))
                    << line.split('\t');
        }
    }

    // text rows: displayText and displayValue of a raw value; input rows: rawValue of an input,
    // and why it is refused (rawValue's reason, else checkLimits').
    void display()
    {
        QFETCH(QStringList, row);
        const DPointDef* def = m_dict->getDPointDefByName(row[1]);
        if (row[0] == "text") {
            QCOMPARE(DPointDisplay::displayText(def, value(row[2])), row[3]);
            QCOMPARE(text(DPointDisplay::displayValue(def, value(row[2]))), row[4]);
            return;
        }
        QString why = "stale";
        const QVariant raw = DPointDisplay::rawValue(def, value(row[2]), &why);
        QCOMPARE(text(raw), row[3]);
        QCOMPARE(why.isEmpty() ? DPointDisplay::checkLimits(def, raw) : why, row[4]);
    }

private:
    std::unique_ptr<MeasurementRegistry> m_registry { MeasurementLoader::loadMeasurementRegistry(
        KIVO_SAMPLE_DATA_DIR "/measurements.xml") };
    std::unique_ptr<DPointDictionary> m_dict { DPDictLoader(nullptr, nullptr, m_registry.get())
                                                   .load(KIVO_SAMPLE_DATA_DIR "/boiler.xml",
                                                       "boiler") };
};

QTEST_GUILESS_MAIN(TestPoints)
#include "tst_points.moc"
