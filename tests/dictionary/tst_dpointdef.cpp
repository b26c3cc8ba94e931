#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DictRef.h>
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

#include <QPointer>
#include <QtTest>

using namespace kivo;

namespace {

// A registry whose converter for "degC_x10" shows tenths of a degree Celsius in Fahrenheit at
// resolution 0.1 with the label "degF".
MeasurementRegistry* makeRegistry(QObject* parent)
{
    auto* registry = new MeasurementRegistry(parent);
    registry->addUnits((new MeasurementUnits)->_init("degC_x10", "0.1 degC", 0.1, 0.1));
    auto* conversion = new MeasurementConversion;
    conversion->_init("conv.degC.degF", "degF", 1.8, 32);
    registry->addConversion(conversion);
    conversion->addApplicableDefs("degC_x10", MeasurementRegistry::displaySystemId, 0.1);
    return registry;
}

const QString definitionTail
    = QStringLiteral("\"variableName\":\"SupplyTemp\", \"externalName\":\"Supply temperature\", "
                     "\"lineId\":\"BLR1.AI01\", \"access\":\"R\"}");

} // namespace

class TstDPointDef : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initialState();
    void initAssignsFieldsAndReturnsItself();
    void jsonWithoutType();
    void accessValue_data();
    void accessValue();
    void typeJson_data();
    void typeJson();
    void integerRendersInDisplayUnitsOnlyWithRegistry();
    void realRendersRawEvenWithRegistry();
    void valuesAreInsertedUnescaped();
    void typeIsOwnedAsChild();
    void getTypeJsonIsInvokable();
    void metaTypesRegisteredAtLoad();
};

void TstDPointDef::initialState()
{
    QObject parent;
    auto* def = new DPointDef(&parent);
    QCOMPARE(def->parent(), &parent);
    QVERIFY(def->objectName().isEmpty());
    QVERIFY(def->m_variableName.isEmpty());
    QCOMPARE(def->m_pxcId, 0);
    QVERIFY(!def->m_readable);
    QVERIFY(!def->m_writable);
    QVERIFY(!def->m_type);
    QVERIFY(!def->m_registry);
    QCOMPARE(def->dynamicPropertyNames().size(), 0);
}

void TstDPointDef::initAssignsFieldsAndReturnsItself()
{
    DPointDef def;
    DPTypeIPv4 type;
    QCOMPARE(def._init("lookupName", "renderedName", "External", "L1", -7, &type), &def);
    QCOMPARE(def.objectName(), QStringLiteral("lookupName"));
    QCOMPARE(def.m_variableName, QStringLiteral("renderedName"));
    QCOMPARE(def.m_externalName, QStringLiteral("External"));
    QCOMPARE(def.m_lineId, QStringLiteral("L1"));
    QCOMPARE(def.m_pxcId, -7);
    QCOMPARE(def.m_type, &type);
    // The rendered name is the variable name, not the lookup name.
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"type\":\"ipv4\", \"default\":\"\", \"variableName\":\"renderedName\", "
                       "\"externalName\":\"External\", \"lineId\":\"L1\", \"access\":\"\"}"));
}

void TstDPointDef::jsonWithoutType()
{
    DPointDef def;
    def._init("v", "v", "e", "l", 1, nullptr);
    QCOMPARE(def.getTypeJson(),
        QStringLiteral(
            "{\"variableName\":\"v\", \"externalName\":\"e\", \"lineId\":\"l\", \"access\":\"\"}"));
}

void TstDPointDef::accessValue_data()
{
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("access");
    QTest::newRow("neither") << false << false << QString();
    QTest::newRow("read") << true << false << QStringLiteral("R");
    QTest::newRow("write") << false << true << QStringLiteral("W");
    QTest::newRow("both") << true << true << QStringLiteral("RW");
}

void TstDPointDef::accessValue()
{
    QFETCH(bool, readable);
    QFETCH(bool, writable);
    QFETCH(QString, access);
    DPointDef def;
    def._init("n", "n", "", "", 0, nullptr);
    def.m_readable = readable;
    def.m_writable = writable;
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"variableName\":\"n\", \"externalName\":\"\", \"lineId\":\"\", "
                       "\"access\":\"")
            + access + QStringLiteral("\"}"));
}

void TstDPointDef::typeJson_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("typeMembers");

    QTest::newRow("int") << "int"
                         << "\"type\":\"int\", \"default\":215, \"min\":0, \"max\":1000, "
                            "\"resolution\":1, \"unitsLabel\":\"0.1 degC\"";
    QTest::newRow("real") << "real"
                          << "\"type\":\"qreal\", \"default\":1.5, \"min\":-10.5, "
                             "\"max\":1.23457e+06, \"resolution\":1, \"unitsLabel\":\"C\"";
    QTest::newRow("enum") << "enum"
                          << "\"type\":\"enum\", \"default\":1, \"values\":[{\"id\":0 "
                             ",\"name\":\"Off\"},{\"id\":1 ,\"name\":\"On\"}]";
    QTest::newRow("text") << "text"
                          << "\"type\":\"text\", \"default\":\"BLR-1\", "
                             "\"charSet\":\"[A-Z0-9\\\\-]*\", \"format\":\"%s\", \"maxLen\":8";
    QTest::newRow("ipv4") << "ipv4"
                          << "\"type\":\"ipv4\", \"default\":\"\"";
    QTest::newRow("time") << "time"
                          << "\"type\":\"time\", \"epoch\":5";
    QTest::newRow("event") << "event"
                           << "\"type\":\"event\", \"id\":101, \"desc\":\"High limit\", "
                              "\"expl\":\"Too hot\", \"etype\":2, \"atype\":0, \"rtype\":1, "
                              "\"avs\":[{ \"type\":\"Temp\", \"id\":\"SupplyTemp\", "
                              "\"access\":\"R\" },{ \"type\":\"Temp\", \"id\":\"ReturnTemp\", "
                              "\"access\":\"R\" }]";
}

