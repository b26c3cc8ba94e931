#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QFile>
#include <QtTest>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string_view>
#include <thread>

using namespace kivo;
using namespace std::literals;
using E = DPTypeEvent;
using N = DPTypeNumber;
using R = DPTypeReal;
using Row = std::pair<const char*, DPTypeBase*>;
Q_DECLARE_METATYPE(DPTypeBase*)

namespace {

// The names are a heap copy, so that a probe can share them.
E::AssociatedVariable* av(const QString& names, bool changeable)
{
    return new E::AssociatedVariable { QString(names.constData(), names.size()), changeable };
}

E* event(QObject* p, int id, const QString& desc, const QString& expl, E::EventType type,
    E::AckType ack, E::ResetType reset, const QMap<QString, E::AssociatedVariable*>& avs = {})
{
    return (new E(p))->_init(id, desc, expl, type, true, ack, reset, avs);
}

// Every kind of type, fresh and with edge content; the texts are in tests/data/types/json.txt.
// Texts holding place markers are filled again by the later values.
std::vector<Row> jsonRows(QObject* p)
{
    return {
        { "int fresh", new DPTypeNumber(p) },
        { "int", (new N(p))->_init(5, 0, 100, "u.rpm", "rpm") },
        { "int extremes", (new N(p))->_init("-42", INT_MIN, INT_MAX, "u.temp", "\u00b0C") },
        { "int default not a number", (new N(p))->_init("abc", -1, 1, {}, {}) },
        { "real fresh", new DPTypeReal(p) },
        { "real", (new R(p))->_init("2.50", -0.5, 1234567.0, {}, "bar") },
        { "real exponents", (new R(p))->_init(1234567.0, 1e6, 999999.0, {}, "l") },
        { "real small", (new R(p))->_init("2.0", 0.0001, 0.00001, {}, {}) },
        { "real six digits", (new R(p))->_init(123456.7, 0.1, -3.14159265, {}, {}) },
        { "real infinite", (new R(p))->_init(QVariant(), -qInf(), qInf(), {}, {}) },
        { "enum fresh", new DPTypeEnum(p) },
        { "enum", (new DPTypeEnum(p))->_init(1, { { 2, "High" }, { 0, "Off" }, { 1, "Low" } }) },
        { "enum sorted",
            (new DPTypeEnum(p))
                ->_init(-3, { { 10, "ten" }, { 9, "nine" }, { -3, "minus three" }, { 100, "" } }) },
        { "enum markers", (new DPTypeEnum(p))->_init(7, { { 1, "%1 done" }, { 2, "50%2" } }) },
        { "event fresh", new E(p) },
        { "event",
            event(p, 4711, "Pump overload", "Check the pump", E::Alarm, E::AckAuto, E::ResetAuto,
                { { "Pump", av("  P1   P2\tP3 ", false) }, { "Alarm", av("A1", true) } }) },
        { "event blank names",
            event(p, -1, "d", "e", E::Fault, E::AckNo, E::ResetManual,
                { { "t", av({}, true) }, { "u", av(" \t\n ", false) } }) },
        { "event order",
            event(p, 1, {}, {}, E::Warning, E::AckManual, E::ResetAuto,
                { { "b", av("x1", false) }, { "a", av("x2 x3", true) },
                    { "B", av("x4", false) } }) },
        { "event later marker", event(p, 2, "load %3", "X", E::Warning, E::AckNo, E::ResetManual) },
        { "event first marker", event(p, 1, "%1 left", "E", E::Fault, E::AckAuto, E::ResetAuto) },
        { "event type marker",
            event(p, 3, {}, {}, E::Message, E::AckManual, E::ResetManual,
                { { "%3x", av("n", false) } }) },
        { "text fresh", new DPTypeString(p) },
        { "text", (new DPTypeString(p))->_init("42", "[0-9]\\d*", "###", 16) },
        { "text backslashes", (new DPTypeString(p))->_init("C:\\temp", "\\w", "a\\b", -1) },
        { "text non-ASCII", (new DPTypeString(p))->_init("caf\u00e9", "[\"\u00e9\u20ac]", {}, 4) },
        { "text holding markers", (new DPTypeString(p))->_init("a%2b", "x", "%4", 7) },
        { "ipv4 fresh", new DPTypeIPv4(p) },
        { "ipv4", (new DPTypeIPv4(p))->_init("192.168.1.10") },
        { "time fresh", new DPTypeTime(p) },
        { "time", (new DPTypeTime(p))->_init(1234, DPTypeTime::Midnight) },
        { "time GMT", (new DPTypeTime(p))->_init(-7, DPTypeTime::Jan_01_1970_GMT) },
        // With the registry of registry() below.
        { "registry int", (new N(p))->_init(235, -400, 1000, "u.temp", "raw") },
        { "registry int snapped", (new N(p))->_init("3", 1, 10, "u.flow", {}) },
        { "registry int exponent", (new N(p))->_init(1, 0, 0, "u.coarse", {}) },
        { "registry int no unit", (new N(p))->_init({}, -5, 7, "u.none", "raw") },
        { "registry real", (new R(p))->_init("23.5", -400.0, 1000.0, "u.temp", "raw") },
        { "registry real snapped", (new R(p))->_init(1234567.0, 1.0, 10.0, "u.flow", {}) },
    };
}

// A row's text; rows named "registry ..." are rendered with the registry.
QString render(const Row& row, MeasurementRegistry* registry)
{
    registry = QByteArray(row.first).startsWith("registry") ? registry : nullptr;
    if (auto* number = qobject_cast<const DPTypeNumber*>(row.second))
        return number->toJson(registry);
    if (auto* real = qobject_cast<const DPTypeReal*>(row.second))
        return real->toJson(registry);
    return row.second->toJson();
}

// The registry of the "registry ..." rows.
std::unique_ptr<MeasurementRegistry> registry()
{
    return std::unique_ptr<MeasurementRegistry>(
        MeasurementLoader::loadMeasurementRegistry(KIVO_TEST_DATA_DIR "/types/units.xml"));
}

// Rows of tests/data/types/json.txt: name|default value as type=value|JSON text.
QHash<QString, QString> expectedJson()
{
    QHash<QString, QString> texts;
    QFile file(QStringLiteral(KIVO_TEST_DATA_DIR "/types/json.txt"));
    for (const QString& line :
        QString::fromUtf8(file.open(QIODevice::ReadOnly) ? file.readAll() : "").split('\n'))
        texts.insert(line.section('|', 0, 0), line.section('|', 1));
    return texts;
}

// The plain rule of the renderings: one QString::arg per value, in order; texts with
// arg(QString), ints with arg(int), doubles with arg(double, 0, 'g', -1).
QString substitute(QString text, const QVariantList& values)
{
    for (const QVariant& v : values) {
        text = v.userType() == QMetaType::Int   ? text.arg(v.toInt())
            : v.userType() == QMetaType::Double ? text.arg(v.toDouble(), 0, 'g', -1)
                                                : text.arg(v.toString());
    }
    return text;
}

const QString numberTemplate = "\"type\":\"int\", \"default\":%1, \"min\":%2, \"max\":%3, "
                               "\"resolution\":%4, \"unitsLabel\":\"%5\"";
const QString realTemplate = QString(numberTemplate).replace("\"int\"", "\"qreal\"");
const QString textTemplate
    = "\"type\":\"text\", \"default\":\"%1\", \"charSet\":\"%2\", \"format\":\"%3\", \"maxLen\":%4";

// What a converter shows, written out plainly: its arithmetic, then QString::number 'f'.
QString plainDisplay(const MeasurementConverter& c, double raw)
{
    const double y = raw * c.getUnitScale() * c.getScale() + c.getOffset();
    const double exponent = std::log10(c.m_resolution);
    if (!std::isfinite(exponent) || int(exponent) < 0)
        return QString::number(y, 'f', std::isfinite(exponent) ? -int(exponent) : 6);
    return QString::number(std::round(y * (1.0 / c.m_resolution)) / (1.0 / c.m_resolution), 'f', 0);
}

// Doubles at the edges of the 'g' and 'f' formats, then a fixed spread of others: arbitrary
// bit patterns, binary fractions (ties), short decimals and converter-like results.
QVector<double> testDoubles(int count)
{
    QVector<double> values = { 0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, -2.5, 0.05, 0.15, 0.25, 0.35,
        1e-5, 1e-4, 0.0001234, 123456.0, 999999.0, 1234567.0, 999999.5, 9.999995, 99999.95, 0.1,
        74.3, 5e-324, DBL_MIN, DBL_MAX, 1e21, 1e100, 1e-100, 999999999.5, 1e9, 117648.5, -0.04,
        -0.05, 0.0005, qQNaN(), qInf(), -qInf() };
    std::mt19937_64 random(20240611u);
    for (int i = 0; i < count; ++i) {
        quint64 bits = random();
        double value = double(qint64(bits % 4000001) - 2000000) / std::pow(10.0, double(i % 8));
        if (i % 3 == 0) // an arbitrary bit pattern
            std::memcpy(&value, &bits, sizeof value);
        values << (i % 3 == 1 ? value * 1.8 + 32 : value);
    }
    return values;
}

} // namespace

