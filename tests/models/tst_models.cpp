#include <kivo/kivodpoints.h>

#include <QAbstractItemModelTester>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace kivo;

namespace {

// An item whose name column answers differently.
class NamedItem : public DPointModelItemData
{
public:
    using DPointModelItemData::DPointModelItemData;
    QVariant data(int column, int role) const override
    {
        return column == 0 ? QVariant("Custom") : DPointModelItemData::data(column, role);
    }
};

// A point of the given kind ("enum": 1 Open, 2 Closed, default 1; "number": default 5;
// "numberNoDefault"; "string": default "dflt"; "none": no type; "nodef": no definition).
struct ItemFixture
{
    explicit ItemFixture(const QString& kind)
    {
        DPTypeBase* type = nullptr;
        if (kind == "enum") {
            auto* choices = new DPTypeEnum(&def);
            choices->_init(1, { { 1, "Open" }, { 2, "Closed" } });
            type = choices;
        } else if (kind.startsWith("number")) {
            auto* number = new DPTypeNumber(&def);
            if (kind == "number")
                number->_init(5, 0, 100, "", "");
            type = number;
        } else if (kind == "string") {
            auto* text = new DPTypeString(&def);
            text->_init("dflt", "", "", 20);
            type = text;
        }
        def._init("tank.level", "TankLevel", "Tank level", "17", 4, type);
        def.setProperty("LargeDisplay", "Big");
        def.setProperty("Worksheet", "Pumps");
        point.setDPointDef(kind == "nodef" ? nullptr : &def);
        item.reset(new DPointModelItemData(kind == "nopoint" ? nullptr : &point));
    }
    DPointDef def;
    DPointObject point;
    std::unique_ptr<DPointModelItemData> item;
};

} // namespace

