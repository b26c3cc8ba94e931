#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <QPointer>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using kivo::MeasurementConversion;
using kivo::MeasurementConverter;
using kivo::MeasurementRegistry;
using kivo::MeasurementUnits;

namespace {

const QString us = QStringLiteral("msys.us");

// One conversion as text: "id:src>dst@resolution,src>dst@resolution" (resolution optional).
MeasurementConversion* makeConversion(const QString& description)
{
    const QString id = description.section(QLatin1Char(':'), 0, 0);
    auto* conversion = new MeasurementConversion(nullptr);
    conversion->_init(id, QStringLiteral("label ") + id, 2.0, 7);
    const QString entries = description.section(QLatin1Char(':'), 1);
    for (const QString& entry : entries.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString pair = entry.section(QLatin1Char('@'), 0, 0);
        const QString resolution = entry.section(QLatin1Char('@'), 1);
        conversion->addApplicableDefs(pair.section(QLatin1Char('>'), 0, 0),
            pair.section(QLatin1Char('>'), 1), resolution.isEmpty() ? 1.0 : resolution.toDouble());
    }
    return conversion;
}

MeasurementUnits* makeUnits(const QString& id, double scale, double resolution)
{
    auto* units = new MeasurementUnits();
    return units->_init(id, QStringLiteral("label ") + id, scale, resolution);
}

} // namespace

class TestMeasurementRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getConversion_data();
    void getConversion();
    void getConversionById();
    void getConverter_data();
    void getConverter();
    void converterIsCached();
    void replaceSameId_data();
    void replaceSameId();
    void addSameObjectTwice();
    void accessors();
    void destructorDeletesOwnedObjects();
    void concurrentGetConverter();
};

void TestMeasurementRegistry::getConversion_data()
{
    QTest::addColumn<QStringList>("conversions");
    QTest::addColumn<QString>("src");
    QTest::addColumn<QString>("dst");
    QTest::addColumn<QString>("expectedId");

    QTest::newRow("forward beats a smaller id in reverse")
        << QStringList { "C0:msys.us>U", "C1:U>msys.us" } << "U"
        << "msys.us"
        << "C1";
    QTest::newRow("reverse used when nothing runs forward") << QStringList { "C0:msys.us>U" } << "U"
                                                            << "msys.us"
                                                            << "C0";
    QTest::newRow("asked the other way round")
        << QStringList { "C0:msys.us>U", "C1:U>msys.us" } << "msys.us"
        << "U"
        << "C0";
    QTest::newRow("smaller id wins in the same direction")
        << QStringList { "C2:U>msys.us", "C1:U>msys.us" } << "U"
        << "msys.us"
        << "C1";
    QTest::newRow("ids compare as text, not as numbers")
        << QStringList { "C9:U>msys.us", "C10:U>msys.us" } << "U"
        << "msys.us"
        << "C10";
    QTest::newRow("none applies") << QStringList { "C0:V>msys.us" } << "U"
                                  << "msys.us" << QString();
    QTest::newRow("case-sensitive ids") << QStringList { "C0:u>msys.us" } << "U"
                                        << "msys.us" << QString();
    QTest::newRow("empty registry") << QStringList() << "U"
                                    << "msys.us" << QString();
}

void TestMeasurementRegistry::getConversion()
{
    QFETCH(QStringList, conversions);
    QFETCH(QString, src);
    QFETCH(QString, dst);
    QFETCH(QString, expectedId);

    MeasurementRegistry registry;
    for (const QString& description : conversions)
        registry.addConversion(makeConversion(description));
    MeasurementConversion* found = registry.getConversion(src, dst);
    QCOMPARE(found ? found->m_id : QString(), expectedId);
}

void TestMeasurementRegistry::getConversionById()
{
    MeasurementRegistry registry;
    MeasurementConversion* conversion = makeConversion(QStringLiteral("C1:U>msys.us"));
    registry.addConversion(conversion);
    QCOMPARE(registry.getConversionById(QStringLiteral("C1")), conversion);
    QCOMPARE(registry.getConversionById(QStringLiteral("c1")), nullptr);
    QCOMPARE(registry.getConversionById(QStringLiteral("C2")), nullptr);
}

