#include <kivo/kivodpoints.h>

#include <QSignalSpy>
#include <QTest>

#include <future>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

// A point counting commits (the automatic commit calls the virtual commitPending too), with its
// change count exposed and a lock that may be replaced (null: unlocked).
class ProbePoint : public DPointObject
{
    Q_OBJECT
public:
    QReadWriteLock* getLock() const override { return m_lock; }
    StatRef commitPending() override { return ++m_commits, DPointObject::commitPending(); }
    quint32 count() const { return m_updateCount; }
    void setCount(quint32 count) { m_updateCount = count; }

    int m_commits = 0;
    QReadWriteLock* m_lock = DPointObject::getLock();
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
    if (v.userType() == QMetaType::Double && !t.contains('.'))
        t += ".0";
    return !v.isValid() ? "-" : t + (v.userType() == QMetaType::UInt ? "u" : "");
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
    QObject::connect(point, &DPointObject::covEnabled, [note](bool on) { note(on ? "cov" : "-"); });
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

// One row per line of tests/data/points/name (tab-separated fields; "#" starts a comment), named
// by its first tagFields fields; the fields go into the column "row".
void addRows(const char* name, int tagFields)
{
    QTest::addColumn<QStringList>("row");
    QFile file(QString(KIVO_TEST_DATA_DIR "/points/") + name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split('\t');
        if (!line.startsWith('#'))
            QTest::newRow(qPrintable(QStringList(fields.mid(0, tagFields)).join(' '))) << fields;
    }
}

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

    void writeCycle_data() { addRows("writecycle.txt", 1); }

    void writeCycle()
    {
        QFETCH(QStringList, row);
        const QString type = row[1];
        DPointDef def;
        def._init("p", "p", "", "", 0,
            type == "real" ? static_cast<DPTypeBase*>(new DPTypeReal(&def))
                           : new DPTypeNumber(&def));
        ProbePoint point;
        point.m_lock = type == "unlocked" ? nullptr : point.m_lock;
        point.setDPointDef(type == "none" || type == "unlocked" ? nullptr : &def);
        QStringList log;
        attachLog(&point, &log);
        const QHash<QChar, std::function<void(const QVariant&)>> steps {
            { 's', [&](const QVariant& v) { point.setCurrentValue(v); } },
            { 'p', [&](const QVariant& v) { point.setUpdatePending(v, false); } },
            { 'c', [&](const QVariant&) { point.commitPending(); } },
            { 'x', [&](const QVariant&) { point.cancelPending(); } },
            { 'd', [&](const QVariant& v) { point.setUpdateComplete(v, StatRef()); } },
            { 'f', [&](const QVariant& v) { point.setUpdateComplete(v, new StatBase("E1")); } },
            { 'g', [&](const QVariant&) { log << "=" + text(point.getCurrentValue()); } },
            { 'w', [&](const QVariant&) { point.setCount(0xfffffffe); } }
        };
        for (const QString& step : row[2].split(';'))
            steps[step[0]](value(step.mid(2)));
        QCOMPARE(log.join(' '), row[3]);
        QCOMPARE(state(point), row[4]);
    }

    // Two automatic commits, the second finding the value current; they run in the point's
    // thread although the asking thread runs no event loop.
    void autoCommit()
    {
        for (bool otherThread : { false, true }) {
            ProbePoint point;
            point.setCurrentValue(1);
            QStringList log;
            attachLog(&point, &log);
            const auto request = [&point] { point.setUpdatePending(8), point.setUpdatePending(8); };
            otherThread ? std::thread(request).join() : request();
            QCOMPARE(point.m_commits, 0);
            QTRY_COMPARE(point.m_commits, 2);
            QCOMPARE(log, QStringList({ "v", "u" }));
            QCOMPARE(state(point), QString("8 8 1 1 2 ok 1"));
        }
    }

