#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>

#include <QtTest>

#include <limits>

using kivo::MeasurementConversion;
using kivo::MeasurementConverter;

using EntryList = QList<QStringList>;

class TestMeasurement : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isApplicable_data();
    void isApplicable();
    void toString_data();
    void toString();
    void fromValue_data();
    void fromValue();
};

void TestMeasurement::isApplicable_data()
{
    QTest::addColumn<EntryList>("entries");
    QTest::addColumn<QString>("src");
    QTest::addColumn<QString>("dst");
    QTest::addColumn<bool>("applicable");

    const EntryList ab { { "A", "B" } };
    QTest::newRow("no entries") << EntryList() << "A"
                                << "B" << false;
    QTest::newRow("forward") << ab << "A"
                             << "B" << true;
    QTest::newRow("reverse is not applicable") << ab << "B"
                                               << "A" << false;
    QTest::newRow("letter case differs") << ab << "A"
                                         << "b" << false;
    QTest::newRow("leading blank differs") << ab << " A"
                                           << "B" << false;
    QTest::newRow("source and destination from different entries")
        << EntryList { { "A", "X" }, { "Y", "B" } } << "A"
        << "B" << false;
    QTest::newRow("later entry matches") << EntryList { { "A", "X" }, { "A", "B" } } << "A"
                                         << "B" << true;
}

void TestMeasurement::isApplicable()
{
    QFETCH(EntryList, entries);
    QFETCH(QString, src);
    QFETCH(QString, dst);
    QFETCH(bool, applicable);

    MeasurementConversion conversion(nullptr);
    for (const QStringList& entry : entries)
        conversion.addApplicableDefs(entry.at(0), entry.at(1), 0.1);
    QCOMPARE(conversion.isApplicable(src, dst), applicable);
}

void TestMeasurement::toString_data()
{
    QTest::addColumn<double>("unitScale");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("offset");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<QVariant>("raw");
    QTest::addColumn<QString>("text");

    const double nan = std::numeric_limits<double>::quiet_NaN();

    QTest::newRow("tenths of degC to degF") << 0.1 << 1.8 << 32 << 0.1 << QVariant(235) << "74.3";
    QTest::newRow("unit scale only, half rounds up")
        << 0.1 << 1.0 << 0 << 1.0 << QVariant(235) << "24";
    QTest::newRow("negative half rounds away from zero")
        << 1.0 << 1.0 << 0 << 1.0 << QVariant(-23.5) << "-24";
    QTest::newRow("negative raw through unit scale")
        << 0.1 << 1.0 << 0 << 1.0 << QVariant(-235) << "-24";
    QTest::newRow("resolution 5 snaps") << 1.0 << 1.0 << 0 << 5.0 << QVariant(23) << "25";
    QTest::newRow("resolution 10 snaps") << 1.0 << 1.0 << 0 << 10.0 << QVariant(1234) << "1230";
    QTest::newRow("resolution 10, negative half")
        << 1.0 << 1.0 << 0 << 10.0 << QVariant(-1235) << "-1240";
    QTest::newRow("resolution 100") << 1.0 << 1.0 << 0 << 100.0 << QVariant(1250) << "1300";
    // 23.26 and 23.38 would print 23 without snapping; snapped they become 23.5.
    QTest::newRow("resolution 0.5 snaps, no decimals")
        << 1.0 << 1.0 << 0 << 0.5 << QVariant(23.26) << "24";
    QTest::newRow("resolution 0.5, below the half step")
        << 1.0 << 1.0 << 0 << 0.5 << QVariant(23.24) << "23";
    QTest::newRow("resolution 0.25 snaps, no decimals")
        << 1.0 << 1.0 << 0 << 0.25 << QVariant(23.38) << "24";
    // Snapped to a multiple of 0.05, 0.03 would become 0.05 and print 0.1.
    QTest::newRow("resolution 0.05, one decimal, no snap")
        << 1.0 << 1.0 << 0 << 0.05 << QVariant(0.03) << "0.0";
    QTest::newRow("resolution 0.05, one decimal")
        << 1.0 << 1.0 << 0 << 0.05 << QVariant(23.46) << "23.5";
    QTest::newRow("resolution 0.01, two decimals")
        << 1.0 << 1.0 << 0 << 0.01 << QVariant(74.254) << "74.25";
    QTest::newRow("resolution 0.001, three decimals")
        << 1.0 << 1.0 << 0 << 0.001 << QVariant(2.0) << "2.000";
    QTest::newRow("resolution 0, six decimals")
        << 1.0 << 1.0 << 0 << 0.0 << QVariant(23.456) << "23.456000";
    QTest::newRow("negative resolution, six decimals")
        << 1.0 << 1.0 << 0 << -1.0 << QVariant(23.456) << "23.456000";
    QTest::newRow("NaN resolution, six decimals")
        << 1.0 << 1.0 << 0 << nan << QVariant(-23.456) << "-23.456000";
    QTest::newRow("offset -40") << 1.0 << 1.0 << -40 << 1.0 << QVariant(40) << "0";
    QTest::newRow("zero scale shows the offset")
        << 0.1 << 0.0 << 32 << 1.0 << QVariant(999) << "32";
    QTest::newRow("numeric text") << 0.1 << 1.8 << 32 << 0.1 << QVariant("235") << "74.3";
    QTest::newRow("non-numeric text reads as zero")
        << 0.1 << 1.8 << 32 << 0.1 << QVariant("warm") << "32.0";
    QTest::newRow("invalid value reads as zero") << 1.0 << 1.0 << 5 << 1.0 << QVariant() << "5";
    QTest::newRow("large value has no exponent")
        << 1.0 << 1.0 << 0 << 1.0 << QVariant(1e20) << "100000000000000000000";
}

void TestMeasurement::toString()
{
    QFETCH(double, unitScale);
    QFETCH(double, scale);
    QFETCH(int, offset);
    QFETCH(double, resolution);
    QFETCH(QVariant, raw);
    QFETCH(QString, text);

    MeasurementConverter converter(nullptr);
    converter._init(unitScale, scale, offset, resolution, QString());
    QCOMPARE(converter.toString(raw), text);
}

void TestMeasurement::fromValue_data()
{
    QTest::addColumn<double>("unitScale");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QVariant>("display");
    QTest::addColumn<double>("raw");

    QTest::newRow("inverse of degF display") << 0.1 << 1.8 << 32 << QVariant(74.3) << 235.0;
    QTest::newRow("zero scale ignores the offset") << 0.1 << 0.0 << 32 << QVariant(23.5) << 235.0;
    QTest::newRow("negative offset") << 1.0 << 1.0 << -40 << QVariant(-40) << 0.0;
    QTest::newRow("text value") << 0.01 << 14.5038 << 0 << QVariant("36.2595") << 250.0;
    QTest::newRow("no rounding") << 1.0 << 1.0 << 0 << QVariant(23.26) << 23.26;
}

void TestMeasurement::fromValue()
{
    QFETCH(double, unitScale);
    QFETCH(double, scale);
    QFETCH(int, offset);
    QFETCH(QVariant, display);
    QFETCH(double, raw);

    MeasurementConverter converter(nullptr);
    converter._init(unitScale, scale, offset, 0.1, QString());
    QVERIFY2(qAbs(converter.fromValue(display) - raw) < 1e-9,
        qPrintable(QString::number(converter.fromValue(display), 'g', 17)));
}

QTEST_GUILESS_MAIN(TestMeasurement)
#include "tst_measurement.moc"
