#include <kivo/kivodpoints.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <thread>

using namespace kivo;

namespace {

// Values in tables: 'text, N (int), N.N (double), - (none).
QVariant value(const QString& t)
{
    if (t == "-" || t.startsWith('\''))
        return t == "-" ? QVariant() : QVariant(t.mid(1));
    return t.contains('.') ? QVariant(t.toDouble()) : QVariant(t.toInt());
}

QString text(const QVariant& v)
{
    return !v.isValid() ? "-" : (v.userType() == QMetaType::QString ? "'" : "") + v.toString();
}

// One row per line of tests/data/models/name whose first field is kind (tab-separated fields;
// "#" starts a comment), named by its second field; the fields go into the column "row".
void addRows(const char* name, const QString& kind)
{
    QTest::addColumn<QStringList>("row");
    QFile file(QString(KIVO_TEST_DATA_DIR "/models/") + name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(kind + '\t'))
            QTest::newRow(qPrintable(line.section('\t', 1, 1))) << line.split('\t');
    }
}

// An item over a point of the given kind, as tests/data/models/items.txt describes them.
struct ItemFixture
{
    explicit ItemFixture(const QString& kind)
    {
        const QMap<QString, DPTypeBase*> types { { "enum", new DPTypeEnum(&def) },
            { "number", new DPTypeNumber(&def) }, { "numberNoDefault", new DPTypeNumber(&def) },
            { "string", new DPTypeString(&def) } };
        qobject_cast<DPTypeEnum*>(types["enum"])->_init(1, { { 1, "Open" }, { 2, "Closed" } });
        qobject_cast<DPTypeNumber*>(types["number"])->_init(5, 0, 100, "", "");
        qobject_cast<DPTypeString*>(types["string"])->_init("dflt", "", "", 20);
        def._init("tank.level", "TankLevel", "Tank level", "17", 4, types.value(kind));
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

    void itemData_data() { addRows("items.txt", "data"); }

    // Only the value column reads the point, which switches its change reporting on.
    void itemData()
    {
        QFETCH(QStringList, row);
        ItemFixture fixture(row[2]);
        if (row[3] != "-")
            fixture.point.setCurrentValue(value(row[3]));
        QSignalSpy cov(&fixture.point, &DPointObject::covEnabled);
        fixture.item->setColumnCount(7);
        QCOMPARE(fixture.item->columnCount(), 3);
        QCOMPARE(text(fixture.item->data(row[4].toInt(), row[5].toInt())), row[6]);
        QCOMPARE(cov.count(), int(row[4] == "1" && row[2] != "nodef" && row[2] != "nopoint"));
    }

    void itemSetData_data() { addRows("items.txt", "setData"); }

    void itemSetData()
    {
        QFETCH(QStringList, row);
        ItemFixture fixture(row[2]);
        if (row[3] != "-")
            fixture.point.setCurrentValue(value(row[3]));
        QSignalSpy changed(&fixture.point, &DPointObject::valueChanged);
        QCOMPARE(fixture.item->setData(1, value(row[4])), row[5] == "1");
        QCOMPARE(QString::number(changed.count()), row[7]);
        QVERIFY(!fixture.point.isPending());
        QCOMPARE(text(fixture.point.getCurrentValue()), row[6]);
    }

    // The table tests run over tests/data/models/table.txt's three points.
    void init()
    {
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

    void tableCells_data() { addRows("table.txt", "cells"); }

    void tableCells()
    {
        QFETCH(QStringList, row);
        QStringList cells;
        for (int column = 0; column < DPointTableModel::ColumnCount; ++column) {
            const QVariant cell = m_model->index(row[2].toInt(), column).data(row[3].toInt());
            cells << cell.toString() + (column == 1 ? QString(" ") + cell.typeName() : "");
        }
        QCOMPARE(cells.join('|'), row[4]);
    }

    void tableEdit_data() { addRows("table.txt", "edit"); }

    // An accepted edit becomes a write request; a refused one leaves the point alone and says why.
    void tableEdit()
    {
        QFETCH(QStringList, row);
        const int r = row[2].toInt();
        const bool accepted = row[4] != "-";
        DPointObject* point = m_model->pointAt(r);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QCOMPARE(m_model->setData(m_model->index(r, 1), value(row[3])), accepted);
        QCOMPARE(text(point->getPendingValue()), row[4]);
        QCOMPARE(point->getCurrentValue(), QVariant(r == 2 ? 2 : 820));
        QCOMPARE(data(r, DPointTableModel::WriteStateRole).toInt(), int(accepted));
        QCOMPARE(data(r, DPointTableModel::InputErrorRole).toString(), row[5]);
        QCOMPARE(data(r, Qt::ToolTipRole).toString(), accepted ? "Waiting for the device" : row[5]);
        QCOMPARE(m_model->lastInputError(), row[5]);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex(), m_model->index(r, 0));
        QCOMPARE(changed[0][1].toModelIndex(), m_model->index(r, 7));
    }

    void tableDeviceAnswers()
    {
        DPointObject* point = m_model->pointAt(0);
        QVERIFY(m_model->setData(m_model->index(0, 1), "179.6")); // held already: nothing to write
        QVERIFY(!point->isPending());
        QVERIFY(m_model->setData(m_model->index(0, 1), "190"));
        QTRY_COMPARE(data(0, Qt::DisplayRole), QVariant("190.0 °F")); // committed automatically
        // Refused: the device answers with the value it holds; the second link has a code only.
        StatRef refusal(new StatBase("E42", "Device refused the value"));
        refusal.chain(StatRef(new StatBase("E7")));
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        point->setUpdateComplete(820, refusal);
        QCOMPARE(changed.size(), 1); // the answer shows with the value that follows it
        QCOMPARE(writeState(), QString("3 Device refused the value; E7"));
        QCOMPARE(data(0, Qt::DisplayRole), QVariant("179.6 °F"));
        point->setCurrentValue(821); // the next value ends the answer's display
        QCOMPARE(writeState(), QString("0 "));
        QVERIFY(m_model->setData(m_model->index(0, 1), 185));
        point->setUpdateComplete(850, StatRef());
        QCOMPARE(writeState(), QString("2 Confirmed by the device"));
        QVERIFY(m_model->setData(m_model->index(0, 1), 186));
        point->setUpdateComplete(850, StatRef(new StatBase));
        QCOMPARE(writeState(), QString("3 Refused by the device"));
        QVERIFY(m_model->setData(m_model->index(0, 1), 186));
        QVERIFY(m_model->setData(m_model->index(0, 1), 185)); // back to the value held: withdrawn
        QVERIFY(!point->isPending());
        QCOMPARE(writeState(), QString("0 "));
    }

    // A change of display system shows every row of the registry's definitions again in the
    // new units, and edits are read in them, at once.
    void tableFollowsDisplaySystem()
    {
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        const auto row = [this](int r) {
            QStringList cells;
            for (int column = 1; column <= DPointTableModel::LimitsColumn; ++column)
                cells << m_model->index(r, column).data().toString();
            return cells.join('|');
        };
        m_registry->setDisplaySystemId("msys.si");
        QCOMPARE(changed.size(), 1); // the two numeric rows; the enumeration has no units
        QCOMPARE(changed[0][0].toModelIndex(), m_model->index(0, DPointTableModel::ValueColumn));
        QCOMPARE(changed[0][1].toModelIndex(), m_model->index(1, DPointTableModel::LimitsColumn));
        QCOMPARE(row(0), QString("82.0 \u00b0C|\u00b0C|30.0 \u2013 95.0"));
        QCOMPARE(row(1), QString("82.0 \u00b0C|\u00b0C|0.0 \u2013 120.0"));
        QCOMPARE(row(2), QString("Auto||Off, Hand, Auto"));
        QVERIFY(!m_model->setData(m_model->index(0, 1), "96"));
        QCOMPARE(m_model->lastInputError(), QString("Above the upper limit 95.0 \u00b0C"));
        QVERIFY(m_model->setData(m_model->index(0, 1), "85 \u00b0C"));
        QCOMPARE(m_model->pointAt(0)->getPendingValue(), QVariant(850));

        changed.clear();
        m_registry->setDisplaySystemId("msys.si"); // no change
        QCOMPARE(changed.size(), 0);
        m_registry->setDisplaySystemId("msys.us");
        QCOMPARE(changed.size(), 1);
        QCOMPARE(row(0), QString("179.6 \u00b0F|\u00b0F|86.0 \u2013 203.0"));
    }

    void tableRowsAndLookups()
    {
        DPointObject *temperature = m_model->pointAt(1), *pump = m_model->pointAt(2), stranger;
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        QCOMPARE(m_model->addPoint(nullptr) + m_model->addPoint(pump), 1);
        QCOMPARE(m_model->addPoints({ temperature, nullptr, &stranger, pump, &stranger }), 1);
        QPointer<DPointModelItemData> refused[]
            = { new DPointModelItemData(nullptr), new DPointModelItemData(pump) };
        QCOMPARE(
            m_model->addItem(nullptr) + m_model->addItem(refused[0]) + m_model->addItem(refused[1]),
            -3);
        QVERIFY(!refused[0] && !refused[1] && inserted.size() == 1);
        QCOMPARE(m_model->rowOfPoint(&stranger) * 10 + m_model->rowOfPoint(nullptr), 29);
        QCOMPARE(m_model->itemAt(3)->parent(), m_model.get());
        const QModelIndex cell = m_model->index(1, 3);
        QCOMPARE(cell.data(DPointModelItemData::PointRole).value<DPointObject*>(), temperature);
        QCOMPARE(cell.data(DPointModelItemData::DefinitionRole).value<DPointDef*>(),
            temperature->getDPointDef());
        QVERIFY(!m_model->itemAt(4) && !m_model->itemAt(-1) && !m_model->pointAt(4));
        const QModelIndex name = m_model->index(0, 0);
        QCOMPARE(m_model->rowCount(name) + m_model->columnCount(name), 0);
        QVERIFY(!m_model->setData(name, "185"));
        QVERIFY(!m_model->setData(m_model->index(0, 1), "185", Qt::DisplayRole));
        QString flags, headers;
        for (int column = 0; column <= 8; ++column) {
            const Qt::ItemFlags f = m_model->flags(m_model->index(column % 4, column % 3));
            flags += QString::number(int(f), 16) + ' ';
            headers += m_model->headerData(column, Qt::Horizontal).toString() + '|';
        }
        QCOMPARE(flags, QString("a1 a1 a1 a1 a3 a1 a1 a1 a1 "));
        QCOMPARE(headers,
            QString("Name|Value|Units|Limits|Worksheet|Line|Large display|Display groups||"));
        QList<QByteArray> names = m_model->roleNames().values();
        std::sort(names.begin(), names.end());
        QCOMPARE(names.join(' '),
            QByteArray("decoration definition display edit inputError point rawValue statusTip "
                       "toolTip whatsThis worksheet writeState writeStatus"));

        QPointer<DPointModelItemData> removed = m_model->itemAt(1);
        QVERIFY(!m_model->removeRows(-1, 1) && !m_model->removeRows(3, 2)
            && !m_model->removeRows(0, 0));
        QVERIFY(!m_model->removeRows(0, 1, name) && m_model->removeRows(1, 1));
        QVERIFY(!removed && m_model->rowOfPoint(pump) == 1);
        const int rows = m_model->rowCount();
        QVERIFY(m_model->removeRows(rows - 1, 1) && m_model->rowCount() == rows - 1); // the last
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        temperature->setCurrentValue(7);
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        m_model->clear();
        pump->setCurrentValue(0);
        QVERIFY(reset.size() == 1 && m_model->rowCount() == 0 && changed.isEmpty());
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
        QCOMPARE(data(1, DPointTableModel::RawValueRole), QVariant(500));
        for (const QList<QVariant>& arguments : qAsConst(changed))
            QCOMPARE(arguments.at(0).toModelIndex(), m_model->index(1, 0));
    }

    // A point dying in the model's thread loses its row at once; one dying in another thread
    // leaves a dead row (read invalid, not editable) until the model's next event-loop pass.
    void tablePointDestroyed()
    {
        for (bool otherThread : { false, true }) {
            DPointObject* level = m_model->pointAt(1);
            QPointer<DPointModelItemData> item = m_model->itemAt(1);
            QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
            if (otherThread) {
                level->setParent(nullptr);
                level->moveToThread(nullptr);
                std::thread([level] { delete level; }).join();
                QVERIFY(m_model->rowCount() == 2 && !m_model->pointAt(1)
                    && m_model->rowOfPoint(level) == -1);
                for (int role : { int(Qt::DisplayRole), int(DPointModelItemData::PointRole) })
                    QVERIFY(!m_model->index(1, 1).data(role).isValid());
                QVERIFY(!(m_model->flags(m_model->index(1, 1)) & Qt::ItemIsEditable));
                QVERIFY(!m_model->setData(m_model->index(1, 1), "5"));
                QVERIFY(removed.wait(5000));
            } else {
                delete level;
            }
            QCOMPARE(removed.size(), 1);
            QCOMPARE(removed[0][1].toInt() + removed[0][2].toInt(), 2);
            QVERIFY(!item);
            QCOMPARE(m_model->rowCount(), otherThread ? 1 : 2);
        }
    }

private:
    QVariant data(int row, int role) const { return m_model->index(row, 1).data(role); }
    QString writeState() const
    {
        return data(0, DPointTableModel::WriteStateRole).toString() + ' '
            + data(0, DPointTableModel::WriteStatusRole).toString();
    }

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
