#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <atomic>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

using namespace kivo;

namespace {

using AvMap = QMap<QString, DPTypeEvent::AssociatedVariable*>;

DPTypeEvent::AssociatedVariable* av(const QString& names, bool changeable)
{
    auto* record = new DPTypeEvent::AssociatedVariable;
    // A heap copy, so that probes can share it (literal data is static and never shared).
    record->names = QString(names.constData(), names.size());
    record->changeable = changeable;
    return record;
}

// Shares the names text of a record: once the record is destroyed the probe holds the only
// reference, so its text is detached. A second deletion of the record is a double free, which
// the allocator (or a memory checker) reports.
class RecordProbe
{
public:
    explicit RecordProbe(const DPTypeEvent::AssociatedVariable* record)
        : m_text(record->names)
    { }
    bool released() const { return m_text.isDetached(); }

private:
    QString m_text;
};

// One descriptor of each kind with ordinary content, and the texts they render.
std::vector<DPTypeBase*> sampleDescriptors(QObject* parent)
{
    return {
        (new DPTypeNumber(parent))
            ->_init(5, 0, 100, QStringLiteral("u.rpm"), QStringLiteral("rpm")),
        (new DPTypeReal(parent))
            ->_init(QStringLiteral("2.50"), -0.5, 1234567.0, QString(), QStringLiteral("bar")),
        (new DPTypeEnum(parent))
            ->_init(1,
                { { 2, QStringLiteral("High") }, { 0, QStringLiteral("Off") },
                    { 1, QStringLiteral("Low") } }),
        (new DPTypeEvent(parent))
            ->_init(4711, QStringLiteral("Pump overload"), QStringLiteral("Check the pump"),
                DPTypeEvent::Alarm, true, DPTypeEvent::AckAuto, DPTypeEvent::ResetAuto,
                { { QStringLiteral("Pump"), av(QStringLiteral("  P1   P2\tP3 "), false) },
                    { QStringLiteral("Alarm"), av(QStringLiteral("A1"), true) } }),
        (new DPTypeString(parent))
            ->_init(QStringLiteral("42"), QStringLiteral("[0-9]\\d*"), QStringLiteral("###"), 16),
        (new DPTypeIPv4(parent))->_init(QStringLiteral("192.168.1.10")),
        (new DPTypeTime(parent))->_init(1234, DPTypeTime::Midnight),
    };
}

QStringList sampleTexts()
{
    return {
        QStringLiteral("\"type\":\"int\", \"default\":5, \"min\":0, \"max\":100, "
                       "\"resolution\":1, \"unitsLabel\":\"rpm\""),
        QStringLiteral("\"type\":\"qreal\", \"default\":2.5, \"min\":-0.5, \"max\":1.23457e+06, "
                       "\"resolution\":1, \"unitsLabel\":\"bar\""),
        QStringLiteral("\"type\":\"enum\", \"default\":1, \"values\":[{\"id\":0 ,\"name\":\"Off\"},"
                       "{\"id\":1 ,\"name\":\"Low\"},{\"id\":2 ,\"name\":\"High\"}]"),
        QStringLiteral("\"type\":\"event\", \"id\":4711, \"desc\":\"Pump overload\", "
                       "\"expl\":\"Check the pump\", \"etype\":2, \"atype\":1, \"rtype\":1, "
                       "\"avs\":[{ \"type\":\"Alarm\", \"id\":\"A1\", \"access\":\"W\" },"
                       "{ \"type\":\"Pump\", \"id\":\"P1\", \"access\":\"R\" },"
                       "{ \"type\":\"Pump\", \"id\":\"P2\", \"access\":\"R\" },"
                       "{ \"type\":\"Pump\", \"id\":\"P3\", \"access\":\"R\" }]"),
        QStringLiteral("\"type\":\"text\", \"default\":\"42\", \"charSet\":\"[0-9]\\\\d*\", "
                       "\"format\":\"###\", \"maxLen\":16"),
        QStringLiteral("\"type\":\"ipv4\", \"default\":\"192.168.1.10\""),
        QStringLiteral("\"type\":\"time\", \"epoch\":5"),
    };
}

QStringList renderAll(const std::vector<DPTypeBase*>& descriptors)
{
    QStringList texts;
    for (const DPTypeBase* descriptor : descriptors)
        texts << descriptor->toJson();
    return texts;
}

QString typeTag(const DPTypeBase* descriptor)
{
    if (qobject_cast<const DPTypeNumber*>(descriptor))
        return QStringLiteral("int");
    if (qobject_cast<const DPTypeReal*>(descriptor))
        return QStringLiteral("qreal");
    if (qobject_cast<const DPTypeEnum*>(descriptor))
        return QStringLiteral("enum");
    if (qobject_cast<const DPTypeEvent*>(descriptor))
        return QStringLiteral("event");
    if (qobject_cast<const DPTypeString*>(descriptor))
        return QStringLiteral("text");
    if (qobject_cast<const DPTypeIPv4*>(descriptor))
        return QStringLiteral("ipv4");
    if (qobject_cast<const DPTypeTime*>(descriptor))
        return QStringLiteral("time");
    return QString();
}

// The member text must make a JSON object once wrapped in braces, typed by its tag.
void verifyParses(const QString& members, const QString& tag)
{
    QJsonParseError error;
    const QJsonDocument document
        = QJsonDocument::fromJson((QLatin1Char('{') + members + QLatin1Char('}')).toUtf8(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QVERIFY(document.isObject());
    QCOMPARE(document.object().value(QStringLiteral("type")).toString(), tag);
}

} // namespace

class TestDPTypes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Must stay the first test: it needs the templates still unbuilt.
    void concurrentFirstRendering();

    void toJson_data();
    void toJson();
    void toJsonWithRegistry_data();
    void toJsonWithRegistry();
    void realResultState_data();
    void realResultState();
    void defaultValue_data();
    void defaultValue();
    void textCharSetReadsBack();
    void eventDestructorReleasesRecordsOnce();
    void eventInitReplacesRecords();
    void eventInitWithSameRecords();

    void cleanupTestCase();

private:
    MeasurementRegistry* registry();

    QObject m_pool;
    MeasurementRegistry* m_registry = nullptr;
};

void TestDPTypes::concurrentFirstRendering()
{
    constexpr int threadCount = 4;
    constexpr int rounds = 200;
    std::atomic<int> ready { 0 };
    std::atomic<bool> go { false };
    std::vector<QStringList> firstTexts(threadCount);
    std::vector<int> mismatches(threadCount, 0);

    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            QObject owner;
            const std::vector<DPTypeBase*> descriptors = sampleDescriptors(&owner);
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            firstTexts[t] = renderAll(descriptors);
            for (int round = 1; round < rounds; ++round) {
                if (renderAll(descriptors) != firstTexts[t])
                    ++mismatches[t];
            }
        });
    }
    while (ready.load() < threadCount)
        std::this_thread::yield();
    go = true;
    for (std::thread& thread : threads)
        thread.join();

    const QStringList expected = sampleTexts();
    for (int t = 0; t < threadCount; ++t) {
        QCOMPARE(firstTexts[t], expected);
        QCOMPARE(mismatches[t], 0);
    }
}