void TestMeasurementRegistry::getConverter_data()
{
    QTest::addColumn<QStringList>("conversions");
    QTest::addColumn<QString>("unitId");
    QTest::addColumn<double>("unitScale");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("offset");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<QString>("label");

    // Every row registers unit "U" with scale 0.1 and resolution 0.01.
    QTest::newRow("unknown unit, no conversion")
        << QStringList() << "nosuch" << 1.0 << 1.0 << 0 << 1.0 << QString();
    QTest::newRow("unit without conversion uses its own resolution")
        << QStringList() << "U" << 0.1 << 1.0 << 0 << 0.01 << QString();
    QTest::newRow("conversion to another unit is not for display")
        << QStringList { "C1:U>V@0.5" } << "U" << 0.1 << 1.0 << 0 << 0.01 << QString();
    QTest::newRow("entry resolution, not the unit's")
        << QStringList { "C1:U>msys.us@0.5" } << "U" << 0.1 << 2.0 << 7 << 0.5 << "label C1";
    QTest::newRow("first of equal entries") << QStringList { "C1:U>msys.us@0.5,U>msys.us@5" } << "U"
                                            << 0.1 << 2.0 << 7 << 0.5 << "label C1";
    QTest::newRow("first entry for the unit into msys.us")
        << QStringList { "C1:V>msys.us@5,U>V@3,U>msys.us@0.25" } << "U" << 0.1 << 2.0 << 7 << 0.25
        << "label C1";
    QTest::newRow("reverse-only entry gives resolution 0")
        << QStringList { "C1:msys.us>U@0.5" } << "U" << 0.1 << 2.0 << 7 << 0.0 << "label C1";
    QTest::newRow("conversion for an unknown unit")
        << QStringList { "C1:W>msys.us@0.1" } << "W" << 1.0 << 2.0 << 7 << 0.1 << "label C1";
}

void TestMeasurementRegistry::getConverter()
{
    QFETCH(QStringList, conversions);
    QFETCH(QString, unitId);
    QFETCH(double, unitScale);
    QFETCH(double, scale);
    QFETCH(int, offset);
    QFETCH(double, resolution);
    QFETCH(QString, label);

    MeasurementRegistry registry;
    registry.addUnits(makeUnits(QStringLiteral("U"), 0.1, 0.01));
    for (const QString& description : conversions)
        registry.addConversion(makeConversion(description));

    MeasurementConverter* converter = registry.getConverter(unitId);
    QVERIFY(converter);
    QCOMPARE(converter->getUnitScale(), unitScale);
    QCOMPARE(converter->getScale(), scale);
    QCOMPARE(converter->getOffset(), offset);
    QCOMPARE(converter->m_resolution, resolution);
    QCOMPARE(converter->m_label, label);
}

void TestMeasurementRegistry::converterIsCached()
{
    MeasurementRegistry registry;
    registry.addUnits(makeUnits(QStringLiteral("U"), 0.1, 1.0));
    MeasurementConverter* first = registry.getConverter(QStringLiteral("U"));
    QCOMPARE(first->toString(235), QStringLiteral("24"));

    // Definitions added later do not rebuild a converter already handed out.
    registry.addConversion(makeConversion(QStringLiteral("C1:U>msys.us@0.1")));
    registry.addUnits(makeUnits(QStringLiteral("U"), 1.0, 1.0));
    QCOMPARE(registry.getConverter(QStringLiteral("U")), first);
    QCOMPARE(first->getScale(), 1.0);
    QCOMPARE(first->m_label, QString());

    MeasurementConverter* unknown = registry.getConverter(QStringLiteral("nosuch"));
    QCOMPARE(registry.getConverter(QStringLiteral("nosuch")), unknown);
    QVERIFY(unknown != first);
    QCOMPARE(unknown->toString(23.5), QStringLiteral("24"));
}

void TestMeasurementRegistry::replaceSameId_data()
{
    QTest::addColumn<bool>("conversions");
    QTest::newRow("units") << false;
    QTest::newRow("conversions") << true;
}

void TestMeasurementRegistry::replaceSameId()
{
    QFETCH(bool, conversions);

    MeasurementRegistry registry;
    QObject* first = nullptr;
    QObject* second = nullptr;
    if (conversions) {
        auto* c1 = makeConversion(QStringLiteral("C1:U>msys.us"));
        auto* c2 = makeConversion(QStringLiteral("C1:V>msys.us"));
        first = c1;
        second = c2;
        registry.addConversion(c1);
        registry.addConversion(c2);
        QCOMPARE(registry.getConversionById(QStringLiteral("C1")), c2);
        QCOMPARE(registry.getConversionIds(), QStringList { "C1" });
    } else {
        auto* u1 = makeUnits(QStringLiteral("U"), 0.1, 0.1);
        auto* u2 = makeUnits(QStringLiteral("U"), 0.01, 0.1);
        first = u1;
        second = u2;
        registry.addUnits(u1);
        registry.addUnits(u2);
        QCOMPARE(registry.getUnits(QStringLiteral("U")), u2);
        QCOMPARE(registry.getUnitIds(), QStringList { "U" });
    }
    QCOMPARE(second->parent(), &registry);

    QPointer<QObject> replaced(first);
    QPointer<QObject> replacement(second);
    QVERIFY2(!replaced.isNull(), "the replaced object must survive until the event loop runs");
    QTRY_VERIFY(replaced.isNull());
    QVERIFY(replacement);
}

