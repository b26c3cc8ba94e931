// The JSON member texts and converter texts are built in one pass instead of by successive
// QString::arg calls and QString::number. These tests hold every rendering to the texts of the
// plain rule, computed here from templates written out independently: values that carry place
// markers (which the rule substitutes again), numbers at the edges of the formats, and a
// non-C default locale.

#include <kivo/dictionary/DPointDef.h>
#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QLocale>
#include <QMultiHash>
#include <QtTest>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace kivo;

namespace {

const QString numberTemplate
    = QStringLiteral("\"type\":\"int\", \"default\":%1, \"min\":%2, \"max\":%3, "
                     "\"resolution\":%4, \"unitsLabel\":\"%5\"");
const QString realTemplate
    = QStringLiteral("\"type\":\"qreal\", \"default\":%1, \"min\":%2, \"max\":%3, "
                     "\"resolution\":%4, \"unitsLabel\":\"%5\"");
const QString enumTemplate = QStringLiteral("\"type\":\"enum\", \"default\":%1, \"values\":[%2]");
const QString enumEntryTemplate = QStringLiteral("{\"id\":%1 ,\"name\":\"%2\"}");
const QString eventTemplate
    = QStringLiteral("\"type\":\"event\", \"id\":%1, \"desc\":\"%2\", \"expl\":\"%3\", "
                     "\"etype\":%4, \"atype\":%5, \"rtype\":%6, \"avs\":%7");
const QString avTemplate = QStringLiteral("{ \"type\":\"%1\", \"id\":\"%2\", \"access\":\"%3\" }");
const QString textTemplate
    = QStringLiteral("\"type\":\"text\", \"default\":\"%1\", \"charSet\":\"%2\", "
                     "\"format\":\"%3\", \"maxLen\":%4");
const QString ipv4Template = QStringLiteral("\"type\":\"ipv4\", \"default\":\"%1\"");
const QString definitionTemplate
    = QStringLiteral("\"variableName\":\"%1\", \"externalName\":\"%2\", \"lineId\":\"%3\", "
                     "\"access\":\"%4%5\"");

// The plain rule: one QString::arg call per value, in order; texts with arg(QString), ints with
// arg(int), doubles with arg(double, 0, 'g', -1).
QString substitute(QString text, const QVariantList& values)
{
    for (const QVariant& value : values) {
        switch (value.userType()) {
        case QMetaType::Int:
            text = text.arg(value.toInt());
            break;
        case QMetaType::Double:
            text = text.arg(value.toDouble(), 0, 'g', -1);
            break;
        default:
            text = text.arg(value.toString());
            break;
        }
    }
    return text;
}

// What a converter shows for a raw value: its arithmetic, then QString::number 'f'.
QString displayText(const MeasurementConverter* converter, double raw)
{
    double y = raw * converter->getUnitScale() * converter->getScale() + converter->getOffset();
    const double exponent = std::log10(converter->m_resolution);
    int decimals = 6;
    if (std::isfinite(exponent)) {
        const int digits = static_cast<int>(exponent);
        if (digits >= 0) {
            const double r = 1.0 / converter->m_resolution;
            y = std::round(y * r) / r;
            decimals = 0;
        } else {
            decimals = -digits;
        }
    }
    return QString::number(y, 'f', decimals);
}

QString referenceEnum(const DPTypeEnum& type)
{
    QList<int> keys = type.m_values.keys();
    std::sort(keys.begin(), keys.end());
    QString entries;
    for (int key : qAsConst(keys)) {
        if (!entries.isEmpty())
            entries += QLatin1Char(',');
        entries += substitute(enumEntryTemplate, { key, type.m_values.value(key) });
    }
    return substitute(enumTemplate, { type.m_default, entries });
}

QString referenceEvent(const DPTypeEvent& type)
{
    QString avs;
    for (auto it = type.m_associatedVariables.cbegin(); it != type.m_associatedVariables.cend();
         ++it) {
        const QStringList names = it.value()->names.simplified().split(QLatin1Char(' '));
        for (const QString& name : names) {
            avs += avs.isEmpty() ? QLatin1Char('[') : QLatin1Char(',');
            avs += substitute(avTemplate,
                { it.key(), name,
                    it.value()->changeable ? QStringLiteral("W") : QStringLiteral("R") });
        }
    }
    avs = avs.isEmpty() ? QStringLiteral("[]") : avs + QLatin1Char(']');
    return substitute(eventTemplate,
        { type.m_eventId, type.m_description, type.m_explanation, int(type.m_eventType),
            int(type.m_ackType), int(type.m_resetType), avs });
}

QString referenceDefinition(const DPointDef& def, const QString& typeText)
{
    const QString members = substitute(definitionTemplate,
        { def.m_variableName, def.m_externalName, def.m_lineId,
            def.m_readable ? QStringLiteral("R") : QString(),
            def.m_writable ? QStringLiteral("W") : QString() });
    return QLatin1Char('{') + (typeText.isEmpty() ? QString() : typeText + QLatin1String(", "))
        + members + QLatin1Char('}');
}

// A registry whose unit "u" converts into the display system with the given arithmetic.
MeasurementRegistry* registryFor(
    double unitScale, double scale, int offset, double resolution, const QString& label)
{
    auto* registry = new MeasurementRegistry();
    registry->addUnits((new MeasurementUnits())->_init(QStringLiteral("u"), label, unitScale, 1.0));
    auto* conversion
        = (new MeasurementConversion(nullptr))->_init(QStringLiteral("c"), label, scale, offset);
    registry->addConversion(conversion);
    conversion->addApplicableDefs(
        QStringLiteral("u"), MeasurementRegistry::displaySystemId, resolution);
    return registry;
}

// Doubles at the edges of the 'g' and 'f' formats, then a deterministic spread of others:
// arbitrary bit patterns, exact binary halves (ties), short decimals, converter-like results.
QVector<double> testDoubles(int count)
{
    QVector<double> values = { 0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, -2.5, 0.05, 0.15, 0.25, 0.35,
        1e-5, 1e-4, 0.0001234, 123456.0, 999999.0, 1234567.0, 999999.5, 9.999995, 99999.95, 0.1,
        74.3, 5e-324, DBL_MIN, DBL_MAX, 1e21, 1e100, 1e-100, 999999999.5, 1e9, 117648.5, -0.04,
        -0.05, 0.0005, std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity() };
    std::mt19937_64 random(20240611u);
    for (int i = 0; i < count; ++i) {
        double value = 0.0;
        switch (i % 5) {
        case 0: {
            const quint64 bits = random();
            std::memcpy(&value, &bits, sizeof value);
            break;
        }
        case 1:
            value = double(qint64(random() % 4000001) - 2000000) / double(1 << (random() % 12));
            break;
        case 2:
            value = double(qint64(random() % 2000001) - 1000000)
                / std::pow(10.0, double(random() % 8));
            break;
        case 3:
            value = double(qint64(random() % 20001) - 10000) * 0.1 * 1.8 + 32;
            break;
        default:
            value = std::ldexp(double(random() % 1000000), int(random() % 80) - 60);
            break;
        }
        values.append(value);
    }
    return values;
}

} // namespace

class TestDPTypesFastPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void markedTexts_data();
    void markedTexts();
    void localizedMarker();
    void integers_data();
    void integers();
    void reals();
    void converterTexts_data();
    void converterTexts();
    void registryRendering_data();
    void registryRendering();
    void repeatedEnumKeys();
};

void TestDPTypesFastPath::cleanup()
{
    QLocale::setDefault(QLocale::c());
}

void TestDPTypesFastPath::markedTexts_data()
{
    QTest::addColumn<QString>("text");
    const char* const texts[] = { "", "plain", "%1", "%2", "%3", "%5", "%7", "%9", "%10", "%99",
        "%0", "%00", "%01", "%L1", "%L2", "%L10", "%", "%%", "%%1", "100%", "x%", "x%L", "%L", "%s",
        "%-1", "50%1off", "a%1b%2c", "%5%4%3%2%1", "%L%1", "%%L1", "%1%" };
    for (const char* text : texts)
        QTest::newRow(text[0] ? text : "empty") << QString::fromLatin1(text);
    // QString::arg takes any Unicode decimal digit as a marker digit.
    QTest::newRow("arabic-indic digit") << QStringLiteral("%\u0663");
    QTest::newRow("non-latin around marker") << QStringLiteral("\u00e9%1\u20ac");
}

