// Point definitions with their JSON text, and the dictionary that files them by exact name.

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/dictionary/DictRef.h>

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
    void typeJson();
    void filing_data();
    void filing();
    void concurrentLookupsWhileFilling();
};

// The variable name, not the look-up name, is rendered; values go in unescaped. (The loader's
// tests render every type, with and without registry.)
void TstDictionary::typeJson()
{
    DPointDef def;
    QCOMPARE(def._init("lookup", "say \"hi\"", "back\\slash", "L1", 7, nullptr), &def);
    def.m_writable = true;
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"variableName\":\"say \"hi\"\", \"externalName\":\"back\\slash\", "
                       "\"lineId\":\"L1\", \"access\":\"W\"}"));
}

// One at a time, all at once, or all at once after the first.
void TstDictionary::filing_data()
{
    QTest::addColumn<int>("singly");
    QTest::newRow("addDef") << 11;
    QTest::newRow("addDefs") << 0;
    QTest::newRow("addDef, then addDefs") << 1;
}

void TstDictionary::filing()
{
    QFETCH(int, singly);
    auto* dictionary = new DPointDictionary;
    QSignalSpy inventory(dictionary, &Namespaceable::namespaceInventoryChanged);
    QPointer<DPointDef> first = makeDef("Temp", "first");
    QPointer<DPointDef> second = makeDef("Temp", "second");
    // Long names share their first 24 code units, and one of them is those 24 alone.
    const QList<DPointDef*> defs { makeDef("b"), first.data(), makeDef("boiler_supply_temp_2"),
        makeDef("boiler_supply_temperature_2"), makeDef("a"), nullptr, second.data(),
        makeDef("boiler_supply_temperatur"), makeDef("boiler_supply_temp_10"),
        makeDef("boiler_supply_temperature_10"), makeDef("C") };
    for (DPointDef* def : defs.mid(0, singly))
        dictionary->addDef(def);
    dictionary->addDefs(defs.mid(singly));
    QStringList names;
    for (const DPointDef* def : dictionary->getAllDefs())
        names << def->objectName() + def->m_externalName;
    QCOMPARE(names,
        QStringList({ "C", "Tempsecond", "a", "b", "boiler_supply_temp_10", "boiler_supply_temp_2",
            "boiler_supply_temperatur", "boiler_supply_temperature_10",
            "boiler_supply_temperature_2" })); // by UTF-16 code units
    QCOMPARE(dictionary->getNamespaceNames(),
        QStringList({ "b", "Temp", "boiler_supply_temp_2", "boiler_supply_temperature_2", "a",
            "Temp", "boiler_supply_temperatur", "boiler_supply_temp_10",
            "boiler_supply_temperature_10", "C" }));
    QCOMPARE(first->parent(), dictionary);
    QVERIFY(!dictionary->getDPointDefByName("temp"));
    QVERIFY(!dictionary->getNamespaceItem("C")); // namespace look-ups lowercase the request
    QCOMPARE(dictionary->removeDef("temp"), 0);
    QCOMPARE(dictionary->removeDef("Temp"), 1);
    QCOMPARE(dictionary->removeDef("Temp"), 0);
    QVERIFY(!dictionary->getDPointDefByName("Temp"));
    QCOMPARE(second->parent(), dictionary); // unfiled, still a child
    QCOMPARE(dictionary->getNamespaceSize(), 10);
    QCOMPARE(inventory.count(), 0);
    DictRefSP(new DictRef(dictionary)).clear(); // a handle never deletes its dictionary
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