void TestDPTypes::toJson_data()
{
    QTest::addColumn<DPTypeBase*>("descriptor");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("jsonSafe");

    QObject* p = &m_pool;
    const std::vector<DPTypeBase*> samples = sampleDescriptors(p);
    const QStringList sampleJson = sampleTexts();
    for (size_t i = 0; i < samples.size(); ++i) {
        QTest::addRow("sample %s", qPrintable(typeTag(samples[i])))
            << samples[i] << sampleJson.at(static_cast<int>(i)) << true;
    }

    // Integer
    QTest::newRow("int fresh") << static_cast<DPTypeBase*>(new DPTypeNumber(p))
                               << QStringLiteral("\"type\":\"int\", \"default\":0, \"min\":0, "
                                                 "\"max\":0, \"resolution\":1, \"unitsLabel\":\"\"")
                               << true;
    QTest::newRow("int extremes, text default")
        << static_cast<DPTypeBase*>(
               (new DPTypeNumber(p))
                   ->_init(QStringLiteral("-42"), INT_MIN, INT_MAX, QStringLiteral("u.temp"),
                       QString::fromUtf8("\xc2\xb0"
                                         "C")))
        << QString::fromUtf8("\"type\":\"int\", \"default\":-42, \"min\":-2147483648, "
                             "\"max\":2147483647, \"resolution\":1, \"unitsLabel\":\"\xc2\xb0"
                             "C\"")
        << true;
    QTest::newRow("int default not a number")
        << static_cast<DPTypeBase*>(
               (new DPTypeNumber(p))->_init(QStringLiteral("abc"), -1, 1, QString(), QString()))
        << QStringLiteral("\"type\":\"int\", \"default\":0, \"min\":-1, \"max\":1, "
                          "\"resolution\":1, \"unitsLabel\":\"\"")
        << true;
    QTest::newRow("int label with markers")
        << static_cast<DPTypeBase*>(
               (new DPTypeNumber(p))->_init(7, 1, 9, QString(), QStringLiteral("%1 per %2")))
        << QStringLiteral("\"type\":\"int\", \"default\":7, \"min\":1, \"max\":9, "
                          "\"resolution\":1, \"unitsLabel\":\"%1 per %2\"")
        << true;

    // Real
    QTest::newRow("real fresh") << static_cast<DPTypeBase*>(new DPTypeReal(p))
                                << QStringLiteral("\"type\":\"qreal\", \"default\":0, \"min\":nan, "
                                                  "\"max\":nan, \"resolution\":1, "
                                                  "\"unitsLabel\":\"\"")
                                << false;
    QTest::newRow("real exponent notation")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))->_init(1234567.0, 1e6, 999999.0, QString(), QStringLiteral("l")))
        << QStringLiteral("\"type\":\"qreal\", \"default\":1.23457e+06, \"min\":1e+06, "
                          "\"max\":999999, \"resolution\":1, \"unitsLabel\":\"l\"")
        << true;
    QTest::newRow("real small and trailing zeros")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))
                   ->_init(QStringLiteral("2.0"), 0.0001, 0.00001, QString(), QString()))
        << QStringLiteral("\"type\":\"qreal\", \"default\":2, \"min\":0.0001, \"max\":1e-05, "
                          "\"resolution\":1, \"unitsLabel\":\"\"")
        << true;
    QTest::newRow("real six significant digits")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))->_init(123456.7, 0.1, -3.14159265, QString(), QString()))
        << QStringLiteral("\"type\":\"qreal\", \"default\":123457, \"min\":0.1, "
                          "\"max\":-3.14159, \"resolution\":1, \"unitsLabel\":\"\"")
        << true;
    QTest::newRow("real infinite bounds")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))->_init(QVariant(), -qInf(), qInf(), QString(), QString()))
        << QStringLiteral("\"type\":\"qreal\", \"default\":0, \"min\":-inf, \"max\":inf, "
                          "\"resolution\":1, \"unitsLabel\":\"\"")
        << false;
    QTest::newRow("real default not a number")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))->_init(QStringLiteral("abc"), 1.5, 2.5, QString(), QString()))
        << QStringLiteral("\"type\":\"qreal\", \"default\":0, \"min\":1.5, \"max\":2.5, "
                          "\"resolution\":1, \"unitsLabel\":\"\"")
        << true;
    QTest::newRow("real label with marker")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))->_init(1, 0, 10, QString(), QStringLiteral("%1")))
        << QStringLiteral("\"type\":\"qreal\", \"default\":1, \"min\":0, \"max\":10, "
                          "\"resolution\":1, \"unitsLabel\":\"%1\"")
        << true;

    // Enumeration
    QTest::newRow("enum fresh") << static_cast<DPTypeBase*>(new DPTypeEnum(p))
                                << QStringLiteral("\"type\":\"enum\", \"default\":0, \"values\":[]")
                                << true;
    QTest::newRow("enum keys sorted numerically")
        << static_cast<DPTypeBase*>(
               (new DPTypeEnum(p))
                   ->_init(-3,
                       { { 10, QStringLiteral("ten") }, { 9, QStringLiteral("nine") },
                           { -3, QStringLiteral("minus three") }, { 100, QStringLiteral("") } }))
        << QStringLiteral("\"type\":\"enum\", \"default\":-3, \"values\":[{\"id\":-3 ,\"name\":"
                          "\"minus three\"},{\"id\":9 ,\"name\":\"nine\"},{\"id\":10 ,\"name\":"
                          "\"ten\"},{\"id\":100 ,\"name\":\"\"}]")
        << true;
    QTest::newRow("enum labels with markers")
        << static_cast<DPTypeBase*>(
               (new DPTypeEnum(p))
                   ->_init(7, { { 1, QStringLiteral("%1 done") }, { 2, QStringLiteral("50%2") } }))
        << QStringLiteral("\"type\":\"enum\", \"default\":7, \"values\":[{\"id\":1 ,\"name\":"
                          "\"%1 done\"},{\"id\":2 ,\"name\":\"50%2\"}]")
        << true;

    // Event
    QTest::newRow("event fresh") << static_cast<DPTypeBase*>(new DPTypeEvent(p))
                                 << QStringLiteral("\"type\":\"event\", \"id\":0, \"desc\":\"\", "
                                                   "\"expl\":\"\", \"etype\":0, \"atype\":0, "
                                                   "\"rtype\":0, \"avs\":[]")
                                 << true;
    QTest::newRow("event empty and blank names")
        << static_cast<DPTypeBase*>(
               (new DPTypeEvent(p))
                   ->_init(-1, QStringLiteral("d"), QStringLiteral("e"), DPTypeEvent::Fault, false,
                       DPTypeEvent::AckNo, DPTypeEvent::ResetManual,
                       { { QStringLiteral("t"), av(QString(), true) },
                           { QStringLiteral("u"), av(QStringLiteral(" \t\n "), false) } }))
        << QStringLiteral("\"type\":\"event\", \"id\":-1, \"desc\":\"d\", \"expl\":\"e\", "
                          "\"etype\":3, \"atype\":2, \"rtype\":0, "
                          "\"avs\":[{ \"type\":\"t\", \"id\":\"\", \"access\":\"W\" },"
                          "{ \"type\":\"u\", \"id\":\"\", \"access\":\"R\" }]")
        << true;
    QTest::newRow("event keys ordered by code units")
        << static_cast<DPTypeBase*>(
               (new DPTypeEvent(p))
                   ->_init(1, QString(), QString(), DPTypeEvent::Warning, false,
                       DPTypeEvent::AckManual, DPTypeEvent::ResetAuto,
                       { { QStringLiteral("b"), av(QStringLiteral("x1"), false) },
                           { QStringLiteral("a"), av(QStringLiteral("x2 x3"), true) },
                           { QStringLiteral("B"), av(QStringLiteral("x4"), false) } }))
        << QStringLiteral("\"type\":\"event\", \"id\":1, \"desc\":\"\", \"expl\":\"\", "
                          "\"etype\":1, \"atype\":0, \"rtype\":1, "
                          "\"avs\":[{ \"type\":\"B\", \"id\":\"x4\", \"access\":\"R\" },"
                          "{ \"type\":\"a\", \"id\":\"x2\", \"access\":\"W\" },"
                          "{ \"type\":\"a\", \"id\":\"x3\", \"access\":\"W\" },"
                          "{ \"type\":\"b\", \"id\":\"x1\", \"access\":\"R\" }]")
        << true;
    QTest::newRow("event description naming a later marker")
        << static_cast<DPTypeBase*>(
               (new DPTypeEvent(p))
                   ->_init(2, QStringLiteral("load %3"), QStringLiteral("X"), DPTypeEvent::Warning,
                       false, DPTypeEvent::AckNo, DPTypeEvent::ResetManual, {}))
        << QStringLiteral("\"type\":\"event\", \"id\":2, \"desc\":\"load X\", \"expl\":\"X\", "
                          "\"etype\":1, \"atype\":2, \"rtype\":0, \"avs\":[]")
        << true;
    // "%1" in the description takes the next value, so every later value moves one member on.
    QTest::newRow("event description holding the first marker")
        << static_cast<DPTypeBase*>(
               (new DPTypeEvent(p))
                   ->_init(1, QStringLiteral("%1 left"), QStringLiteral("E"), DPTypeEvent::Fault,
                       false, DPTypeEvent::AckAuto, DPTypeEvent::ResetAuto, {}))
        << QStringLiteral("\"type\":\"event\", \"id\":1, \"desc\":\"E left\", \"expl\":\"3\", "
                          "\"etype\":1, \"atype\":1, \"rtype\":[], \"avs\":%7")
        << false;
    QTest::newRow("event variable type holding a marker")
        << static_cast<DPTypeBase*>(
               (new DPTypeEvent(p))
                   ->_init(3, QString(), QString(), DPTypeEvent::Message, false,
                       DPTypeEvent::AckManual, DPTypeEvent::ResetManual,
                       { { QStringLiteral("%3x"), av(QStringLiteral("n"), false) } }))
        << QStringLiteral("\"type\":\"event\", \"id\":3, \"desc\":\"\", \"expl\":\"\", "
                          "\"etype\":0, \"atype\":0, \"rtype\":0, "
                          "\"avs\":[{ \"type\":\"Rx\", \"id\":\"n\", \"access\":\"R\" }]")
        << true;

    // Text
    QTest::newRow("text fresh") << static_cast<DPTypeBase*>(new DPTypeString(p))
                                << QStringLiteral("\"type\":\"text\", \"default\":\"\", "
                                                  "\"charSet\":\"\", \"format\":\"\", \"maxLen\":0")
                                << true;
    QTest::newRow("text default backslash stays single")
        << static_cast<DPTypeBase*>((new DPTypeString(p))
                                        ->_init(QStringLiteral("C:\\temp"), QStringLiteral("\\w"),
                                            QStringLiteral("a\\b"), -1))
        << QStringLiteral("\"type\":\"text\", \"default\":\"C:\\temp\", \"charSet\":\"\\\\w\", "
                          "\"format\":\"a\\b\", \"maxLen\":-1")
        << false;
    QTest::newRow("text charSet quote and non-ascii")
        << static_cast<DPTypeBase*>(
               (new DPTypeString(p))
                   ->_init(QString::fromUtf8("caf\xc3\xa9"),
                       QString::fromUtf8("[\"\xc3\xa9\xe2\x82\xac]"), QString(), 4))
        << QString::fromUtf8("\"type\":\"text\", \"default\":\"caf\xc3\xa9\", "
                             "\"charSet\":\"[\\\"\\u00e9\\u20ac]\", \"format\":\"\", \"maxLen\":4")
        << true;
    QTest::newRow("text fields holding markers")
        << static_cast<DPTypeBase*>(
               (new DPTypeString(p))
                   ->_init(QStringLiteral("a%2b"), QStringLiteral("x"), QStringLiteral("%4"), 7))
        << QStringLiteral("\"type\":\"text\", \"default\":\"axb\", \"charSet\":\"x\", "
                          "\"format\":\"7\", \"maxLen\":7")
        << true;

    // Address and time
    QTest::newRow("ipv4 fresh") << static_cast<DPTypeBase*>(new DPTypeIPv4(p))
                                << QStringLiteral("\"type\":\"ipv4\", \"default\":\"\"") << true;
    QTest::newRow("time fresh") << static_cast<DPTypeBase*>(new DPTypeTime(p))
                                << QStringLiteral("\"type\":\"time\", \"epoch\":0") << true;
    QTest::newRow("time GMT epoch")
        << static_cast<DPTypeBase*>((new DPTypeTime(p))->_init(-7, DPTypeTime::Jan_01_1970_GMT))
        << QStringLiteral("\"type\":\"time\", \"epoch\":6") << true;
}