    // The first read's covEnabled comes under the lock; its slot may use the point and points
    // sharing the lock.
    void covSlotReentersPoints()
    {
        QReadWriteLock lock(QReadWriteLock::Recursive);
        ProbePoint first, second;
        first.m_lock = second.m_lock = &lock;
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

    // Topic 4 traces changes but the first value, topic 5 the write cycle; neither when off.
    void trace()
    {
        DPointObject point;
        QString object;
        QDebug(&object).nospace() << &point;
        const QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&,
                                         const QString& message) { s_messages << message; });
        for (int topic : { 4, 5, -1 }) {
            TopicLogger::m_topics[4] = topic == 4;
            TopicLogger::m_topics[5] = topic == 5;
            point.setCurrentValue(topic);
            point.setCurrentValue(2);
            point.setUpdatePending("3", false);
            point.commitPending();
            point.setUpdateComplete(4.5, StatRef());
        }
        qInstallMessageHandler(previous);
        QCOMPARE(s_messages.join('\n'),
            QString(
                "change:  %1  [ 1 ]  old:  QVariant(int, 4)   new:  QVariant(int, 2)\n"
                "change:  %1  [ 2 ]  old:  QVariant(int, 2)   new:  QVariant(QString, \"3\")\n"
                "update:  %1  [ 6 ]  old:  QVariant(int, 2)   upd:  QVariant(QString, \"3\")\n"
                "commit:  %1  [ 6 ]  old:  QVariant(int, 2)   pnd:  QVariant(QString, \"3\")\n"
                "cmplte:  %1  [ 7 ]  old:  QVariant(QString, \"3\")   new:  QVariant(double, 4.5)")
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
            shown.isValid() ? controller->setCurrentValue(shown)
                            : void(provider.removePoint("showvar_ctrl"));
            for (DPointObject* point : points)
                verdicts += point->showThisVar() ? '1' : '0';
        }
        QCOMPARE(verdicts, QString("11011111111101111111"));
    }

    // Followers accept a DPointObject* in any QVariant form and announce every change.
    void follower()
    {
        DPointObject point;
        QObject stranger;
        const QMap<QString, QVariant> forms { { "point", QVariant::fromValue(&point) },
            { "object", QVariant::fromValue<QObject*>(&point) }, { "int", 42 }, { "text", "point" },
            { "null", QVariant::fromValue<DPointObject*>(nullptr) },
            { "stranger", QVariant::fromValue(&stranger) } };
        QString changes;
        for (const char* list :
            { "point", "object", "point,object", "none,int,text,null,stranger" }) {
            VirtualDPointObject follower;
            QSignalSpy spy(&follower, &VirtualDPointObject::valueChanged);
            for (const QString& form : QString(list).split(','))
                QMetaObject::invokeMethod(&follower, "addDependency", Q_ARG(QVariant, forms[form]));
            point.setCurrentValue(changes.size());
            point.setCurrentValue(changes.size());
            changes += QString::number(spy.count());
        }
        QCOMPARE(changes, QString("1120"));
    }

    void registry()
    {
        DPointDictionary dicts[3];
        for (int i = 0; i < 3; ++i)
            dicts[i].setObjectName(QStringList({ "Main", "aux", "MAIN" })[i]);
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
        QVERIFY(found == a && a->objectName() == "pump_a" && a->parent() == provider);
        const auto lookup = [&] {
            return QList<DPointObject*> { provider->getDPointByName("PUMP_a"),
                provider->getDPointByName(QString::fromUtf8("äussere")),
                provider->getDPointByName(longName.toLower()),
                provider->getDPointByName("pump_b") };
        };
        QCOMPARE(lookup(), QList<DPointObject*>({ a, points[1], points[2], nullptr }));
        QTest::ignoreMessage(
            QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"pump_a\"");
        provider->addPoint(b);
        QCOMPARE(lookup(), QList<DPointObject*>({ b, points[1], points[2], nullptr }));
        QCOMPARE(provider->getNamespaceSize(), 4);
        QCOMPARE(provider->removePoint("Pump_A") * 10 + provider->removePoint("Pump_A"), 10);
        QCOMPARE(provider->getDPointByName("pump_a"), nullptr);
        for (DPointDictionary& dict : dicts)
            provider->addDict(&dict);
        const auto dictionaries = [&] {
            return QList<DPointDictionary*> { provider->getDictByName("main"),
                provider->getDictByName("AUX"), provider->getDictByName("none") }
            + provider->getAllDicts();
        };
        QCOMPARE(dictionaries(),
            QList<DPointDictionary*>({ &dicts[2], &dicts[1], nullptr, &dicts[1], &dicts[2] }));
        QCOMPARE(provider->removeDict("Main") * 10 + provider->removeDict("Main"), 10);
        QCOMPARE(
            dictionaries(), QList<DPointDictionary*>({ nullptr, &dicts[1], nullptr, &dicts[1] }));
        QCOMPARE(dicts[2].objectName(), QString("MAIN"));
        delete provider;
        QVERIFY(!a && !b);
    }

    // One call files a dictionary and a live point for each of its definitions.
    void pointsForDictionary()
    {
        DPointProvider provider;
        QVERIFY(provider.addPointsForDict(nullptr).isEmpty());
        QTest::ignoreMessage(
            QtDebugMsg, "Duplicate point name detected.  Point overwritten:  \"pumpmode\"");
        QPointer<DPointObject> earlier = named("PumpMode");
        provider.addPoint(earlier);
        const QList<DPointObject*> points = provider.addPointsForDict(m_dict.get());
        QCOMPARE(provider.getDictByName("BOILER"), m_dict.get());
        const QList<DPointDef*> defs = m_dict->getAllDefs();
        QCOMPARE(points.size(), defs.size());
        for (int i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i]->getDPointDef(), defs[i]);
            QCOMPARE(provider.getDPointByName(defs[i]->objectName()), points[i]);
            QCOMPARE(points[i]->parent(), &provider);
        }
        QVERIFY(earlier); // replaced as a namesake, still owned by the provider
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
        QCOMPARE(states + spy.at(0).at(0).toString(), QString("00111102true"));
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
        QVERIFY(!provider.getDPointByName("pump_a") && point->objectName() == "Pump_A");
        QVERIFY(!point->parent() && point->thread() != provider.thread());
    }

    // Reporters, one writer per point, readers, and registrars adding points they made and
    // points of the provider's thread, all at once; every change, request and completion is
    // announced exactly once.
    void concurrentUse()
    {
        constexpr int count = 4, reports = 300, cycles = 150, added = 60;
        auto* provider = new DPointProvider;
        DPointDef defs[count];
        std::vector<ProbePoint*> points;
        std::atomic<int> changes { 0 }, pendings { 0 }, completions { 0 }, covs { 0 };
        for (int i = 0; i < count; ++i) {
            defs[i].setProperty("ShowVar", QStringLiteral("P%1").arg((i + 1) % count));
            points.push_back(new ProbePoint);
            points[i]->setObjectName(QStringLiteral("P%1").arg(i));
            points[i]->setDPointDef(&defs[i]);
            connect(points[i], &DPointObject::valueChanged, [&changes] { ++changes; });
            connect(points[i], &DPointObject::updatePending, [&pendings] { ++pendings; });
            connect(points[i], &DPointObject::updateCompleted, [&completions] { ++completions; });
            connect(points[i], &DPointObject::covEnabled,
                [&covs, point = points[i]] { ++covs, point->getPendingValue(); });
            provider->addPoint(points[i]);
        }
        std::vector<DPointObject*> adopted(4 * added);
        for (int i = 2 * added; i < 4 * added; ++i)
            adopted[i] = new DPointObject;
        std::atomic<bool> failed { false };
        std::vector<std::thread> threads;
        for (int r = 0; r < 2; ++r) {
            threads.emplace_back([&, r] {
                for (int n = 0; n < reports; ++n)
                    for (ProbePoint* point : points)
                        point->setCurrentValue(1000000 * (r + 1) + n);
            });
            threads.emplace_back([&] {
                for (int n = 0; n < 400 * count; ++n) {
                    ProbePoint* point = points[n % count];
                    const bool was = point->isAvailable();
                    point->getCurrentValue(), point->showThisVar();
                    failed = failed || (was && !point->isAvailable());
                }
            });
            threads.emplace_back([&, r] {
                QObject owner;
                for (int n = r * added; n < (r + 1) * added; ++n)
                    adopted[n] = new DPointObject(&owner);
                for (int k = 0; k < 2 * added; ++k) {
                    DPointObject* point = adopted[k < added ? r * added + k : (r + 1) * added + k];
                    point->setObjectName(QStringLiteral("Dyn_%1_%2").arg(r).arg(k));
                    provider->addPoint(point);
                    const QString name = point->objectName().toUpper();
                    failed = failed || provider->getDPointByName(name) != point;
                }
            });
        }
        for (ProbePoint* point : points) {
            threads.emplace_back([&failed, point] {
                for (int n = 0; n < cycles; ++n) {
                    point->setUpdatePending(-(2 * n + 1), false);
                    failed = failed || !point->isPending();
                    point->commitPending();
                    n % 10
                        ? point->setUpdateComplete(-2 * n - 2, n % 3 ? nullptr : new StatBase("E"))
                        : void(point->cancelPending());
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QVERIFY(!failed);
        const int completes = cycles - cycles / 10, perPoint = 2 * reports + cycles + completes;
        for (ProbePoint* point : points)
            QVERIFY(point->count() == quint32(perPoint) && !point->isPending());
        QCOMPARE(changes.load(), count * perPoint);
        QCOMPARE(completions.load(), count * completes);
        QCOMPARE(pendings.load(), count * (cycles + cycles / 10));
        QCOMPARE(covs.load(), count);
        QList<QPointer<DPointObject>> watched;
        for (DPointObject* point : adopted) {
            QVERIFY(point->parent() == provider && point->thread() == provider->thread());
            watched << point;
        }
        QCOMPARE(provider->getNamespaceSize(), count + 4 * added);
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

    void checkDPointType_data() { addRows("checktype.txt", 2); }

    void checkDPointType()
    {
        QFETCH(QStringList, row);
        const QString type = row[0];
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
        QCOMPARE(text(kivo::checkDPointType(value(row[1]), point)), row[2]);
        QCOMPARE(cov.count(), 0);
    }

    void display_data() { addRows("display.txt", 3); }

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

    void displaySystemSwitch_data() { addRows("systems.txt", 1); }

    // A live switch from msys.us to msys.si and back: the same definitions show, limit, render
    // and read input in the units of the system of the moment.
    void displaySystemSwitch()
    {
        QFETCH(QStringList, row);
        const DPointDef* def = m_dict->getDPointDefByName(row[1]);
        QVERIFY(def && def->m_registry == m_registry.get());
        const QVariant raw = value(row[2]);
        QSignalSpy changes(m_registry.get(), &MeasurementRegistry::displaySystemIdChanged);
        for (const char* system : { "msys.us", "msys.si", "msys.us" }) {
            m_registry->setDisplaySystemId(system);
            const QStringList expected = row.mid(qstrcmp(system, "msys.si") ? 3 : 8, 5);
            QCOMPARE(DPointDisplay::displayText(def, raw), expected[0]);
            QCOMPARE(DPointDisplay::limitsText(def), expected[1]);
            const auto* real = qobject_cast<const DPTypeReal*>(def->m_type);
            QCOMPARE(real ? real->toJson(m_registry.get()) : def->getTypeJson(), expected[2]);
            QCOMPARE(text(DPointDisplay::rawValue(def, value(expected[3]))), expected[4]);
        }
        QCOMPARE(changes.count(), 2);
    }

    // Limits of 0 and 0 are how an entry without limits loads: every value passes.
    void numberWithoutLimits()
    {
        DPointDef def;
        def._init("n", "n", "", "", 0, new DPTypeNumber(&def));
        QCOMPARE(DPointDisplay::checkLimits(&def, 123456), QString());
        QCOMPARE(DPointDisplay::limitsText(&def), QString());
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
