// Null and out-of-range arguments: every operation answers with its stated failure value
// (null, an invalid QVariant, an empty container, 0) or changes nothing; none crashes.

#include <kivo/core/Namespaceable.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/points/VirtualDPointObject.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QDomElement>
#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace kivo;

class TstInvalidArguments : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dictionaryRefusesNullDefinition();
    void namespaceLookupsOutOfRange();
    void pointsWithoutDefinition();
    void providerAndFollowerRefuseNothingUsable();
    void loaderWithoutRegistryOrElement();
    void registryWithoutUnits();
};

// A null definition used to be dereferenced for its name.
void TstInvalidArguments::dictionaryRefusesNullDefinition()
{
    DPointDictionary dictionary;
    dictionary.addDef(nullptr);
    QCOMPARE(dictionary.getAllDefs(), QList<DPointDef*>());
    QCOMPARE(dictionary.getNamespaceSize(), 0);
    QCOMPARE(dictionary.getDPointDefByName(QString()), nullptr);
    QCOMPARE(dictionary.removeDef(QString()), 0);
}

void TstInvalidArguments::namespaceLookupsOutOfRange()
{
    DPointProvider owner;
    for (int index : { -1, 0, 1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max() })
        QCOMPARE(owner.getNamespaceIndex(index), nullptr);
    QCOMPARE(owner.getNamespaceItem(QString()), nullptr);
    QCOMPARE(owner.getNamespaceItem(QStringLiteral("missing")), nullptr);
    QCOMPARE(owner.getPropertyName(-1), QString());
    QCOMPARE(owner.getPropertyName(0), QString());
    QVERIFY(!owner.getProperty(QByteArray()).isValid());
    QVERIFY(!owner.getProperty(QByteArray("missing")).isValid());
}

void TstInvalidArguments::pointsWithoutDefinition()
{
    DPointObject point;
    point.setDPointDef(nullptr);
    QCOMPARE(
        checkDPointType(QVariant(QStringLiteral("12")), point), QVariant(QStringLiteral("12")));
    QVERIFY(point.showThisVar());
    point.setCurrentValue(QVariant(-32768));
    QCOMPARE(point.getCurrentValue(), QVariant(-32768));

    // A definition without type descriptor behaves like no definition.
    DPointDef def;
    def._init(QStringLiteral("p"), QStringLiteral("p"), QString(), QString(), 0, nullptr);
    point.setDPointDef(&def);
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"variableName\":\"p\", \"externalName\":\"\", \"lineId\":\"\", "
                       "\"access\":\"\"}"));
    QCOMPARE(checkDPointType(QVariant(QStringLiteral("x")), point), QVariant(QStringLiteral("x")));
    point.setCurrentValue(QVariant(-32768));
    QCOMPARE(point.getCurrentValue(), QVariant(-32768));

    // A status chain whose links hold no status is a success.
    StatRef empty;
    point.setUpdateComplete(QVariant(1), empty);
    QVERIFY(!point.getUpdateStatus().m_stat);

    DPointModelItemData item(nullptr);
    QVERIFY(!item.data(0, Qt::DisplayRole).isValid());
    QVERIFY(!item.data(7, Qt::EditRole).isValid());
    QVERIFY(!item.setData(1, QVariant(1)));
    QCOMPARE(item.getDPointDef(), nullptr);
}

void TstInvalidArguments::providerAndFollowerRefuseNothingUsable()
{
    DPointProvider provider;
    QTest::ignoreMessage(QtCriticalMsg, "NULL POINT");
    provider.addPoint(nullptr);
    provider.addDict(nullptr);
    QCOMPARE(provider.getNamespaceSize(), 0);
    QCOMPARE(provider.getAllDicts(), QList<DPointDictionary*>());
    QCOMPARE(provider.removePoint(QString()), 0);
    QCOMPARE(provider.getDPointByName(QString()), nullptr);

    VirtualDPointObject follower;
    QSignalSpy followed(&follower, &VirtualDPointObject::valueChanged);
    follower.addDependency(QVariant());
    follower.addDependency(QVariant::fromValue(static_cast<QObject*>(nullptr)));
    follower.addDependency(QVariant::fromValue(static_cast<DPointObject*>(nullptr)));
    follower.addDependency(QVariant::fromValue(&provider));
    QCOMPARE(followed.count(), 0);
}

void TstInvalidArguments::loaderWithoutRegistryOrElement()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QCOMPARE(loader.getEnumDef(QString()), (QHash<int, QString>()));
    QCOMPARE(loader.getIndexEnumDef(QStringLiteral("none")), (QHash<QString, int>()));

    // A null element gives a definition with empty fields that owns the type.
    auto* type = new DPTypeNumber;
    DPointDef* def = loader.loadDPointDef(QDomElement(), *type);
    QVERIFY(def);
    QCOMPARE(type->parent(), def);
    QCOMPARE(def->m_registry, nullptr);
    QCOMPARE(def->objectName(), QString());
    delete def;
}

// A registry that knows no unit still gives a converter (the identity), also for huge values.
void TstInvalidArguments::registryWithoutUnits()
{
    MeasurementRegistry registry;
    MeasurementConverter* converter = registry.getConverter(QString());
    QVERIFY(converter);
    QCOMPARE(registry.getConverter(QString()), converter);
    QCOMPARE(converter->toString(QVariant(std::numeric_limits<int>::min())),
        QStringLiteral("-2147483648"));
    QCOMPARE(converter->toString(QVariant()), QStringLiteral("0"));
    QCOMPARE(registry.getConversion(QString(), QString()), nullptr);
    QCOMPARE(registry.getUnits(QString()), nullptr);
    registry.addUnits(nullptr);
    registry.addConversion(nullptr);
    QCOMPARE(registry.getUnitIds(), QStringList());

    DPTypeReal real;
    real._init(QVariant(QStringLiteral("not a number")), std::numeric_limits<double>::infinity(),
        qQNaN(), QString(), QString());
    QCOMPARE(real.toJson(&registry),
        QStringLiteral("\"type\":\"qreal\", \"default\":0, \"min\":inf, \"max\":nan, "
                       "\"resolution\":1, \"unitsLabel\":\"\""));
}

QTEST_GUILESS_MAIN(TstInvalidArguments)
#include "tst_invalidarguments.moc"