class TestTypes : public QObject
{
    Q_OBJECT

    QObject m_pool;

private Q_SLOTS:
    // Must run first, while the templates are still unbuilt.
    void concurrentFirstRendering()
    {
        const QHash<QString, QString> expected = expectedJson();
        std::atomic<int> ready { 0 };
        std::atomic<int> failures { 0 };
        const auto units = registry(); // shared: converters are made on first use
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                QObject owner;
                const std::vector<Row> rows = jsonRows(&owner);
                for (++ready; ready.load() < 4;)
                    std::this_thread::yield();
                for (int round = 0; round < 100; ++round) {
                    for (const Row& row : rows)
                        failures += render(row, units.get())
                            != expected.value(row.first).section('|', 1);
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(failures, 0);
    }

    void toJson_data()
    {
        QTest::addColumn<DPTypeBase*>("type");
        for (const Row& row : jsonRows(&m_pool))
            QTest::newRow(row.first) << row.second;
    }

    void toJson()
    {
        QFETCH(DPTypeBase*, type);
        const QString expected = expectedJson().value(QTest::currentDataTag());
        QCOMPARE(
            render({ QTest::currentDataTag(), type }, registry().get()), expected.section('|', 1));
        const QVariant value = type->getDefaultValue();
        QCOMPARE(QString(value.typeName()) + '=' + value.toString(), expected.section('|', 0, 0));
    }

    // A loaded default reads as QString::toDouble reads it; other text gives 0 and a failure.
    void realDefaultTexts()
    {
        for (const char* text : { "-12.5", "0.25", "300", "007", "-0", "-0.0", "1.", ".5", "1e3",
                 " 1", "+1", "1,5", "abc", "", "-", "0x10", "inf", "nan", "99999999999999999999.5",
                 "0.1000000000000000055511151231257827", "123456.75", "-999999.5", "2.50000000" }) {
            bool ok = false;
            const double number = QString(text).toDouble(&ok);
            DPTypeReal type;
            type._init(QString(text), 0.0, 1.0, {}, {});
            type.m_resultState = !ok;
            QCOMPARE(
                type.toJson(), substitute(realTemplate, { ok ? number : 0.0, 0.0, 1.0, 1, "" }));
            QCOMPARE(type.getResultState(), ok);
            type.m_resultState = !ok;
            const double read = type.getDefaultNumber();
            QVERIFY(type.getResultState() == ok
                && (ok ? read == number || std::isnan(number) : std::isnan(read)));
        }
    }

    // A probe shares a record's names: once the record is deleted it holds the only reference.
    void eventRecordsReleasedOnce()
    {
        E::AssociatedVariable* records[] = { av("k", false), av("d", false), av("n", true) };
        const QString probes[] = { records[0]->names, records[1]->names, records[2]->names };
        auto released = [&] {
            QString flags;
            for (const QString& probe : probes)
                flags += probe.isDetached() ? '1' : '0';
            return flags;
        };
        {
            E type;
            type._init(1, {}, {}, E::Alarm, false, E::AckManual, E::ResetManual,
                { { "k", records[0] }, { "d", records[1] }, { "k2", records[0] } });
            type._init(2, {}, {}, E::Fault, false, E::AckManual, E::ResetManual,
                { { "k2", records[0] }, { "n", records[2] } });
            QCOMPARE(released(), "010");
            type._init(2, {}, {}, E::Fault, false, E::AckManual, E::ResetManual,
                type.m_associatedVariables); // the same
            QCOMPARE(released() + type.m_associatedVariables.keys().join(""), "010k2n");
        }
        QCOMPARE(released(), "111");
    }

    // The one-pass renderings against the plain rule: each text field in turn, then all at once,
    // holds place markers or percent signs (%L markers use the default locale).
    void markedTexts()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        for (const char* marked : { "", "%1", "%2", "%3", "%5", "%9", "%10", "%99", "%0", "%01",
                 "%L1", "%L4", "%L10", "%", "%%", "%%1", "100%", "x%L", "%s", "%-1", "a%1b%2c",
                 "%5%4%3%2%1", "%L%1", "%%L1", "%1%", "%\u0663", "\u00e9%1\u20ac" }) {
            for (int field = 0; field <= 3; ++field) {
                auto pick
                    = [&](int f) { return field == f || field == 3 ? QString(marked) : "Plain"; };
                DPTypeNumber number;
                number._init(5, -40, 120, "u", pick(0));
                QCOMPARE(number.toJson(), substitute(numberTemplate, { 5, -40, 120, 1, pick(0) }));
                DPTypeReal real;
                real._init("2.5", -0.5, 1e7, "u", pick(1));
                QCOMPARE(real.toJson(), substitute(realTemplate, { 2.5, -0.5, 1e7, 1, pick(1) }));
                DPTypeString string;
                string._init(pick(0), pick(1) + "\\d", pick(2), 1234567);
                const QString charSet = jsonStringEscape(pick(1) + "\\d");
                QCOMPARE(string.toJson(),
                    substitute(textTemplate, { pick(0), charSet, pick(2), 1234567 }));
            }
        }
        QLocale::setDefault(QLocale::c());
    }