void TestDPTypes::toJson()
{
    QFETCH(DPTypeBase*, descriptor);
    QFETCH(QString, expected);
    QFETCH(bool, jsonSafe);

    const QString text = descriptor->toJson();
    QCOMPARE(text, expected);
    QCOMPARE(descriptor->toJson(), text);
    if (jsonSafe)
        verifyParses(text, typeTag(descriptor));
}

MeasurementRegistry* TestDPTypes::registry()
{
    if (m_registry)
        return m_registry;
    m_registry = new MeasurementRegistry(&m_pool);
    m_registry->addSystem(MeasurementRegistry::displaySystemId, QStringLiteral("US"));

    // Tenths of a degree Celsius shown in Fahrenheit at 0.1.
    m_registry->addUnits(
        (new MeasurementUnits)->_init(QStringLiteral("u.temp"), QStringLiteral("degC"), 0.1, 1.0));
    auto* fahrenheit = (new MeasurementConversion)
                           ->_init(QStringLiteral("c.degF"), QStringLiteral("degF"), 1.8, 32);
    m_registry->addConversion(fahrenheit);
    fahrenheit->addApplicableDefs(
        QStringLiteral("u.temp"), MeasurementRegistry::displaySystemId, 0.1);

    // Litres shown in gallons, snapped to multiples of 5.
    m_registry->addUnits(
        (new MeasurementUnits)->_init(QStringLiteral("u.flow"), QStringLiteral("l/h"), 1.0, 1.0));
    auto* gallons = (new MeasurementConversion)
                        ->_init(QStringLiteral("c.gal"), QStringLiteral("gal/h"), 2.3, 0);
    m_registry->addConversion(gallons);
    gallons->addApplicableDefs(QStringLiteral("u.flow"), MeasurementRegistry::displaySystemId, 5);

    // A resolution that needs exponent notation; it snaps to multiples of 1234567.
    auto* coarse = (new MeasurementConversion)
                       ->_init(QStringLiteral("c.coarse"), QStringLiteral("big"), 1.0, 0);
    m_registry->addConversion(coarse);
    coarse->addApplicableDefs(
        QStringLiteral("u.coarse"), MeasurementRegistry::displaySystemId, 1234567.0);
    return m_registry;
}

