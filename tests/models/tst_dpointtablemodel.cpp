#include <kivo/dictionary/DPointDef.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/models/DPointTableModel.h>
#include <kivo/points/DPointObject.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeNumber.h>

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

using kivo::DPointDef;
using kivo::DPointModelItemData;
using kivo::DPointObject;
using kivo::DPointTableModel;

namespace {

const int pointRole = 359;
const int definitionRole = 360;
const int worksheetRole = 362;

// Three definitions: a writable enumeration "Valve" (1 Open, 2 Closed) on worksheet "Pumps", a
// read-only integer "Level" and a writable integer "Setpoint". The points are heap objects
// without parent so that a test may delete one or move it to another thread.
struct Fixture
{
    Fixture()
    {
        auto* valveType = new kivo::DPTypeEnum;
        valveType->_init(1, { { 1, QStringLiteral("Open") }, { 2, QStringLiteral("Closed") } });
        valveDef = makeDef(QStringLiteral("Valve"), QStringLiteral("11"), valveType, true);
        valveDef->setProperty("Worksheet", QStringLiteral("Pumps"));

        auto* levelType = new kivo::DPTypeNumber;
        levelType->_init(QVariant(0), 0, 100, QString(), QString());
        levelDef = makeDef(QStringLiteral("Level"), QStringLiteral("12"), levelType, false);
        levelDef->setProperty("LargeDisplay", QStringLiteral("Tank level"));

        auto* setpointType = new kivo::DPTypeNumber;
        setpointType->_init(QVariant(50), 0, 100, QString(), QString());
        setpointDef = makeDef(QStringLiteral("Setpoint"), QStringLiteral("13"), setpointType, true);

        valve = makePoint(valveDef);
        level = makePoint(levelDef);
        setpoint = makePoint(setpointDef);
    }

    ~Fixture()
    {
        delete valve;
        delete level;
        delete setpoint;
    }

    DPointDef* makeDef(
        const QString& name, const QString& lineId, kivo::DPTypeBase* type, bool writable)
    {
        auto* def = new DPointDef(&owner);
        type->setParent(def);
        def->_init(name.toLower(), name, name, lineId, 0, type);
        def->m_readable = true;
        def->m_writable = writable;
        return def;
    }

    static DPointObject* makePoint(DPointDef* def)
    {
        auto* point = new DPointObject;
        point->setDPointDef(def);
        return point;
    }

    QObject owner;
    DPointDef* valveDef = nullptr;
    DPointDef* levelDef = nullptr;
    DPointDef* setpointDef = nullptr;
    QPointer<DPointObject> valve;
    QPointer<DPointObject> level;
    QPointer<DPointObject> setpoint;
};

class NamedItem : public DPointModelItemData
{
public:
    using DPointModelItemData::DPointModelItemData;

    QVariant data(int column, int role) const override
    {
        if (column == 0)
            return QStringLiteral("Custom");
        return DPointModelItemData::data(column, role);
    }
};

// Runs work on a new thread and waits for it to end. A std::thread, so that the thread
// sanitizer sees the hand-over at the join.
template<typename Work> void runInThread(Work work)
{
    std::thread(work).join();
}

} // namespace

class TestDPointTableModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headerData_data();
    void headerData();
    void cells_data();
    void cells();
    void flags_data();
    void flags();
    void setDataThroughModel_data();
    void setDataThroughModel();
    void addAndFind();
    void addItemOfSubclass();
    void removeRowsAndClear();
    void valueChangeInModelThread();
    void valueChangeFromAnotherThread();
    void manyChangesFromAnotherThread();
    void pointDestroyedInModelThread();
    void pointDestroyedInAnotherThread();
};

void TestDPointTableModel::headerData_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("name") << 0 << QVariant(QStringLiteral("Name"));
    QTest::newRow("value") << 1 << QVariant(QStringLiteral("Value"));
    QTest::newRow("units") << 2 << QVariant(QStringLiteral("Units"));
    QTest::newRow("outside") << 8 << QVariant();
}

