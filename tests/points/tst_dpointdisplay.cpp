#include <kivo/kivodpoints.h>

#include <QTest>

#include <memory>

using kivo::DPointDisplay;

// Display texts and their inverse for every point type of the sample boiler dictionary, read
// with the sample measurement file (display system "msys.us").
class TestDPointDisplay : public QObject
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

    void displayText_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<QVariant>("raw");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("number"); // what displayValue gives besides the text
        const auto row = [](const char* name, const char* point, QVariant raw, const char* text,
                             QVariant number = QVariant()) {
            QTest::newRow(name) << point << raw << QString::fromUtf8(text) << number;
        };
        row("integer converted", "SupplySetpoint", 235, "74.3 °F", 74.3);
        row("integer snapped to 1 °F", "FlueGasTemp", 100, "212 °F", 212);
        row("integer in its own unit", "BurnerModulation", 42, "42 %", 42);
        row("real rounded half away", "EfficiencyEstimate", 91.5, "92 %", 92);
        row("enumeration", "PumpMode", 2, "Auto");
        row("event active", "HighLimitAlarm", 19, "Active, unacknowledged");
        row("event latched", "HighLimitAlarm", 20, "Cleared, reset needed");
        row("text", "BoilerTag", "BLR-1", "BLR-1");
        row("ipv4", "ControllerAddress", int(0xC0A80A14), "192.168.10.20");
        row("local date", "ControllerClock", 31536000, "1971-01-01 00:00:00");
        row("GMT date", "LastLockoutTime", 0, "1970-01-01 00:00:00 UTC");
        row("up time", "ControllerUptime", 273906, "3d 04:05:06");
        row("time of day", "NightSetbackStart", 79200, "22:00:00");
        row("day of year", "AnnualServiceDate", 2682000, "day 32 01:00:00");
        row("no value", "SupplySetpoint", QVariant(), "");
    }

    void displayText()
    {
        QFETCH(QString, point);
        QFETCH(QVariant, raw);
        QFETCH(QString, text);
        QFETCH(QVariant, number);
        QCOMPARE(DPointDisplay::displayText(def(point), raw), text);
        const QVariant value = DPointDisplay::displayValue(def(point), raw);
        const QVariant expected = number.isValid() || !raw.isValid() ? number : QVariant(text);
        QCOMPARE(value.userType(), expected.userType());
        QCOMPARE(value, expected);
    }

    // rawValue, and for what it converts, checkLimits: why a view refuses the input.
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
        QFETCH(QString, reason);
        QString why = QStringLiteral("stale");
        const QVariant result = DPointDisplay::rawValue(def(point), input, &why);
        QCOMPARE(result.userType(), raw.userType());
        QCOMPARE(result, raw);
        QCOMPARE(why.isEmpty() ? DPointDisplay::checkLimits(def(point), result) : why, reason);
    }

private:
    const kivo::DPointDef* def(const QString& name) const
    {
        return m_dict->getDPointDefByName(name);
    }

    std::unique_ptr<kivo::MeasurementRegistry> m_registry;
    std::unique_ptr<kivo::DPointDictionary> m_dict;
};

QTEST_GUILESS_MAIN(TestDPointDisplay)

#include "tst_dpointdisplay.moc"
