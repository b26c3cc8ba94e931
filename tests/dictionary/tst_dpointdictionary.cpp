#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/dictionary/DictRef.h>

#include <QAtomicInt>
#include <QPointer>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

using namespace kivo;

namespace {

DPointDef* makeDef(const QString& name, const QString& externalName = QString())
{
    return (new DPointDef)->_init(name, name, externalName, QString(), 0, nullptr);
}

QStringList namesOf(const QList<DPointDef*>& defs)
{
    QStringList names;
    for (const DPointDef* def : defs) {
        names << def->objectName();
    }
    return names;
}

} // namespace

class TstDPointDictionary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyDictionary();
    void addDefAdoptsAndFilesByName();
    void allDefsInCodeUnitOrder();
    void duplicateNameReplacesEntryNotObject();
    void removeDefUnfilesButKeepsChild();
    void lookupIsCaseSensitive();
    void addDefEmitsNoSignal();
    void dictRefNeverOwnsTheDictionary();
    void concurrentLookupsWhileFilling();
};

void TstDPointDictionary::emptyDictionary()
{
    QObject parent;
    auto* dictionary = new DPointDictionary(&parent);
    QCOMPARE(dictionary->parent(), &parent);
    QVERIFY(dictionary->getAllDefs().isEmpty());
    QVERIFY(!dictionary->getDPointDefByName(QString()));
    QCOMPARE(dictionary->removeDef("x"), 0);
    QCOMPARE(dictionary->metaObject()->className(), "kivo::DPointDictionary");
}

void TstDPointDictionary::addDefAdoptsAndFilesByName()
{
    DPointDictionary dictionary;
    DPointDef* def = makeDef("SupplyTemp");
    dictionary.addDef(def);
    QCOMPARE(def->parent(), &dictionary);
    QCOMPARE(dictionary.getDPointDefByName("SupplyTemp"), def);
    QCOMPARE(dictionary.getNamespaceSize(), 1);
}

void TstDPointDictionary::allDefsInCodeUnitOrder()
{
    DPointDictionary dictionary;
    dictionary.addDef(makeDef("b"));
    dictionary.addDef(makeDef("a"));
    dictionary.addDef(makeDef("C"));
    QCOMPARE(namesOf(dictionary.getAllDefs()), QStringList({ "C", "a", "b" }));
    // The namespace keeps adoption order.
    QCOMPARE(dictionary.getNamespaceNames(), QStringList({ "b", "a", "C" }));
}

void TstDPointDictionary::duplicateNameReplacesEntryNotObject()
{
    auto* dictionary = new DPointDictionary;
    QPointer<DPointDef> first = makeDef("Temp", "first");
    QPointer<DPointDef> second = makeDef("Temp", "second");
    dictionary->addDef(first);
    dictionary->addDef(second);

    QCOMPARE(dictionary->getDPointDefByName("Temp"), second.data());
    QCOMPARE(dictionary->getAllDefs(), QList<DPointDef*>({ second.data() }));
    QCOMPARE(dictionary->getNamespaceSize(), 2);
    QCOMPARE(dictionary->getNamespaceNames(), QStringList({ "Temp", "Temp" }));
    QCOMPARE(first->parent(), dictionary);

    delete dictionary;
    QVERIFY(first.isNull());
    QVERIFY(second.isNull());
}

void TstDPointDictionary::removeDefUnfilesButKeepsChild()
{
    DPointDictionary dictionary;
    QPointer<DPointDef> def = makeDef("pump1");
    dictionary.addDef(def);

    QCOMPARE(dictionary.removeDef("pump1"), 1);
    QCOMPARE(dictionary.removeDef("pump1"), 0);
    QVERIFY(!dictionary.getDPointDefByName("pump1"));
    QVERIFY(dictionary.getAllDefs().isEmpty());
    QVERIFY(!def.isNull());
    QCOMPARE(def->parent(), &dictionary);
    QCOMPARE(dictionary.getNamespaceItem("PUMP1"), def.data());
}

void TstDPointDictionary::lookupIsCaseSensitive()
{
    DPointDictionary dictionary;
    DPointDef* def = makeDef("SupplyTemp");
    dictionary.addDef(def);
    QVERIFY(!dictionary.getDPointDefByName("supplytemp"));
    QVERIFY(!dictionary.getDPointDefByName("SUPPLYTEMP"));
    QCOMPARE(dictionary.removeDef("supplytemp"), 0);
    // Namespace lookups lowercase the request, so a capitalised name is never found there.
    QVERIFY(!dictionary.getNamespaceItem("SupplyTemp"));
    QVERIFY(!dictionary.getNamespaceItem("supplytemp"));
}

void TstDPointDictionary::addDefEmitsNoSignal()
{
    DPointDictionary dictionary;
    QSignalSpy spy(&dictionary, &Namespaceable::namespaceInventoryChanged);
    dictionary.addDef(makeDef("a"));
    dictionary.removeDef("a");
    QCOMPARE(spy.count(), 0);
}

void TstDPointDictionary::dictRefNeverOwnsTheDictionary()
{
    auto dictionary = std::make_unique<DPointDictionary>();
    QPointer<DPointDef> def = makeDef("a");
    dictionary->addDef(def);

    DictRef plain;
    QVERIFY(!plain.m_dict);
    QCOMPARE(&plain.assign(dictionary.get()), &plain);
    QCOMPARE(plain.m_dict, dictionary.get());

    {
        DictRefSP handle(new DictRef(dictionary.get()));
        DictRefSP copy = handle;
        const QVariant carried = QVariant::fromValue(copy);
        QCOMPARE(carried.value<DictRefSP>()->m_dict, dictionary.get());
    }
    QVERIFY(!def.isNull());
    QCOMPARE(dictionary->getDPointDefByName("a"), def.data());
}

void TstDPointDictionary::concurrentLookupsWhileFilling()
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
                    DPointDef* def = dictionary.getDPointDefByName(name);
                    if (def && def->objectName() != name) {
                        wrongHits.ref();
                    }
                }
                const QList<DPointDef*> all = dictionary.getAllDefs();
                for (int i = 1; i < all.size(); ++i) {
                    if (!(all.at(i - 1)->objectName() < all.at(i)->objectName())) {
                        wrongHits.ref();
                    }
                }
            }
        }));
        readers.back()->start();
    }
    for (int i = 0; i < defCount; ++i) {
        dictionary.addDef(makeDef(QStringLiteral("p%1").arg(i)));
    }
    stop.storeRelease(1);
    for (auto& reader : readers) {
        QVERIFY(reader->wait(30000));
    }
    QCOMPARE(wrongHits.loadAcquire(), 0);
    QCOMPARE(dictionary.getAllDefs().size(), defCount);
}

QTEST_GUILESS_MAIN(TstDPointDictionary)
#include "tst_dpointdictionary.moc"