void TstDPointDef::typeJson()
{
    QFETCH(QString, kind);
    QFETCH(QString, typeMembers);

    DPointDef def;
    DPTypeBase* type = nullptr;
    if (kind == QLatin1String("int")) {
        type = (new DPTypeNumber)->_init(215, 0, 1000, "degC_x10", "0.1 degC");
    } else if (kind == QLatin1String("real")) {
        type = (new DPTypeReal)->_init(QStringLiteral("1.5"), -10.5, 1234567.0, "degC_x10", "C");
    } else if (kind == QLatin1String("enum")) {
        type = (new DPTypeEnum)->_init(1, { { 1, "On" }, { 0, "Off" } });
    } else if (kind == QLatin1String("text")) {
        type = (new DPTypeString)->_init("BLR-1", "[A-Z0-9\\-]*", "%s", 8);
    } else if (kind == QLatin1String("ipv4")) {
        type = new DPTypeIPv4;
    } else if (kind == QLatin1String("time")) {
        type = (new DPTypeTime)->_init(0, DPTypeTime::Midnight);
    } else {
        QMap<QString, DPTypeEvent::AssociatedVariable*> records;
        records.insert(
            "Temp", new DPTypeEvent::AssociatedVariable { "SupplyTemp ReturnTemp", false });
        type = (new DPTypeEvent)
                   ->_init(101, "High limit", "Too hot", DPTypeEvent::Alarm, false,
                       DPTypeEvent::AckManual, DPTypeEvent::ResetAuto, records);
    }
    def._init("SupplyTemp", "SupplyTemp", "Supply temperature", "BLR1.AI01", 1001, type);
    type->setParent(&def);
    def.m_readable = true;
    QCOMPARE(
        def.getTypeJson(), QLatin1Char('{') + typeMembers + QStringLiteral(", ") + definitionTail);
}

void TstDPointDef::integerRendersInDisplayUnitsOnlyWithRegistry()
{
    QObject owner;
    MeasurementRegistry* registry = makeRegistry(&owner);
    DPointDef def;
    auto* type = (new DPTypeNumber(&def))->_init(215, 0, 1000, "degC_x10", "0.1 degC");
    def._init("SupplyTemp", "SupplyTemp", "Supply temperature", "BLR1.AI01", 1001, type);
    def.m_readable = true;

    def.m_registry = registry;
    // Bounds and resolution in display units (0..100 degC is 32..212 degF), default stays raw.
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"type\":\"int\", \"default\":215, \"min\":32.0, \"max\":212.0, "
                       "\"resolution\":0.1, \"unitsLabel\":\"degF\", ")
            + definitionTail);

    def.m_registry = nullptr;
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"type\":\"int\", \"default\":215, \"min\":0, \"max\":1000, "
                       "\"resolution\":1, \"unitsLabel\":\"0.1 degC\", ")
            + definitionTail);
}

void TstDPointDef::realRendersRawEvenWithRegistry()
{
    QObject owner;
    DPointDef def;
    auto* type = (new DPTypeReal(&def))->_init(QStringLiteral("21.5"), 0.0, 100.0, "degC_x10", "C");
    def._init("SupplyTemp", "SupplyTemp", "Supply temperature", "BLR1.AI01", 1001, type);
    def.m_readable = true;
    def.m_registry = makeRegistry(&owner);
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"type\":\"qreal\", \"default\":21.5, \"min\":0, \"max\":100, "
                       "\"resolution\":1, \"unitsLabel\":\"C\", ")
            + definitionTail);
}

void TstDPointDef::valuesAreInsertedUnescaped()
{
    DPointDef def;
    def._init("q", "say \"hi\"", "back\\slash", "", 0, nullptr);
    QCOMPARE(def.getTypeJson(),
        QStringLiteral("{\"variableName\":\"say \"hi\"\", \"externalName\":\"back\\slash\", "
                       "\"lineId\":\"\", \"access\":\"\"}"));
}

void TstDPointDef::typeIsOwnedAsChild()
{
    auto* def = new DPointDef;
    QPointer<DPTypeTime> type = new DPTypeTime;
    def->_init("t", "t", "", "", 0, type);
    type->setParent(def);
    QCOMPARE(def->getNamespaceSize(), 1);
    delete def;
    QVERIFY(type.isNull());
}

void TstDPointDef::getTypeJsonIsInvokable()
{
    DPointDef def;
    def._init("v", "v", "e", "l", 0, nullptr);
    QString json;
    QVERIFY(QMetaObject::invokeMethod(&def, "getTypeJson", Q_RETURN_ARG(QString, json)));
    QCOMPARE(json, def.getTypeJson());
    QCOMPARE(def.metaObject()->className(), "kivo::DPointDef");
}

void TstDPointDef::metaTypesRegisteredAtLoad()
{
    // Nothing in this test program registers these; the library does when it is loaded.
    QVERIFY(QMetaType::type("kivo::DPointDef*") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("DictRefSP") != QMetaType::UnknownType);
    QCOMPARE(QMetaType::type("DictRefSP"), qMetaTypeId<DictRefSP>());
    QVERIFY(QMetaType::type("QMap<QString,QString>") != QMetaType::UnknownType);

    DPointDef def;
    const QVariant carried = QVariant::fromValue(&def);
    QCOMPARE(carried.value<DPointDef*>(), &def);
    QCOMPARE(carried.value<QObject*>(), static_cast<QObject*>(&def));
}

QTEST_GUILESS_MAIN(TstDPointDef)
#include "tst_dpointdef.moc"