void TestDPointTableModel::headerData()
{
    QFETCH(int, section);
    QFETCH(QVariant, expected);
    DPointTableModel model;
    QCOMPARE(model.headerData(section, Qt::Horizontal, Qt::DisplayRole), expected);
    QVERIFY(!model.headerData(section, Qt::Horizontal, Qt::DecorationRole).isValid());
}

void TestDPointTableModel::cells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    const int display = Qt::DisplayRole;
    const int edit = Qt::EditRole;
    QTest::newRow("name") << 0 << 0 << display << QVariant(QStringLiteral("Valve"));
    QTest::newRow("enum label") << 0 << 1 << display << QVariant(QStringLiteral("Closed"));
    QTest::newRow("enum for editing") << 0 << 1 << edit << QVariant(QStringLiteral("Closed"));
    QTest::newRow("no value") << 2 << 1 << display << QVariant(QString());
    QTest::newRow("hints") << 1 << 6 << display << QVariant(QStringLiteral("Tank level"));
    QTest::newRow("worksheet") << 0 << 2 << worksheetRole << QVariant(QStringLiteral("Pumps"));
    QTest::newRow("no worksheet") << 1 << 2 << worksheetRole << QVariant(QString());
    QTest::newRow("decoration not answered") << 0 << 0 << int(Qt::DecorationRole) << QVariant();
    QTest::newRow("font not answered") << 0 << 1 << int(Qt::FontRole) << QVariant();
    QTest::newRow("tool tip not answered") << 0 << 2 << int(Qt::ToolTipRole) << QVariant();
}

void TestDPointTableModel::cells()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    Fixture fixture;
    fixture.valve->setCurrentValue(2);
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level, fixture.setpoint });

    const QVariant value = model.data(model.index(row, column), role);
    QCOMPARE(value.userType(), expected.userType());
    QCOMPARE(value, expected);

    // The row-wide roles answer the same on every column.
    const DPointObject* points[] = { fixture.valve, fixture.level, fixture.setpoint };
    const QModelIndex index = model.index(row, column);
    QCOMPARE(model.data(index, pointRole).value<DPointObject*>(), points[row]);
    QCOMPARE(model.data(index, definitionRole).value<DPointDef*>(), points[row]->getDPointDef());
    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
}

void TestDPointTableModel::flags_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editable");
    QTest::newRow("writable value") << 0 << 1 << true;
    QTest::newRow("writable name") << 0 << 0 << false;
    QTest::newRow("writable hints") << 0 << 2 << false;
    QTest::newRow("read-only value") << 1 << 1 << false;
    QTest::newRow("second writable value") << 2 << 1 << true;
}

void TestDPointTableModel::flags()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, editable);

    Fixture fixture;
    DPointTableModel model;
    model.addPoints({ fixture.valve, fixture.level, fixture.setpoint });
    const Qt::ItemFlags flags = model.flags(model.index(row, column));
    QVERIFY(flags & Qt::ItemIsEnabled);
    QVERIFY(flags & Qt::ItemIsSelectable);
    QCOMPARE(bool(flags & Qt::ItemIsEditable), editable);
}

void TestDPointTableModel::setDataThroughModel_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("edit");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QVariant>("after");

    const int edit = Qt::EditRole;
    QTest::newRow("enum label") << 0 << 1 << edit << QVariant("closed") << true << QVariant(2);
    QTest::newRow("unknown label") << 0 << 1 << edit << QVariant("Ajar") << false << QVariant(1);
    QTest::newRow("number text") << 2 << 1 << edit << QVariant("12") << true << QVariant(12);
    QTest::newRow("text that does not fit")
        << 2 << 1 << edit << QVariant("4x2") << false << QVariant(30);
    QTest::newRow("read-only point") << 1 << 1 << edit << QVariant("12") << false << QVariant(20);
    QTest::newRow("name column") << 2 << 0 << edit << QVariant("12") << false << QVariant(30);
    QTest::newRow("display role") << 2 << 1 << int(Qt::DisplayRole) << QVariant("12") << false
                                  << QVariant(30);
}

