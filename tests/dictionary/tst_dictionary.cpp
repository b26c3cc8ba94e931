// Point definitions with their JSON text, and the dictionary that files them by exact name.

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/dictionary/DictRef.h>
#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QPointer>
#include <QtTest>

#include <memory>
#include <vector>

using namespace kivo;

namespace {

DPointDef* makeDef(const QString& name, const QString& externalName = QString())
{
    return (new DPointDef)->_init(name, name, externalName, QString(), 0, nullptr);
}

} // namespace

class TstDictionary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void typeJson_data();
    void typeJson();
    void filing();
    void concurrentLookupsWhileFilling();
};

void TstDictionary::typeJson_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("registry");
    QTest::addColumn<int>("access"); // 1: readable, 2: writable
    QTest::addColumn<QString>("json");

    // Values go in unescaped; the variable name, not the look-up name, is rendered.
    const QString tail = "\"variableName\":\"say \"hi\"\", \"externalName\":\"back\\slash\", "
                         "\"lineId\":\"L1\", \"access\":\"%1\"}";
    QTest::newRow("no type") << "" << true << 0 << '{' + tail.arg("");
    QTest::newRow("writable") << "" << false << 2 << '{' + tail.arg("W");
    QTest::newRow("both") << "" << false << 3 << '{' + tail.arg("RW");
    QTest::newRow("int") << "int" << false << 1
                         << "{\"type\":\"int\", \"default\":215, \"min\":0, \"max\":1000, "
                            "\"resolution\":1, \"unitsLabel\":\"0.1 degC\", "
            + tail.arg("R");
    // Integer bounds and resolution in display units (0..100 degC is 32..212 degF).
    QTest::newRow("int, registry") << "int" << true << 1
                                   << "{\"type\":\"int\", \"default\":215, \"min\":32.0, "
                                      "\"max\":212.0, \"resolution\":0.1, \"unitsLabel\":\"degF\", "
            + tail.arg("R");
    QTest::newRow("real, registry") << "real" << true << 0
                                    << "{\"type\":\"qreal\", \"default\":21.5, \"min\":0, "
                                       "\"max\":100, \"resolution\":1, \"unitsLabel\":\"C\", "
            + tail.arg("");
}

void TstDictionary::typeJson()
{
    QFETCH(QString, type);
    QFETCH(bool, registry);
    QFETCH(int, access);
    QFETCH(QString, json);

    MeasurementRegistry units;
    units.addUnits((new MeasurementUnits)->_init("degC_x10", "0.1 degC", 0.1, 0.1));
    auto* conversion = (new MeasurementConversion)->_init("conv.degC.degF", "degF", 1.8, 32);
    units.addConversion(conversion);
    conversion->addApplicableDefs("degC_x10", MeasurementRegistry::displaySystemId, 0.1);
    DPointDef def;
    DPTypeBase* descriptor = nullptr;
    if (type == QLatin1String("int"))
        descriptor = (new DPTypeNumber(&def))->_init(215, 0, 1000, "degC_x10", "0.1 degC");
    if (type == QLatin1String("real"))
        descriptor = (new DPTypeReal(&def))->_init(QStringLiteral("21.5"), 0, 100, "degC_x10", "C");
    QCOMPARE(def._init("lookup", "say \"hi\"", "back\\slash", "L1", 7, descriptor), &def);
    def.m_readable = access & 1;
    def.m_writable = access & 2;
    def.m_registry = registry ? &units : nullptr;
    QCOMPARE(def.getTypeJson(), json);
}

void TstDictionary::filing()
{
    auto* dictionary = new DPointDictionary;
    QSignalSpy inventory(dictionary, &Namespaceable::namespaceInventoryChanged);
    QPointer<DPointDef> first = makeDef("Temp", "first");
    QPointer<DPointDef> second = makeDef("Temp", "second");
    for (DPointDef* def : { makeDef("b"), first.data(), makeDef("a"), second.data(), makeDef("C") })
        dictionary->addDef(def);
    dictionary->addDef(nullptr);
    QStringList names;
    for (const DPointDef* def : dictionary->getAllDefs())
        names << def->objectName() + def->m_externalName;
    QCOMPARE(names, QStringList({ "C", "Tempsecond", "a", "b" })); // by UTF-16 code units
    QCOMPARE(dictionary->getNamespaceNames(), QStringList({ "b", "Temp", "a", "Temp", "C" }));
    QCOMPARE(first->parent(), dictionary);
    QVERIFY(!dictionary->getDPointDefByName("temp"));
    QVERIFY(!dictionary->getNamespaceItem("C")); // namespace look-ups lowercase the request
    QCOMPARE(dictionary->removeDef("temp"), 0);
    QCOMPARE(dictionary->removeDef("Temp"), 1);
    QCOMPARE(dictionary->removeDef("Temp"), 0);
    QVERIFY(!dictionary->getDPointDefByName("Temp"));
    QCOMPARE(second->parent(), dictionary); // unfiled, still a child
    QCOMPARE(dictionary->getNamespaceSize(), 5);
    QCOMPARE(inventory.count(), 0);
    {
        DictRef plain;
        QCOMPARE(plain.assign(dictionary).m_dict, dictionary);
        const QVariant handle = QVariant::fromValue(DictRefSP(new DictRef(dictionary)));
        QCOMPARE(handle.value<DictRefSP>()->m_dict, dictionary);
    } // a handle never deletes its dictionary
    QVERIFY(!second.isNull());
    delete dictionary;
    QVERIFY(first.isNull() && second.isNull());
}

void TstDictionary::concurrentLookupsWhileFilling()
{
    // Definitions are adopted on the dictionary's thread while other threads look them up.
    constexpr int defCount = 2000;
    DPointDictionary dictionary;
    QAtomicInt wrongHits;
    QAtomicInt stop;
    std::vector<std::unique_ptr<QThread>> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back(QThread::create([&dictionary, &wrongHits, &stop, r] {
            while (!stop.loadAcquire()) {
                for (int i = r; i < defCount; i += 7) {
                    const QString name = QStringLiteral("p%1").arg(i);
                    const DPointDef* def = dictionary.getDPointDefByName(name);
                    wrongHits += def && def->objectName() != name ? 1 : 0;
                }
                const QList<DPointDef*> all = dictionary.getAllDefs();
                for (int i = 1; i < all.size(); ++i)
                    wrongHits += all.at(i - 1)->objectName() < all.at(i)->objectName() ? 0 : 1;
            }
        }));
        readers.back()->start();
    }
    for (int i = 0; i < defCount; ++i)
        dictionary.addDef(makeDef(QStringLiteral("p%1").arg(i)));
    stop.storeRelease(1);
    for (auto& reader : readers)
        QVERIFY(reader->wait(30000));
    QCOMPARE(wrongHits.loadAcquire(), 0);
    QCOMPARE(dictionary.getAllDefs().size(), defCount);
}

QTEST_GUILESS_MAIN(TstDictionary)
#include "tst_dictionary.moc"