    // Real bounds and defaults print as QString::arg(double, 0, 'g', -1); a converter shows
    // QString::number(y, 'f', decimals) of its arithmetic.
    void numberTexts()
    {
        const QVector<double> values = testDoubles(20000);
        for (int i = 0; i < values.size(); ++i) {
            const double value = values.at(i);
            const double other = values.at(values.size() - 1 - i);
            DPTypeReal real;
            real._init(value, value, other, {}, "l");
            QCOMPARE(real.toJson(), substitute(realTemplate, { value, value, other, 1, "l" }));
        }
        MeasurementConverter converters[2];
        for (double resolution : { 1.0, 0.1, 0.01, 0.001, 1e-4, 1e-5, 1e-6, 1e-7, 1e-9, 0.05, 0.5,
                 0.25, 5.0, 10.0, 0.0, -1.0, qQNaN() }) {
            converters[0]._init(1.0, 1.0, 0, resolution, {});
            converters[1]._init(0.1, 1.8, 32, resolution, {}); // tenths of degC in degF
            for (int i = 0; i < 8000; ++i) {
                const MeasurementConverter& c = converters[i % 2];
                QCOMPARE(c.toString(values.at(i / 2)), plainDisplay(c, values.at(i / 2)));
            }
            QCOMPARE(converters[0].toString("12.25"), plainDisplay(converters[0], 12.25));
        }
    }

    void escape()
    {
        const std::pair<std::u16string_view, const char*> rows[]
            = { { u""sv, "" }, { u"abc 123 /x~"sv, "abc 123 /x~" },
                  { u"[0-9]\\d*"sv, "[0-9]\\\\d*" }, { u"\\\""sv, "\\\\\\\"" },
                  { u"\\n"sv, "\\\\n" }, { u"a\bb\fc\nd\re\tf"sv, "a\\bb\\fc\\nd\\re\\tf" },
                  { u"\x01\x1f\x0b\x7f"sv, "\x01\x1f\x0b\x7f" },
                  { u"\x80\u00e9\u20ac\uffff"sv, "\\u0080\\u00e9\\u20ac\\uffff" },
                  { u"\U0001F600"sv, "\\ud83d\\ude00" }, { u"a\u00e9\0b\""sv, "a\\u00e9" },
                  { u"\0x"sv, "" }, { u"a\0\\\\"sv, "a" } };
        for (const auto& row : rows)
            QCOMPARE(jsonStringEscape(QString(
                         reinterpret_cast<const QChar*>(row.first.data()), int(row.first.size()))),
                QString(row.second));
    }
};

QTEST_GUILESS_MAIN(TestTypes)

#include "tst_types.moc"