void TestDPointTableModel::setDataThroughModel()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, edit);
    QFETCH(bool, accepted);
    QFETCH(QVariant, after);

    Fixture fixture;
    fixture.valve->setCurrentValue(1);
    fixture.level->setCurrentValue(20);
    fixture.setpoint->setCurrentValue(30);
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level, fixture.setpoint });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QCOMPARE(model.setData(model.index(row, column), edit, role), accepted);
    DPointObject* point = model.pointAt(row);
    QCOMPARE(accepted ? point->getPendingValue() : point->getCurrentValue(), after);
    QCOMPARE(changed.count(), role == Qt::EditRole && column == 1 ? 1 : 0);
    if (accepted) {
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(row, 0));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(row, 7));
    }
}

void TestDPointTableModel::addAndFind()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    QCOMPARE(model.addPoint(nullptr), -1);
    QCOMPARE(model.addPoint(fixture.level), 0);
    QCOMPARE(model.addPoint(fixture.level), 0);
    QCOMPARE(
        model.addPoints({ fixture.valve, nullptr, fixture.level, fixture.valve, fixture.setpoint }),
        2);
    QCOMPARE(model.addPoints({ fixture.valve, nullptr }), 0);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 1);
    QCOMPARE(inserted.at(1).at(2).toInt(), 2);

    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.columnCount(), 8);
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    QCOMPARE(model.columnCount(model.index(0, 0)), 0);
    QCOMPARE(model.rowOfPoint(fixture.level), 0);
    QCOMPARE(model.rowOfPoint(fixture.valve), 1);
    QCOMPARE(model.rowOfPoint(fixture.setpoint), 2);
    QCOMPARE(model.rowOfPoint(nullptr), -1);
    DPointObject stranger;
    QCOMPARE(model.rowOfPoint(&stranger), -1);

    QCOMPARE(model.pointAt(1), fixture.valve.data());
    QCOMPARE(model.itemAt(1)->getDPointObject(), fixture.valve.data());
    QCOMPARE(model.itemAt(1)->parent(), &model);
    QCOMPARE(model.itemAt(3), nullptr);
    QCOMPARE(model.itemAt(-1), nullptr);
    QCOMPARE(model.pointAt(3), nullptr);

    const QHash<int, QByteArray> roles = model.roleNames();
    QCOMPARE(roles.value(pointRole), QByteArrayLiteral("point"));
    QCOMPARE(roles.value(definitionRole), QByteArrayLiteral("definition"));
    QCOMPARE(roles.value(worksheetRole), QByteArrayLiteral("worksheet"));
    QCOMPARE(roles.value(Qt::DisplayRole), QByteArrayLiteral("display"));
}

void TestDPointTableModel::addItemOfSubclass()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.addItem(nullptr), -1);
    QPointer<DPointModelItemData> pointless = new DPointModelItemData(nullptr);
    QCOMPARE(model.addItem(pointless), -1);
    QVERIFY(pointless.isNull());

    QCOMPARE(model.addItem(new NamedItem(fixture.valve)), 0);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("Custom"));
    QCOMPARE(model.data(model.index(0, 4)).toString(), QStringLiteral("Pumps"));

    QPointer<DPointModelItemData> duplicate = new DPointModelItemData(fixture.valve);
    QCOMPARE(model.addItem(duplicate), -1);
    QVERIFY(duplicate.isNull());
    QCOMPARE(model.addPoint(fixture.valve), 0);
    QCOMPARE(model.rowCount(), 1);
}

void TestDPointTableModel::removeRowsAndClear()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level, fixture.setpoint });
    QPointer<DPointModelItemData> removedItem = model.itemAt(1);

    QVERIFY(!model.removeRows(-1, 1));
    QVERIFY(!model.removeRows(2, 2));
    QVERIFY(!model.removeRows(0, 0));
    QVERIFY(!model.removeRows(0, 1, model.index(0, 0)));
    QCOMPARE(model.rowCount(), 3);

    QVERIFY(model.removeRows(1, 1));
    QVERIFY(removedItem.isNull());
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.rowOfPoint(fixture.level), -1);
    QCOMPARE(model.rowOfPoint(fixture.setpoint), 1);

    // A removed point no longer reaches the model.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    fixture.level->setCurrentValue(7);
    QCOMPARE(changed.count(), 0);
    fixture.setpoint->setCurrentValue(7);
    QCOMPARE(changed.count(), 1);

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    fixture.valve->setCurrentValue(2);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.addPoint(fixture.level), 0);
}