void TestDPTypes::toJsonWithRegistry_data()
{
    QTest::addColumn<DPTypeBase*>("descriptor");
    QTest::addColumn<QString>("expected");

    QObject* p = &m_pool;
    QTest::newRow("int scaled to one decimal")
        << static_cast<DPTypeBase*>(
               (new DPTypeNumber(p))
                   ->_init(235, -400, 1000, QStringLiteral("u.temp"), QStringLiteral("raw label")))
        << QStringLiteral("\"type\":\"int\", \"default\":235, \"min\":-40.0, \"max\":212.0, "
                          "\"resolution\":0.1, \"unitsLabel\":\"degF\"");
    QTest::newRow("int snapped to resolution")
        << static_cast<DPTypeBase*>(
               (new DPTypeNumber(p))
                   ->_init(QStringLiteral("3"), 1, 10, QStringLiteral("u.flow"), QString()))
        << QStringLiteral("\"type\":\"int\", \"default\":3, \"min\":0, \"max\":25, "
                          "\"resolution\":5, \"unitsLabel\":\"gal/h\"");
    QTest::newRow("int resolution in exponent notation")
        << static_cast<DPTypeBase*>(
               (new DPTypeNumber(p))->_init(1, 0, 0, QStringLiteral("u.coarse"), QString()))
        << QStringLiteral("\"type\":\"int\", \"default\":1, \"min\":0, \"max\":0, "
                          "\"resolution\":1.23457e+06, \"unitsLabel\":\"big\"");
    QTest::newRow("int unknown unit")
        << static_cast<DPTypeBase*>((new DPTypeNumber(p))
                                        ->_init(QVariant(), -5, 7, QStringLiteral("u.none"),
                                            QStringLiteral("raw label")))
        << QStringLiteral("\"type\":\"int\", \"default\":0, \"min\":-5, \"max\":7, "
                          "\"resolution\":1, \"unitsLabel\":\"\"");
    QTest::newRow("real scaled to one decimal")
        << static_cast<DPTypeBase*>((new DPTypeReal(p))
                                        ->_init(QStringLiteral("23.5"), -400.0, 1000.0,
                                            QStringLiteral("u.temp"), QStringLiteral("raw")))
        << QStringLiteral("\"type\":\"qreal\", \"default\":23.5, \"min\":-40.0, \"max\":212.0, "
                          "\"resolution\":0.1, \"unitsLabel\":\"degF\"");
    QTest::newRow("real snapped to resolution")
        << static_cast<DPTypeBase*>(
               (new DPTypeReal(p))
                   ->_init(1234567.0, 1.0, 10.0, QStringLiteral("u.flow"), QString()))
        << QStringLiteral("\"type\":\"qreal\", \"default\":1.23457e+06, \"min\":0, \"max\":25, "
                          "\"resolution\":5, \"unitsLabel\":\"gal/h\"");
}