class TestModels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
    }

    void itemData_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("raw");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("role");
        QTest::addColumn<QVariant>("expected");
        const QVariant no;
        const int show = Qt::DisplayRole, edit = Qt::EditRole,
                  sheet = DPointModelItemData::WorksheetRole;
        const auto row = [](const char* name, const char* kind, QVariant raw, int column, int role,
                             QVariant expected) {
            QTest::newRow(name) << kind << raw << column << role << expected;
        };
        row("enum label", "enum", 2, 1, show, "Closed");
        row("enum label, other role", "enum", 2, 1, Qt::ToolTipRole, "Closed");
        row("enum number for editing", "enum", 2, 1, edit, 2);
        row("enum default label", "enum", no, 1, show, "Open");
        row("enum default for editing", "enum", no, 1, edit, 1);
        row("enum without label", "enum", 7, 1, show, "");
        row("number", "number", 42, 1, show, 42);
        row("number default", "number", no, 1, show, 5);
        row("number without default", "numberNoDefault", no, 1, show, no);
        row("text default", "string", no, 1, show, "dflt");
        row("no type", "none", 3, 1, edit, 3);
        row("no type, no value", "none", no, 1, show, no);
        row("name", "enum", no, 0, sheet, "Tank level");
        row("hints", "number", no, 2, show, "Tank level;17;Big;Pumps");
        row("hints on a higher column", "number", no, 5, edit, "Tank level;17;Big;Pumps");
        row("worksheet", "number", no, 2, sheet, "Pumps");
        row("no definition", "nodef", 3, 1, show, no);
        row("no point", "nopoint", no, 0, show, no);
    }

    // Only the value column reads the point, which switches its change reporting on.
    void itemData()
    {
        QFETCH(QString, kind);
        QFETCH(QVariant, raw);
        QFETCH(int, column);
        QFETCH(int, role);
        QFETCH(QVariant, expected);
        ItemFixture fixture(kind);
        if (raw.isValid())
            fixture.point.setCurrentValue(raw);
        QSignalSpy cov(&fixture.point, &DPointObject::covEnabled);
        fixture.item->setColumnCount(7);
        QCOMPARE(fixture.item->columnCount(), 3);
        const QVariant value = fixture.item->data(column, role);
        QCOMPARE(value.userType(), expected.userType());
        QCOMPARE(value, expected);
        QCOMPARE(cov.count(), column == 1 && kind != "nodef" && kind != "nopoint" ? 1 : 0);
    }
    void itemSetData_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QVariant>("initial");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVariant>("after");
        QTest::addColumn<int>("changes");
        const QVariant no;
        const auto row = [](const char* name, const char* kind, QVariant initial, QVariant input,
                             bool accepted, QVariant after, int changes) {
            QTest::newRow(name) << kind << initial << input << accepted << after << changes;
        };
        row("integer text", "number", no, "12", true, 12, 1);
        row("same integer again", "number", 12, "12", true, 12, 0);
        row("text that does not fit", "number", 3, "abc", false, 3, 0);
        row("first value that does not fit", "number", no, "4x2", false, no, 0);
        row("empty text", "number", 3, "", false, 3, 0);
        row("number passes", "number", no, 7, true, 7, 1);
        row("label in any case", "enum", 1, "cLOSED", true, 2, 1);
        row("unknown label", "enum", 1, "Ajar", false, 1, 0);
        row("text kept", "string", no, "abc", true, "abc", 1);
        row("no definition: stored as it came", "nodef", no, "abc", true, "abc", 1);
        row("no point", "nopoint", no, "12", false, no, 0);
    }

    void itemSetData()
    {
        QFETCH(QString, kind);
        QFETCH(QVariant, initial);
        QFETCH(QVariant, input);
        QFETCH(QVariant, after);
        ItemFixture fixture(kind);
        if (initial.isValid())
            fixture.point.setCurrentValue(initial);
        QSignalSpy changed(&fixture.point, &DPointObject::valueChanged);
        QTEST(fixture.item->setData(1, input), "accepted");
        QTEST(int(changed.count()), "changes");
        QVERIFY(!fixture.point.isPending());
        QCOMPARE(fixture.point.getCurrentValue().userType(), after.userType());
        QCOMPARE(fixture.point.getCurrentValue(), after);
    }

    void roleData()
    {
        for (const char* kind : { "enum", "nodef", "nopoint" }) {
            ItemFixture fixture(kind);
            DPointModelItemData* item = fixture.item.get();
            DPointObject* point = QByteArray(kind) == "nopoint" ? nullptr : &fixture.point;
            DPointDef* def = QByteArray(kind) == "enum" ? &fixture.def : nullptr;
            QCOMPARE(item->roleData(DPointModelItemData::PointRole).userType(),
                qMetaTypeId<DPointObject*>());
            QCOMPARE(item->roleData(DPointModelItemData::PointRole).value<DPointObject*>(), point);
            QCOMPARE(item->roleData(DPointModelItemData::DefinitionRole).value<DPointDef*>(), def);
            QCOMPARE(item->getDPointDef(), def);
            QCOMPARE(item->getDPointObject(), point);
            for (int role : { 0, int(Qt::EditRole), 361, int(DPointModelItemData::WorksheetRole) })
                QVERIFY(!item->roleData(role).isValid());
        }
    }

    // The table over live points of the sample boiler dictionary and measurement file (°F).
    // Rows: 0 SupplySetpoint (writable, 300-950 tenths of °C), 1 SupplyTemp (read-only),
    // 2 PumpMode (writable enumeration).
    void init()
    {
        if (!QByteArray(QTest::currentTestFunction()).startsWith("table"))
            return;
        m_model.reset(new DPointTableModel);
        m_tester.reset(new QAbstractItemModelTester(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        for (const char* name : { "SupplySetpoint", "SupplyTemp", "PumpMode" }) {
            auto* point = new DPointObject(m_model.get());
            point->setDPointDef(m_dict->getDPointDefByName(name));
            point->setCurrentValue(name[0] == 'S' ? 820 : 2);
            m_model->addPoint(point);
        }
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    // Every column of a row, joined by "|"; the value cell with its type.
    void tableRows_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("cells");
        const auto row = [](const char* name, int row, int role, const char* cells) {
            QTest::newRow(name) << row << role << QString::fromUtf8(cells);
        };
        const char* setpoint = "Supply water setpoint|179.6 %1|°F|86.0 – "
                               "203.0|Boiler|BLR1.AV01||Overview: 3, Setpoints: 1";
        row("setpoint", 0, Qt::DisplayRole,
            qPrintable(QString::fromUtf8(setpoint).arg("°F QString")));
        row("setpoint for editing", 0, Qt::EditRole,
            qPrintable(QString::fromUtf8(setpoint).arg("double")));
        for (int role : { int(Qt::DisplayRole), int(Qt::EditRole) })
            row(role == Qt::EditRole ? "enumeration for editing" : "enumeration", 2, role,
                "Primary pump mode|Auto QString||Off, Hand, Auto|Hydronics|HYD1.MV01||");
        row("write state", 0, DPointTableModel::WriteStateRole, "0|0 int|0|0|0|0|0|0");
        row("raw value", 0, DPointTableModel::RawValueRole, "820|820 int|820|820|820|820|820|820");
        row("worksheet", 1, DPointModelItemData::WorksheetRole,
            "Boiler|Boiler QString|Boiler|Boiler|Boiler|Boiler|Boiler|Boiler");
        row("tool tip", 0, Qt::ToolTipRole, "| QString||||||");
        row("decoration", 0, Qt::DecorationRole, "| ||||||");
    }

    void tableRows()
    {
        QFETCH(int, row);
        QFETCH(int, role);
        QStringList cells;
        for (int column = 0; column < DPointTableModel::ColumnCount; ++column) {
            const QVariant cell = m_model->index(row, column).data(role);
            cells << cell.toString() + (column == 1 ? QString(" ") + cell.typeName() : "");
        }
        QTEST(cells.join('|'), "cells");
    }

    void tableEdit_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("raw");
        QTest::addColumn<QString>("reason");
        QTest::newRow("text in °F") << 0 << QVariant("185") << QVariant(850) << "";
        QTest::newRow("number in °F") << 0 << QVariant(194.0) << QVariant(900) << "";
        QTest::newRow("enumeration label") << 2 << QVariant("hand") << QVariant(1) << "";
        QTest::newRow("above the limit")
            << 0 << QVariant("204") << QVariant() << "Above the upper limit 203.0 °F";
        QTest::newRow("not a number")
            << 0 << QVariant("warm") << QVariant() << "\"warm\" is not a number";
        QTest::newRow("unknown label")
            << 2 << QVariant("Ajar") << QVariant() << "No choice is labelled \"Ajar\"";
        QTest::newRow("read-only")
            << 1 << QVariant("150") << QVariant() << "The point is read-only";
    }

    // An accepted edit becomes a write request; a refused one leaves the point alone and says why.
    void tableEdit()
    {
        QFETCH(int, row);
        QFETCH(QVariant, input);
        QFETCH(QVariant, raw);
        QFETCH(QString, reason);
        DPointObject* point = m_model->pointAt(row);
        const QVariant before = point->getCurrentValue();
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QCOMPARE(m_model->setData(m_model->index(row, 1), input), raw.isValid());
        QCOMPARE(point->getPendingValue(), raw);
        QCOMPARE(point->getCurrentValue(), before);
        QCOMPARE(value(row, DPointTableModel::WriteStateRole).toInt(),
            raw.isValid() ? DPointTableModel::WritePending : DPointTableModel::NoWrite);
        QCOMPARE(value(row, DPointTableModel::InputErrorRole).toString(), reason);
        QCOMPARE(value(row, Qt::ToolTipRole).toString(),
            raw.isValid() ? "Waiting for the device" : reason);
        QCOMPARE(m_model->lastInputError(), reason);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex(), m_model->index(row, 0));
        QCOMPARE(changed[0][1].toModelIndex(), m_model->index(row, 7));
    }

    void tableDeviceAnswers()
    {
        DPointObject* point = m_model->pointAt(0);
        QVERIFY(m_model->setData(m_model->index(0, 1), "179.6")); // held already: nothing to write
        QVERIFY(!point->isPending());
        QVERIFY(m_model->setData(m_model->index(0, 1), "190"));
        QTRY_COMPARE(value(0, Qt::DisplayRole), QVariant("190.0 °F")); // committed automatically
        // Refused: the device answers with the value it holds; the second link has a code only.
        StatRef refusal(new StatBase("E42", "Device refused the value"));
        refusal.chain(StatRef(new StatBase("E7")));
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        point->setUpdateComplete(820, refusal);
        QCOMPARE(changed.size(), 1); // the answer shows with the value that follows it
        QCOMPARE(
            value(0, DPointTableModel::WriteStateRole), QVariant(DPointTableModel::WriteRefused));
        QCOMPARE(
            value(0, DPointTableModel::WriteStatusRole), QVariant("Device refused the value; E7"));
        QCOMPARE(value(0, Qt::DisplayRole), QVariant("179.6 °F"));
        point->setCurrentValue(821); // the next value ends the answer's display
        QCOMPARE(value(0, DPointTableModel::WriteStateRole), QVariant(DPointTableModel::NoWrite));
        QVERIFY(m_model->setData(m_model->index(0, 1), 185));
        point->setUpdateComplete(850, StatRef());
        QCOMPARE(value(0, DPointTableModel::WriteStatusRole), QVariant("Confirmed by the device"));
        QVERIFY(m_model->setData(m_model->index(0, 1), 186));
        point->setUpdateComplete(850, StatRef(new StatBase("E1")));
        QCOMPARE(value(0, DPointTableModel::WriteStatusRole), QVariant("E1"));
        QVERIFY(m_model->setData(m_model->index(0, 1), 186));
        QVERIFY(m_model->setData(m_model->index(0, 1), 185)); // back to the value held: withdrawn
        QVERIFY(!point->isPending());
        QCOMPARE(value(0, DPointTableModel::WriteStateRole), QVariant(DPointTableModel::NoWrite));
    }

    void tableRowsAndLookups()
    {
        DPointObject* setpoint = m_model->pointAt(0);
        DPointObject* pump = m_model->pointAt(2);
        DPointObject stranger;
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        QCOMPARE(m_model->addPoint(nullptr), -1);
        QCOMPARE(m_model->addPoint(pump), 2);
        QCOMPARE(m_model->addPoints({ setpoint, nullptr, &stranger, pump, &stranger }), 1);
        QCOMPARE(m_model->addItem(nullptr), -1);
        QPointer<DPointModelItemData> refused[]
            = { new DPointModelItemData(nullptr), new NamedItem(pump) };
        QCOMPARE(m_model->addItem(refused[0]) + m_model->addItem(refused[1]), -2);
        QVERIFY(!refused[0] && !refused[1]);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(m_model->rowOfPoint(&stranger), 3);
        QCOMPARE(m_model->rowOfPoint(nullptr), -1);
        QCOMPARE(m_model->itemAt(3)->parent(), m_model.get());
        QCOMPARE(m_model->itemAt(4), nullptr);
        QCOMPARE(m_model->itemAt(-1), nullptr);
        QCOMPARE(m_model->pointAt(4), nullptr);
        QCOMPARE(m_model->columnCount(), 8);
        QCOMPARE(
            m_model->rowCount(m_model->index(0, 0)) + m_model->columnCount(m_model->index(0, 0)),
            0);
        QVERIFY(!m_model->setData(m_model->index(0, 0), "185"));
        QVERIFY(!m_model->setData(m_model->index(0, 1), "185", Qt::DisplayRole));
        QVERIFY(!point(0)->isPending());
        QString flags, headers;
        for (int column = 0; column <= 8; ++column) {
            flags
                += QString::number(int(m_model->flags(m_model->index(column % 4, column % 3))), 16)
                + ' ';
            headers += m_model->headerData(column, Qt::Horizontal).toString() + '|';
        }
        QCOMPARE(flags, QString("a1 a1 a1 a1 a3 a1 a1 a1 a1 "));
        QCOMPARE(headers,
            QString("Name|Value|Units|Limits|Worksheet|Line|Large display|Display groups||"));
        QStringList roles;
        for (const QByteArray& name : m_model->roleNames())
            roles << name;
        roles.sort();
        QCOMPARE(roles.join(' '),
            QString("decoration definition display edit inputError point rawValue statusTip "
                    "toolTip whatsThis worksheet writeState writeStatus"));

        DPointObject* temperature = m_model->pointAt(1);
        QPointer<DPointModelItemData> removed = m_model->itemAt(1);
        QVERIFY(!m_model->removeRows(-1, 1) && !m_model->removeRows(3, 2)
            && !m_model->removeRows(0, 0));
        QVERIFY(!m_model->removeRows(0, 1, m_model->index(0, 0)));
        QVERIFY(m_model->removeRows(1, 1));
        QVERIFY(!removed);
        QCOMPARE(m_model->rowOfPoint(pump), 1);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        temperature->setCurrentValue(7);
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        m_model->clear();
        QCOMPARE(reset.size(), 1);
        QCOMPARE(m_model->rowCount(), 0);
        pump->setCurrentValue(0);
        QCOMPARE(changed.size(), 0);
    }

    // Changes reported by another thread arrive queued, one dataChanged per change, for the row.
    void tableChangesFromAnotherThread()
    {
        DPointObject* level = m_model->pointAt(1);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        std::atomic<bool> done { false };
        std::thread worker([level, &done] {
            for (int value = 1; value <= 500; ++value)
                level->setCurrentValue(value);
            done = true;
        });
        while (!done) // the model reads the point while the worker writes it
            m_model->index(1, 1).data(Qt::EditRole);
        worker.join();
        QCOMPARE(changed.size(), 0);
        QTRY_COMPARE(changed.size(), 500);
        QCOMPARE(value(1, DPointTableModel::RawValueRole), QVariant(500));
        for (const QList<QVariant>& arguments : qAsConst(changed))
            QCOMPARE(arguments.at(0).toModelIndex(), m_model->index(1, 0));
    }

    // A point dying in the model's thread loses its row at once; one dying in another thread
    // leaves a dead row (read invalid, not editable) until the model's next event-loop pass.
    void tablePointDestroyed_data()
    {
        QTest::addColumn<bool>("otherThread");
        QTest::newRow("model thread") << false;
        QTest::newRow("other thread") << true;
    }

    void tablePointDestroyed()
    {
        QFETCH(bool, otherThread);
        DPointObject* level = m_model->pointAt(1);
        QPointer<DPointModelItemData> item = m_model->itemAt(1);
        QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
        if (otherThread) {
            level->setParent(nullptr);
            std::atomic<QThread*> workerThread { nullptr };
            std::atomic<bool> moved { false };
            std::thread worker([&] {
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
            QCOMPARE(m_model->rowCount(), 3);
            QCOMPARE(m_model->pointAt(1), nullptr);
            QCOMPARE(m_model->rowOfPoint(level), -1);
            for (int role : { int(Qt::DisplayRole), int(DPointModelItemData::PointRole) })
                QVERIFY(!m_model->index(1, 1).data(role).isValid());
            QVERIFY(!(m_model->flags(m_model->index(1, 1)) & Qt::ItemIsEditable));
            QVERIFY(!m_model->setData(m_model->index(1, 1), "5"));
            QVERIFY(removed.wait(5000));
        } else {
            delete level;
        }
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed[0][1].toInt(), 1);
        QCOMPARE(removed[0][2].toInt(), 1);
        QVERIFY(!item);
        QCOMPARE(m_model->index(1, 0).data(), QVariant("Primary pump mode"));
    }

private:
    DPointObject* point(int row) const { return m_model->pointAt(row); }
    QVariant value(int row, int role) const { return m_model->index(row, 1).data(role); }

    std::unique_ptr<MeasurementRegistry> m_registry { MeasurementLoader::loadMeasurementRegistry(
        KIVO_SAMPLE_DATA_DIR "/measurements.xml") };
    std::unique_ptr<DPointDictionary> m_dict { DPDictLoader(nullptr, nullptr, m_registry.get())
                                                   .load(KIVO_SAMPLE_DATA_DIR "/boiler.xml",
                                                       "boiler") };
    std::unique_ptr<DPointTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

QTEST_GUILESS_MAIN(TestModels)
#include "tst_models.moc"
