#include <kivo/kivodpoints.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using kivo::DPointTableModel;

// The table model driven only through QAbstractItemModel, over live points of the sample
// boiler dictionary with the sample measurement file (display units °F).
class TestTableModelEditing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_registry.reset(kivo::MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
        kivo::DPDictLoader loader(nullptr, nullptr, m_registry.get());
        m_dict.reset(loader.load(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"), "boiler"));
        QVERIFY(m_dict);
    }

    // Rows: 0 SupplySetpoint (writable, 300-950 tenths of °C, shown 86.0-203.0 °F),
    // 1 SupplyTemp (read-only), 2 PumpMode (writable enumeration).
    void init()
    {
        qDeleteAll(m_points.children());
        m_model.reset(new DPointTableModel);
        m_tester.reset(new QAbstractItemModelTester(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        for (const char* name : { "SupplySetpoint", "SupplyTemp", "PumpMode" }) {
            auto* point = new kivo::DPointObject(&m_points);
            point->setDPointDef(m_dict->getDPointDefByName(QString::fromLatin1(name)));
            point->setCurrentValue(name[0] == 'S' ? 820 : 2);
            m_model->addPoint(point);
        }
    }

    void displayInUnits()
    {
        const auto text
            = [this](int row, int column) { return m_model->index(row, column).data(); };
        QCOMPARE(text(0, DPointTableModel::NameColumn), QVariant("Supply water setpoint"));
        QCOMPARE(text(0, DPointTableModel::ValueColumn), QVariant("179.6 °F"));
        QCOMPARE(text(0, DPointTableModel::UnitsColumn), QVariant("°F"));
        QCOMPARE(text(0, DPointTableModel::LimitsColumn), QVariant("86.0 – 203.0"));
        QCOMPARE(text(2, DPointTableModel::LimitsColumn), QVariant("Off, Hand, Auto"));
        QCOMPARE(text(0, DPointTableModel::WorksheetColumn), QVariant("Boiler"));
        QCOMPARE(text(0, DPointTableModel::GroupsColumn), QVariant("Overview: 3, Setpoints: 1"));
        QCOMPARE(value(0, Qt::EditRole), QVariant(179.6));
        QCOMPARE(value(2, Qt::EditRole), QVariant("Auto"));
    }

    void edit_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QVariant>("input");
        QTest::addColumn<QVariant>("raw");
        QTest::addColumn<QString>("reason");
        QTest::newRow("text in °F") << 0 << QVariant("185") << QVariant(850) << QString();
        QTest::newRow("number in °F") << 0 << QVariant(194.0) << QVariant(900) << QString();
        QTest::newRow("enumeration label") << 2 << QVariant("hand") << QVariant(1) << QString();
        QTest::newRow("above the limit") << 0 << QVariant("204") << QVariant()
                                         << QStringLiteral("Above the upper limit 203.0 °F");
        QTest::newRow("not a number")
            << 0 << QVariant("warm") << QVariant() << QStringLiteral("\"warm\" is not a number");
        QTest::newRow("unknown label") << 2 << QVariant("Ajar") << QVariant()
                                       << QStringLiteral("No choice is labelled \"Ajar\"");
        QTest::newRow("read-only")
            << 1 << QVariant("150") << QVariant() << QStringLiteral("The point is read-only");
    }

    void edit()
    {
        QFETCH(int, row);
        QFETCH(QVariant, input);
        QFETCH(QVariant, raw);
        QFETCH(QString, reason);
        auto* point = value(row, kivo::DPointModelItemData::PointRole).value<kivo::DPointObject*>();
        const QVariant before = point->getCurrentValue();

        QCOMPARE(m_model->setData(m_model->index(row, 1), input), raw.isValid());
        QCOMPARE(point->getPendingValue(), raw); // what setUpdatePending was given
        QCOMPARE(point->getCurrentValue(), before); // until the commit
        QCOMPARE(value(row, DPointTableModel::WriteStateRole).toInt(),
            raw.isValid() ? DPointTableModel::WritePending : DPointTableModel::NoWrite);
        QCOMPARE(value(row, DPointTableModel::InputErrorRole).toString(), reason);
        QCOMPARE(value(row, Qt::ToolTipRole).toString(),
            raw.isValid() ? "Waiting for the device" : reason);
        QCOMPARE(m_model->lastInputError(), reason);
    }

    void deviceAnswers()
    {
        auto* point = value(0, kivo::DPointModelItemData::PointRole).value<kivo::DPointObject*>();
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(m_model->setData(m_model->index(0, 1), "179.6")); // held already: nothing to write
        QVERIFY(!point->isPending());
        QVERIFY(m_model->setData(m_model->index(0, 1), QStringLiteral("190")));
        QTRY_COMPARE(value(0, Qt::DisplayRole), QVariant("190.0 °F")); // committed automatically
        // The device refuses and answers with the value it actually holds; the second link of
        // the status chain has a code only.
        kivo::StatRef refusal(new kivo::StatBase("E42", "Device refused the value"));
        refusal.chain(kivo::StatRef(new kivo::StatBase("E7")));
        point->setUpdateComplete(820, refusal);
        QCOMPARE(
            value(0, DPointTableModel::WriteStateRole), QVariant(DPointTableModel::WriteRefused));
        QCOMPARE(
            value(0, DPointTableModel::WriteStatusRole), QVariant("Device refused the value; E7"));
        QCOMPARE(value(0, Qt::DisplayRole), QVariant("179.6 °F"));
        QCOMPARE(changed.last().at(0).toModelIndex(), m_model->index(0, 0));
        point->setCurrentValue(821); // the next value ends the answer's display
        QCOMPARE(value(0, DPointTableModel::WriteStateRole), QVariant(DPointTableModel::NoWrite));

        QVERIFY(m_model->setData(m_model->index(0, 1), 185));
        point->setUpdateComplete(850, kivo::StatRef());
        QCOMPARE(value(0, DPointTableModel::WriteStatusRole), QVariant("Confirmed by the device"));
        QVERIFY(m_model->setData(m_model->index(0, 1), 186));
        point->cancelPending();
        QCOMPARE(value(0, DPointTableModel::WriteStateRole), QVariant(DPointTableModel::NoWrite));
    }

private:
    QVariant value(int row, int role) const { return m_model->index(row, 1).data(role); }

    std::unique_ptr<kivo::MeasurementRegistry> m_registry;
    std::unique_ptr<kivo::DPointDictionary> m_dict;
    QObject m_points;
    std::unique_ptr<DPointTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

QTEST_GUILESS_MAIN(TestTableModelEditing)

#include "tst_tablemodelediting.moc"