void TestDPTypes::toJsonWithRegistry()
{
    QFETCH(DPTypeBase*, descriptor);
    QFETCH(QString, expected);

    QString text;
    if (auto* number = qobject_cast<DPTypeNumber*>(descriptor))
        text = number->toJson(registry());
    else if (auto* real = qobject_cast<DPTypeReal*>(descriptor))
        text = real->toJson(registry());
    QCOMPARE(text, expected);
    verifyParses(text, typeTag(descriptor));
}

void TestDPTypes::realResultState_data()
{
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<double>("number");

    QTest::newRow("fresh") << QVariant() << false << qQNaN();
    QTest::newRow("text 2.5") << QVariant(QStringLiteral("2.5")) << true << 2.5;
    QTest::newRow("text not a number") << QVariant(QStringLiteral("abc")) << false << qQNaN();
    QTest::newRow("int") << QVariant(-3) << true << -3.0;
}

void TestDPTypes::realResultState()
{
    QFETCH(QVariant, defaultValue);
    QFETCH(bool, converts);
    QFETCH(double, number);

    DPTypeReal type;
    if (defaultValue.isValid())
        type._init(defaultValue, 0, 1, QString(), QString());

    // Each const call rewrites the flag, so start from the opposite state every time.
    type.m_resultState = !converts;
    type.toJson();
    QCOMPARE(type.getResultState(), converts);

    type.m_resultState = !converts;
    const double actual = type.getDefaultNumber();
    QCOMPARE(type.getResultState(), converts);
    if (converts)
        QCOMPARE(actual, number);
    else
        QVERIFY(qIsNaN(actual));
}