// Each text field in turn, and all at once, holds the text.
void TestDPTypesFastPath::markedTexts()
{
    QFETCH(QString, text);
    const QString plain = QStringLiteral("Plain");
    for (int field = 0; field <= 4; ++field) {
        auto pick = [&](int f) { return field == f || field == 4 ? text : plain; };

        DPTypeNumber number;
        number._init(QVariant(5), -40, 120, QStringLiteral("u"), pick(0));
        QCOMPARE(number.toJson(), substitute(numberTemplate, { 5, -40, 120, 1, pick(0) }));

        DPTypeReal real;
        real._init(QStringLiteral("2.5"), -0.5, 1e7, QStringLiteral("u"), pick(0));
        QCOMPARE(real.toJson(), substitute(realTemplate, { 2.5, -0.5, 1e7, 1, pick(0) }));

        DPTypeEnum enumeration;
        enumeration._init(3, { { 2, pick(0) }, { 0, pick(1) }, { 1, pick(2) } });
        QCOMPARE(enumeration.toJson(), referenceEnum(enumeration));

        DPTypeEvent event;
        QMap<QString, DPTypeEvent::AssociatedVariable*> avs;
        avs.insert(
            pick(2), new DPTypeEvent::AssociatedVariable { pick(3) + QLatin1String("  b"), true });
        avs.insert(QStringLiteral("Z"), new DPTypeEvent::AssociatedVariable { pick(1), false });
        event._init(7, pick(0), pick(1), DPTypeEvent::Alarm, false, DPTypeEvent::AckAuto,
            DPTypeEvent::ResetManual, avs);
        QCOMPARE(event.toJson(), referenceEvent(event));

        DPTypeString string;
        string._init(pick(0), pick(1) + QLatin1String("[0-9]\\d*"), pick(2), 12);
        QCOMPARE(string.toJson(),
            substitute(textTemplate, { pick(0), jsonStringEscape(string.m_charSet), pick(2), 12 }));

        DPTypeIPv4 address;
        address._init(pick(0));
        QCOMPARE(address.toJson(), substitute(ipv4Template, { pick(0) }));

        auto* type = new DPTypeTime();
        type->_init(0, DPTypeTime::Midnight);
        DPointDef def;
        def._init(pick(0), pick(0), pick(1), pick(2), 9, type);
        type->setParent(&def);
        def.m_readable = true;
        def.m_writable = field % 2 == 0;
        QCOMPARE(def.getTypeJson(), referenceDefinition(def, type->toJson()));
    }
}

// A marker "%L4" inside a text joins the template's own %4; the rule fills both with the
// integer, the localized one in the default locale's digits and group separator.
void TestDPTypesFastPath::localizedMarker()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    DPTypeString string;
    string._init(QStringLiteral("%L4"), QStringLiteral("x"), QStringLiteral("%s"), 1234567);
    const QString expected = substitute(textTemplate,
        { QStringLiteral("%L4"), QStringLiteral("x"), QStringLiteral("%s"), 1234567 });
    QVERIFY(expected.contains(QLatin1String("1.234.567")));
    QCOMPARE(string.toJson(), expected);

    DPTypeEvent event;
    event._init(1234, QStringLiteral("%L1 %L4"), QStringLiteral("e"), DPTypeEvent::Warning, true,
        DPTypeEvent::AckNo, DPTypeEvent::ResetAuto, {});
    QCOMPARE(event.toJson(), referenceEvent(event));
}

void TestDPTypesFastPath::integers_data()
{
    QTest::addColumn<int>("value");
    const int values[] = { 0, 1, -1, 9, 10, -10, 99, 100, 32767, -32768, 65535, 1000000, INT_MAX,
        INT_MIN, INT_MIN + 1 };
    for (int value : values)
        QTest::newRow(qPrintable(QString::number(value))) << value;
}

void TestDPTypesFastPath::integers()
{
    QFETCH(int, value);
    const int other = value == INT_MIN ? INT_MAX : -value;
    DPTypeNumber number;
    number._init(QVariant(value), value, other, QString(), QStringLiteral("l"));
    QCOMPARE(number.toJson(),
        substitute(numberTemplate, { value, value, other, 1, QStringLiteral("l") }));

    DPTypeEnum enumeration;
    enumeration._init(value, { { value, QStringLiteral("a") }, { 0, QStringLiteral("b") } });
    QCOMPARE(enumeration.toJson(), referenceEnum(enumeration));

    DPTypeString string;
    string._init(QString(), QString(), QString(), value);
    QCOMPARE(string.toJson(), substitute(textTemplate, { QString(), QString(), QString(), value }));
}

// Real bounds and defaults print as QString::arg(double, 0, 'g', -1).
void TestDPTypesFastPath::reals()
{
    const QVector<double> values = testDoubles(20000);
    for (int i = 0; i < values.size(); ++i) {
        const double value = values.at(i);
        const double other = values.at(values.size() - 1 - i);
        DPTypeReal real;
        real._init(QVariant(value), value, other, QString(), QStringLiteral("l"));
        const QString expected
            = substitute(realTemplate, { value, value, other, 1, QStringLiteral("l") });
        if (real.toJson() != expected) {
            QFAIL(qPrintable(QStringLiteral("%1: %2 instead of %3")
                                 .arg(value, 0, 'g', 17)
                                 .arg(real.toJson(), expected)));
        }
    }
}