void TestDPointTableModel::valueChangeInModelThread()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    fixture.level->setCurrentValue(40);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 7));
    QCOMPARE(model.data(model.index(1, 1)), QVariant(40));

    fixture.level->setCurrentValue(40);
    QCOMPARE(changed.count(), 1);

    fixture.valve->setUpdateComplete(1, kivo::StatRef());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).toModelIndex(), model.index(0, 0));
    QCOMPARE(model.data(model.index(0, 1)), QVariant(QStringLiteral("Open")));
}

void TestDPointTableModel::valueChangeFromAnotherThread()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QThread* deliveredIn = nullptr;
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [&deliveredIn] { deliveredIn = QThread::currentThread(); });

    DPointObject* level = fixture.level;
    runInThread([level] { level->setCurrentValue(40); });

    // The change is queued into the model's thread: nothing has arrived before its event loop runs.
    QCOMPARE(changed.count(), 0);
    QVERIFY(changed.wait(5000));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(deliveredIn, QThread::currentThread());
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 7));
    QCOMPARE(model.data(model.index(1, 1)), QVariant(40));
}

void TestDPointTableModel::manyChangesFromAnotherThread()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const int last = 500;
    DPointObject* level = fixture.level;
    std::atomic<bool> done { false };
    std::thread worker([level, &done] {
        for (int value = 1; value <= last; ++value)
            level->setCurrentValue(value);
        done = true;
    });
    // The model reads the point while the worker writes it; the queued changes are delivered
    // after the join.
    while (!done)
        model.data(model.index(1, 1), Qt::EditRole);
    worker.join();
    QTRY_COMPARE(model.data(model.index(1, 1), Qt::EditRole), QVariant(last));
    QTRY_COMPARE(changed.count(), last);
    for (QList<QVariant> const& arguments : qAsConst(changed))
        QCOMPARE(arguments.at(0).toModelIndex(), model.index(1, 0));
}

void TestDPointTableModel::pointDestroyedInModelThread()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level, fixture.setpoint });
    QPointer<DPointModelItemData> item = model.itemAt(1);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    delete fixture.level;
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 1);
    QCOMPARE(removed.at(0).at(2).toInt(), 1);
    QVERIFY(item.isNull());
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.pointAt(1), fixture.setpoint.data());
    QCOMPARE(model.data(model.index(1, 0)), QVariant(QStringLiteral("Setpoint")));
}

void TestDPointTableModel::pointDestroyedInAnotherThread()
{
    Fixture fixture;
    DPointTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addPoints({ fixture.valve, fixture.level });
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    // The point moves to a std::thread and dies there; atomics and the join order the hand-over.
    DPointObject* level = fixture.level;
    std::atomic<QThread*> workerThread { nullptr };
    std::atomic<bool> moved { false };
    std::thread worker([level, &workerThread, &moved] {
        workerThread = QThread::currentThread();
        while (!moved)
            std::this_thread::yield();
        delete level;
    });
    while (!workerThread)
        std::this_thread::yield();
    level->moveToThread(workerThread);
    moved = true;
    worker.join();

    // The point is gone but the removal has not been delivered yet: the row is still there and
    // must not touch the point.
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.pointAt(1), nullptr);
    QCOMPARE(model.rowOfPoint(level), -1);
    QVERIFY(!model.data(model.index(1, 1)).isValid());
    QVERIFY(!model.data(model.index(1, 2)).isValid());
    QVERIFY(!model.data(model.index(1, 0), pointRole).isValid());
    QVERIFY(!(model.flags(model.index(1, 1)) & Qt::ItemIsEditable));
    QVERIFY(!model.setData(model.index(1, 1), QStringLiteral("5")));

    QVERIFY(removed.wait(5000));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.pointAt(0), fixture.valve.data());
}

QTEST_GUILESS_MAIN(TestDPointTableModel)

#include "tst_dpointtablemodel.moc"