void TestDPTypes::defaultValue_data()
{
    QTest::addColumn<DPTypeBase*>("descriptor");
    QTest::addColumn<QVariant>("expected");

    QObject* p = &m_pool;
    auto event = [p](DPTypeEvent::EventType eventType) {
        return static_cast<DPTypeBase*>((new DPTypeEvent(p))
                                            ->_init(9, QString(), QString(), eventType, true,
                                                DPTypeEvent::AckAuto, DPTypeEvent::ResetAuto, {}));
    };

    QTest::newRow("int fresh") << static_cast<DPTypeBase*>(new DPTypeNumber(p)) << QVariant();
    QTest::newRow("int kept as loaded") << static_cast<DPTypeBase*>(
        (new DPTypeNumber(p))->_init(QStringLiteral("5"), 0, 9, QString(), QString()))
                                        << QVariant(QStringLiteral("5"));
    QTest::newRow("real fresh") << static_cast<DPTypeBase*>(new DPTypeReal(p)) << QVariant();
    QTest::newRow("real kept as loaded") << static_cast<DPTypeBase*>(
        (new DPTypeReal(p))->_init(QStringLiteral("2.50"), 0, 9, QString(), QString()))
                                         << QVariant(QStringLiteral("2.50"));
    QTest::newRow("real double") << static_cast<DPTypeBase*>(
        (new DPTypeReal(p))->_init(2.5, 0, 9, QString(), QString()))
                                 << QVariant(2.5);
    QTest::newRow("enum fresh") << static_cast<DPTypeBase*>(new DPTypeEnum(p)) << QVariant(0);
    QTest::newRow("enum key") << static_cast<DPTypeBase*>((new DPTypeEnum(p))->_init(-4, {}))
                              << QVariant(-4);
    QTest::newRow("event fresh") << static_cast<DPTypeBase*>(new DPTypeEvent(p)) << QVariant(0);
    QTest::newRow("event message") << event(DPTypeEvent::Message) << QVariant(0);
    QTest::newRow("event warning") << event(DPTypeEvent::Warning) << QVariant(8);
    QTest::newRow("event alarm") << event(DPTypeEvent::Alarm) << QVariant(16);
    QTest::newRow("event fault") << event(DPTypeEvent::Fault) << QVariant(24);
    QTest::newRow("text fresh") << static_cast<DPTypeBase*>(new DPTypeString(p))
                                << QVariant(QString());
    QTest::newRow("text") << static_cast<DPTypeBase*>(
        (new DPTypeString(p))->_init(QStringLiteral("abc"), QString(), QString(), 3))
                          << QVariant(QStringLiteral("abc"));
    QTest::newRow("ipv4 fresh") << static_cast<DPTypeBase*>(new DPTypeIPv4(p))
                                << QVariant(QString());
    QTest::newRow("ipv4") << static_cast<DPTypeBase*>(
        (new DPTypeIPv4(p))->_init(QStringLiteral("10.0.0.1")))
                          << QVariant(QStringLiteral("10.0.0.1"));
    QTest::newRow("time fresh") << static_cast<DPTypeBase*>(new DPTypeTime(p)) << QVariant(0);
    QTest::newRow("time negative")
        << static_cast<DPTypeBase*>((new DPTypeTime(p))->_init(-1, DPTypeTime::Midnight))
        << QVariant(-1);
    QTest::newRow("time largest") << static_cast<DPTypeBase*>(
        (new DPTypeTime(p))->_init(INT_MAX, DPTypeTime::SysUpTime))
                                  << QVariant(INT_MAX);
}