void TestDPTypesFastPath::converterTexts_data()
{
    QTest::addColumn<double>("resolution");
    const double resolutions[] = { 1.0, 0.1, 0.01, 0.001, 1e-4, 1e-5, 1e-6, 1e-7, 1e-9, 0.05, 0.5,
        0.25, 5.0, 10.0, 0.0, -1.0, std::numeric_limits<double>::quiet_NaN() };
    for (double resolution : resolutions)
        QTest::newRow(qPrintable(QString::number(resolution))) << resolution;
}

// A converter shows QString::number(y, 'f', decimals) of its arithmetic.
void TestDPTypesFastPath::converterTexts()
{
    QFETCH(double, resolution);
    MeasurementConverter identity;
    identity._init(1.0, 1.0, 0, resolution, QString());
    MeasurementConverter fahrenheit;
    fahrenheit._init(0.1, 1.8, 32, resolution, QString());
    const QVector<double> values = testDoubles(4000);
    for (double value : values) {
        for (const MeasurementConverter* converter : { &identity, &fahrenheit }) {
            const QString text = converter->toString(QVariant(value));
            const QString expected = displayText(converter, value);
            if (text != expected) {
                QFAIL(qPrintable(QStringLiteral("%1: %2 instead of %3")
                                     .arg(value, 0, 'g', 17)
                                     .arg(text, expected)));
            }
        }
    }
    QCOMPARE(identity.toString(QVariant(QStringLiteral("12.25"))), displayText(&identity, 12.25));
}

void TestDPTypesFastPath::registryRendering_data()
{
    QTest::addColumn<double>("unitScale");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("offset");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<QString>("label");
    QTest::newRow("degF tenths") << 0.1 << 1.8 << 32 << 0.1 << QStringLiteral("\u00b0F");
    QTest::newRow("psi") << 0.01 << 14.5038 << 0 << 0.1 << QStringLiteral("psi");
    QTest::newRow("whole") << 1.0 << 1.0 << 0 << 1.0 << QStringLiteral("%");
    QTest::newRow("snapped to fives") << 1.0 << 1.0 << 0 << 5.0 << QStringLiteral("%1");
    QTest::newRow("no resolution") << 0.1 << 1.0 << 0 << 0.0 << QStringLiteral("%L1 %2");
    QTest::newRow("fine") << 1e-3 << 3.41214 << -7 << 1e-5 << QStringLiteral("kBtu/h");
}

// An integer type with a registry renders its bounds as the converter shows them.
void TestDPTypesFastPath::registryRendering()
{
    QFETCH(double, unitScale);
    QFETCH(double, scale);
    QFETCH(int, offset);
    QFETCH(double, resolution);
    QFETCH(QString, label);
    QScopedPointer<MeasurementRegistry> registry(
        registryFor(unitScale, scale, offset, resolution, label));
    const MeasurementConverter* converter = registry->getConverter(QStringLiteral("u"));
    const int bounds[] = { 0, 1, -1, 235, -400, 1200, 32767, -32768, 65535, INT_MAX, INT_MIN };
    for (int min : bounds) {
        for (int max : bounds) {
            // The default stays raw.
            const int raw = max / 2;
            DPTypeNumber number;
            number._init(QVariant(raw), min, max, QStringLiteral("u"), QStringLiteral("raw"));
            QCOMPARE(number.toJson(registry.data()),
                substitute(numberTemplate,
                    { raw, displayText(converter, min), displayText(converter, max),
                        converter->m_resolution, converter->m_label }));
        }
    }
}

// A label table holding several labels under one key renders value(key) once per occurrence.
void TestDPTypesFastPath::repeatedEnumKeys()
{
    QMultiHash<int, QString> labels;
    labels.insert(1, QStringLiteral("first"));
    labels.insert(1, QStringLiteral("second"));
    labels.insert(0, QStringLiteral("zero"));
    labels.insert(2, QStringLiteral("two"));
    labels.insert(2, QStringLiteral("%1"));
    DPTypeEnum enumeration;
    enumeration.m_values = labels;
    enumeration.m_default = 1;
    QCOMPARE(enumeration.toJson(), referenceEnum(enumeration));
}

QTEST_GUILESS_MAIN(TestDPTypesFastPath)

#include "tst_dptypes_fastpath.moc"