void TestMeasurementRegistry::addSameObjectTwice()
{
    MeasurementRegistry registry;
    MeasurementUnits* units = makeUnits(QStringLiteral("U"), 0.1, 0.1);
    MeasurementConversion* conversion = makeConversion(QStringLiteral("C1:U>msys.us"));
    registry.addUnits(units);
    registry.addUnits(units);
    registry.addConversion(conversion);
    registry.addConversion(conversion);

    QPointer<MeasurementUnits> unitsGuard(units);
    QPointer<MeasurementConversion> conversionGuard(conversion);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(unitsGuard);
    QVERIFY(conversionGuard);
    QCOMPARE(registry.getUnits(QStringLiteral("U")), units);
    QCOMPARE(registry.getConversionById(QStringLiteral("C1")), conversion);
}

void TestMeasurementRegistry::accessors()
{
    MeasurementRegistry registry;
    QCOMPARE(MeasurementRegistry::displaySystemId, QStringLiteral("msys.us"));
    QVERIFY(registry.getSystems().isEmpty());
    QVERIFY(registry.getUnitIds().isEmpty());
    QVERIFY(registry.getConversionIds().isEmpty());
    QCOMPARE(registry.getUnits(QStringLiteral("U")), nullptr);

    registry.addSystem(QStringLiteral("msys.us"), QStringLiteral("US"));
    registry.addSystem(QStringLiteral("msys.si"), QStringLiteral("SI"));
    registry.addSystem(QStringLiteral("msys.us"), QStringLiteral("US customary"));
    registry.addUnits(makeUnits(QStringLiteral("kPa"), 1.0, 1.0));
    registry.addUnits(makeUnits(QStringLiteral("degC_x10"), 0.1, 0.1));
    registry.addUnits(makeUnits(QStringLiteral("Zone"), 1.0, 1.0));
    registry.addConversion(makeConversion(QStringLiteral("b")));
    registry.addConversion(makeConversion(QStringLiteral("a")));

    const QMap<QString, QString> systems { { "msys.si", "SI" }, { "msys.us", "US customary" } };
    QCOMPARE(registry.getSystems(), systems);
    QCOMPARE(registry.getUnitIds(), (QStringList { "Zone", "degC_x10", "kPa" }));
    QCOMPARE(registry.getConversionIds(), (QStringList { "a", "b" }));
    QCOMPARE(registry.getUnits(QStringLiteral("kPa"))->m_id, QStringLiteral("kPa"));
}

void TestMeasurementRegistry::destructorDeletesOwnedObjects()
{
    auto* registry = new MeasurementRegistry();
    QPointer<MeasurementUnits> units(makeUnits(QStringLiteral("U"), 0.1, 0.1));
    QPointer<MeasurementConversion> conversion(makeConversion(QStringLiteral("C1:U>msys.us")));
    registry->addUnits(units);
    registry->addConversion(conversion);
    QPointer<MeasurementConverter> converter(registry->getConverter(QStringLiteral("U")));
    QPointer<MeasurementConverter> unknown(registry->getConverter(QStringLiteral("X")));
    QVERIFY(units && conversion && converter && unknown);

    delete registry;
    QVERIFY(units.isNull());
    QVERIFY(conversion.isNull());
    QVERIFY(converter.isNull());
    QVERIFY(unknown.isNull());
}

void TestMeasurementRegistry::concurrentGetConverter()
{
    constexpr int threadCount = 8;
    constexpr int unitCount = 40;
    constexpr int rounds = 100;

    QStringList unitIds;
    for (int i = 0; i < unitCount; ++i)
        unitIds << QStringLiteral("unit%1").arg(i);

    for (int round = 0; round < rounds; ++round) {
        MeasurementRegistry registry;
        for (int i = 0; i < unitCount; ++i) {
            registry.addUnits(makeUnits(unitIds.at(i), 0.1, 0.1));
            if (i % 2 == 0) {
                registry.addConversion(
                    makeConversion(QStringLiteral("C%1:%2>msys.us@0.5").arg(i).arg(unitIds.at(i))));
            }
        }

        // std::thread and an atomic start flag: the thread sanitizer sees their ordering.
        std::atomic<bool> go { false };
        QVector<QVector<MeasurementConverter*>> seen(threadCount);
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            QVector<MeasurementConverter*>* mine = &seen[t];
            threads.emplace_back([&registry, &unitIds, &go, mine, t] {
                mine->resize(unitCount);
                while (!go)
                    std::this_thread::yield();
                // Half the threads walk the ids backwards so that first requests collide.
                for (int k = 0; k < unitCount; ++k) {
                    const int i = (t % 2 == 0) ? k : unitCount - 1 - k;
                    (*mine)[i] = registry.getConverter(unitIds.at(i));
                }
            });
        }
        go = true;
        for (std::thread& thread : threads)
            thread.join();

        for (int i = 0; i < unitCount; ++i) {
            MeasurementConverter* expected = registry.getConverter(unitIds.at(i));
            QVERIFY(expected);
            QCOMPARE(expected->m_resolution, i % 2 == 0 ? 0.5 : 0.1);
            for (int t = 0; t < threadCount; ++t)
                QCOMPARE(seen.at(t).at(i), expected);
        }
    }
}

QTEST_GUILESS_MAIN(TestMeasurementRegistry)
#include "tst_measurementregistry.moc"