void TestDPTypes::defaultValue()
{
    QFETCH(DPTypeBase*, descriptor);
    QFETCH(QVariant, expected);

    const QVariant actual = descriptor->getDefaultValue();
    QCOMPARE(actual.isValid(), expected.isValid());
    QCOMPARE(actual.userType(), expected.userType());
    QCOMPARE(actual, expected);
}

void TestDPTypes::textCharSetReadsBack()
{
    const QString pattern = QStringLiteral("^[\\w.-]+@\\S+ \"q\" \\\\ / $");
    DPTypeString type;
    type._init(QStringLiteral("x"), pattern, QStringLiteral("f"), 10);
    const QByteArray json = (QLatin1Char('{') + type.toJson() + QLatin1Char('}')).toUtf8();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.object().value(QStringLiteral("charSet")).toString(), pattern);
}

void TestDPTypes::eventDestructorReleasesRecordsOnce()
{
    auto* first = av(QStringLiteral("a b"), true);
    auto* second = av(QStringLiteral("c"), false);
    auto* shared = av(QStringLiteral("d"), false);
    const RecordProbe firstProbe(first);
    const RecordProbe secondProbe(second);
    const RecordProbe sharedProbe(shared);
    auto event = std::make_unique<DPTypeEvent>();
    event->_init(1, QString(), QString(), DPTypeEvent::Alarm, false, DPTypeEvent::AckManual,
        DPTypeEvent::ResetManual,
        { { QStringLiteral("x"), first }, { QStringLiteral("y"), second },
            { QStringLiteral("z1"), shared }, { QStringLiteral("z2"), shared } });
    QVERIFY(!firstProbe.released());

    event.reset();
    QVERIFY(firstProbe.released());
    QVERIFY(secondProbe.released());
    QVERIFY(sharedProbe.released());
}

void TestDPTypes::eventInitReplacesRecords()
{
    auto* kept = av(QStringLiteral("k"), false);
    auto* dropped = av(QStringLiteral("d"), false);
    auto* added = av(QStringLiteral("n"), true);
    const RecordProbe keptProbe(kept);
    const RecordProbe droppedProbe(dropped);
    const RecordProbe addedProbe(added);
    auto event = std::make_unique<DPTypeEvent>();
    event->_init(1, QString(), QString(), DPTypeEvent::Alarm, false, DPTypeEvent::AckManual,
        DPTypeEvent::ResetManual,
        { { QStringLiteral("k"), kept }, { QStringLiteral("d"), dropped } });

    event->_init(2, QString(), QString(), DPTypeEvent::Fault, false, DPTypeEvent::AckManual,
        DPTypeEvent::ResetManual,
        { { QStringLiteral("k2"), kept }, { QStringLiteral("n"), added } });
    QVERIFY(droppedProbe.released());
    QVERIFY(!keptProbe.released());
    QVERIFY(!addedProbe.released());
    QCOMPARE(event->m_associatedVariables,
        AvMap({ { QStringLiteral("k2"), kept }, { QStringLiteral("n"), added } }));
    QCOMPARE(event->toJson(),
        QStringLiteral("\"type\":\"event\", \"id\":2, \"desc\":\"\", \"expl\":\"\", "
                       "\"etype\":3, \"atype\":0, \"rtype\":0, "
                       "\"avs\":[{ \"type\":\"k2\", \"id\":\"k\", \"access\":\"R\" },"
                       "{ \"type\":\"n\", \"id\":\"n\", \"access\":\"W\" }]"));

    event.reset();
    QVERIFY(keptProbe.released());
    QVERIFY(addedProbe.released());
}

void TestDPTypes::eventInitWithSameRecords()
{
    auto* record = av(QStringLiteral("v1 v2"), true);
    const RecordProbe probe(record);
    const AvMap map { { QStringLiteral("t"), record } };
    auto event = std::make_unique<DPTypeEvent>();
    event->_init(1, QString(), QString(), DPTypeEvent::Message, false, DPTypeEvent::AckManual,
        DPTypeEvent::ResetManual, map);

    event->_init(1, QString(), QString(), DPTypeEvent::Message, false, DPTypeEvent::AckManual,
        DPTypeEvent::ResetManual, event->m_associatedVariables);
    QVERIFY(!probe.released());
    QCOMPARE(event->m_associatedVariables, map);
    QCOMPARE(event->toJson(),
        QStringLiteral("\"type\":\"event\", \"id\":1, \"desc\":\"\", \"expl\":\"\", "
                       "\"etype\":0, \"atype\":0, \"rtype\":0, "
                       "\"avs\":[{ \"type\":\"t\", \"id\":\"v1\", \"access\":\"W\" },"
                       "{ \"type\":\"t\", \"id\":\"v2\", \"access\":\"W\" }]"));

    event.reset();
    QVERIFY(probe.released());
}

void TestDPTypes::cleanupTestCase()
{
    qDeleteAll(m_pool.children());
    m_registry = nullptr;
}

QTEST_GUILESS_MAIN(TestDPTypes)

#include "tst_dptypes.moc"
