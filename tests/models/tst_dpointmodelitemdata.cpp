#include <kivo/dictionary/DPointDef.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/points/DPointObject.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeString.h>

#include <QSignalSpy>
#include <QTest>

using kivo::DPointDef;
using kivo::DPointModelItemData;
using kivo::DPointObject;
using kivo::DPTypeBase;

namespace {

const int pointRole = 359;
const int definitionRole = 360;
const int worksheetRole = 362;

// Type kinds used by the data-driven cases: "enum" (1 Open, 2 Closed, default 1), "number"
// (default 5), "numberNoDefault", "string" (default "dflt") and "none" (no type object).
DPTypeBase* makeType(const QString& kind)
{
    if (kind == QLatin1String("enum")) {
        auto* type = new kivo::DPTypeEnum;
        type->_init(1, { { 1, QStringLiteral("Open") }, { 2, QStringLiteral("Closed") } });
        return type;
    }
    if (kind == QLatin1String("number")) {
        auto* type = new kivo::DPTypeNumber;
        type->_init(QVariant(5), 0, 100, QString(), QString());
        return type;
    }
    if (kind == QLatin1String("numberNoDefault"))
        return new kivo::DPTypeNumber;
    if (kind == QLatin1String("string")) {
        auto* type = new kivo::DPTypeString;
        type->_init(QStringLiteral("dflt"), QString(), QString(), 20);
        return type;
    }
    return nullptr;
}

// A definition with its type object as child, and a point using it.
struct Fixture
{
    explicit Fixture(const QString& kind, const QString& lineId = QStringLiteral("17"))
    {
        DPTypeBase* type = makeType(kind);
        if (type)
            type->setParent(&def);
        def._init(QStringLiteral("tank.level"), QStringLiteral("TankLevel"),
            QStringLiteral("Tank level"), lineId, 4, type);
        point.setDPointDef(&def);
    }

    DPointDef def;
    DPointObject point;
};

class NamedItem : public DPointModelItemData
{
public:
    using DPointModelItemData::DPointModelItemData;

    QVariant data(int column, int role) const override
    {
        if (column == 0)
            return QStringLiteral("Custom");
        return DPointModelItemData::data(column, role);
    }
};

} // namespace

class TestDPointModelItemData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usesBaseMetaObject();
    void columnCountIsFixed_data();
    void columnCountIsFixed();
    void nameColumn();
    void valueColumn_data();
    void valueColumn();
    void hintsColumn_data();
    void hintsColumn();
    void subclassNameInHints();
    void showingValueEnablesReporting();
    void setData_data();
    void setData();
    void itemWithoutPoint();
    void pointWithoutDefinition();
    void roleData();
};

void TestDPointModelItemData::usesBaseMetaObject()
{
    Fixture fixture(QStringLiteral("number"));
    DPointModelItemData item(&fixture.point);
    QCOMPARE(item.metaObject(), &kivo::ModelItemData::staticMetaObject);
    QCOMPARE(item.parent(), nullptr);
    QCOMPARE(item.getDPointObject(), &fixture.point);
}

void TestDPointModelItemData::columnCountIsFixed_data()
{
    QTest::addColumn<int>("asked");
    QTest::newRow("none") << 0;
    QTest::newRow("fewer") << 1;
    QTest::newRow("more") << 7;
    QTest::newRow("negative") << -1;
}

void TestDPointModelItemData::columnCountIsFixed()
{
    QFETCH(int, asked);
    DPointModelItemData item(nullptr);
    item.setColumnCount(asked);
    QCOMPARE(item.columnCount(), 3);
}

void TestDPointModelItemData::nameColumn()
{
    Fixture fixture(QStringLiteral("enum"));
    DPointModelItemData item(&fixture.point);
    for (int role : { int(Qt::DisplayRole), int(Qt::EditRole), worksheetRole }) {
        const QVariant name = item.data(0, role);
        QCOMPARE(name.userType(), int(QMetaType::QString));
        QCOMPARE(name.toString(), QStringLiteral("Tank level"));
    }
}

void TestDPointModelItemData::valueColumn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    const QVariant none;
    const int display = Qt::DisplayRole;
    const int edit = Qt::EditRole;
    QTest::newRow("enum label") << "enum" << QVariant(2) << display << QVariant("Closed");
    QTest::newRow("enum label, other role")
        << "enum" << QVariant(2) << int(Qt::ToolTipRole) << QVariant("Closed");
    QTest::newRow("enum number for editing") << "enum" << QVariant(2) << edit << QVariant(2);
    QTest::newRow("enum default label") << "enum" << none << display << QVariant("Open");
    QTest::newRow("enum default for editing") << "enum" << none << edit << QVariant(1);
    QTest::newRow("enum without label") << "enum" << QVariant(7) << display << QVariant("");
    QTest::newRow("number") << "number" << QVariant(42) << display << QVariant(42);
    QTest::newRow("number default") << "number" << none << display << QVariant(5);
    QTest::newRow("number without default") << "numberNoDefault" << none << display << none;
    QTest::newRow("text default") << "string" << none << display << QVariant("dflt");
    QTest::newRow("no type, no value") << "none" << none << display << none;
    QTest::newRow("no type, value as it is") << "none" << QVariant(3) << edit << QVariant(3);
}

void TestDPointModelItemData::valueColumn()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    Fixture fixture(kind);
    if (value.isValid())
        fixture.point.setCurrentValue(value);
    DPointModelItemData item(&fixture.point);

    const QVariant shown = item.data(1, role);
    QCOMPARE(shown.userType(), expected.userType());
    QCOMPARE(shown, expected);
}

void TestDPointModelItemData::hintsColumn_data()
{
    QTest::addColumn<QString>("lineId");
    QTest::addColumn<QString>("largeDisplay");
    QTest::addColumn<QString>("worksheet");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("hints");
    QTest::addColumn<QString>("worksheetOnly");

    // A null text leaves the property unset.
    const QString unset;
    QTest::newRow("no hints") << "17" << unset << unset << 2 << "Tank level;17;;"
                              << "";
    QTest::newRow("large display") << "17"
                                   << "Big" << unset << 2 << "Tank level;17;Big;"
                                   << "";
    QTest::newRow("worksheet") << "17" << unset << "Pumps" << 2 << "Tank level;17;;Pumps"
                               << "Pumps";
    QTest::newRow("both") << "17"
                          << "Big"
                          << "Pumps" << 2 << "Tank level;17;Big;Pumps"
                          << "Pumps";
    QTest::newRow("no line id") << "" << unset << unset << 2 << "Tank level;;;"
                                << "";
    QTest::newRow("higher column") << "17"
                                   << "Big"
                                   << "Pumps" << 5 << "Tank level;17;Big;Pumps"
                                   << "Pumps";
}

void TestDPointModelItemData::hintsColumn()
{
    QFETCH(QString, lineId);
    QFETCH(QString, largeDisplay);
    QFETCH(QString, worksheet);
    QFETCH(int, column);
    QFETCH(QString, hints);
    QFETCH(QString, worksheetOnly);

    Fixture fixture(QStringLiteral("number"), lineId);
    if (!largeDisplay.isNull())
        fixture.def.setProperty("LargeDisplay", largeDisplay);
    if (!worksheet.isNull())
        fixture.def.setProperty("Worksheet", worksheet);
    DPointModelItemData item(&fixture.point);

    for (int role : { int(Qt::DisplayRole), int(Qt::EditRole) }) {
        const QVariant text = item.data(column, role);
        QCOMPARE(text.userType(), int(QMetaType::QString));
        QCOMPARE(text.toString(), hints);
    }
    const QVariant sheet = item.data(column, worksheetRole);
    QCOMPARE(sheet.userType(), int(QMetaType::QString));
    QCOMPARE(sheet.toString(), worksheetOnly);
}

void TestDPointModelItemData::subclassNameInHints()
{
    Fixture fixture(QStringLiteral("number"));
    fixture.def.setProperty("Worksheet", QStringLiteral("Pumps"));
    NamedItem item(&fixture.point);
    QCOMPARE(item.data(2, Qt::DisplayRole).toString(), QStringLiteral("Custom;17;;Pumps"));
}

void TestDPointModelItemData::showingValueEnablesReporting()
{
    Fixture fixture(QStringLiteral("enum"));
    DPointModelItemData item(&fixture.point);
    QSignalSpy spy(&fixture.point, &DPointObject::covEnabled);

    item.data(0, Qt::DisplayRole);
    item.data(2, Qt::DisplayRole);
    item.data(2, worksheetRole);
    item.roleData(pointRole);
    QCOMPARE(spy.count(), 0);

    item.data(1, Qt::DisplayRole);
    item.data(1, Qt::EditRole);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
}

void TestDPointModelItemData::setData_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("initial");
    QTest::addColumn<QVariant>("edit");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QVariant>("after");
    QTest::addColumn<int>("changes");

    const QVariant none;
    QTest::newRow("integer text") << "number" << none << QVariant("12") << true << QVariant(12)
                                  << 1;
    QTest::newRow("same integer again")
        << "number" << QVariant(12) << QVariant("12") << true << QVariant(12) << 0;
    QTest::newRow("integer from text that does not fit")
        << "number" << QVariant(3) << QVariant("abc") << false << QVariant(3) << 0;
    QTest::newRow("first value that does not fit")
        << "number" << none << QVariant("4x2") << false << none << 0;
    QTest::newRow("empty text") << "number" << QVariant(3) << QVariant("") << false << QVariant(3)
                                << 0;
    QTest::newRow("number passes") << "number" << none << QVariant(7) << true << QVariant(7) << 1;
    QTest::newRow("enum label any case")
        << "enum" << QVariant(1) << QVariant("cLOSED") << true << QVariant(2) << 1;
    QTest::newRow("enum unknown label")
        << "enum" << QVariant(1) << QVariant("Ajar") << false << QVariant(1) << 0;
    QTest::newRow("text kept") << "string" << none << QVariant("abc") << true << QVariant("abc")
                               << 1;
}

void TestDPointModelItemData::setData()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, initial);
    QFETCH(QVariant, edit);
    QFETCH(bool, accepted);
    QFETCH(QVariant, after);
    QFETCH(int, changes);

    Fixture fixture(kind);
    if (initial.isValid())
        fixture.point.setCurrentValue(initial);
    DPointModelItemData item(&fixture.point);
    QSignalSpy spy(&fixture.point, &DPointObject::valueChanged);

    QCOMPARE(item.setData(1, edit), accepted);
    QCOMPARE(spy.count(), changes);
    if (changes > 0)
        QCOMPARE(spy.at(0).at(0).value<DPointObject*>(), &fixture.point);
    QCOMPARE(fixture.point.isAvailable(), after.isValid());
    QCOMPARE(fixture.point.isPending(), false);
    const QVariant value = fixture.point.getCurrentValue();
    QCOMPARE(value.userType(), after.userType());
    QCOMPARE(value, after);
}

void TestDPointModelItemData::itemWithoutPoint()
{
    DPointModelItemData item(nullptr);
    for (int column = 0; column < 4; ++column) {
        for (int role : { int(Qt::DisplayRole), int(Qt::EditRole), worksheetRole })
            QVERIFY(!item.data(column, role).isValid());
    }
    QVERIFY(!item.setData(1, QStringLiteral("12")));
    QCOMPARE(item.getDPointDef(), nullptr);
    QCOMPARE(item.getDPointObject(), nullptr);
}

void TestDPointModelItemData::pointWithoutDefinition()
{
    DPointObject point;
    point.setCurrentValue(3);
    DPointModelItemData item(&point);
    QSignalSpy cov(&point, &DPointObject::covEnabled);

    for (int column = 0; column < 4; ++column) {
        for (int role : { int(Qt::DisplayRole), int(Qt::EditRole), worksheetRole })
            QVERIFY(!item.data(column, role).isValid());
    }
    QCOMPARE(cov.count(), 0);
    QCOMPARE(item.getDPointDef(), nullptr);

    // Without a definition nothing converts the text: it is stored as it came.
    QSignalSpy changed(&point, &DPointObject::valueChanged);
    QVERIFY(item.setData(1, QStringLiteral("abc")));
    QCOMPARE(changed.count(), 1);
    const QVariant value = point.getCurrentValue();
    QCOMPARE(value.userType(), int(QMetaType::QString));
    QCOMPARE(value.toString(), QStringLiteral("abc"));
}

void TestDPointModelItemData::roleData()
{
    Fixture fixture(QStringLiteral("enum"));
    DPointObject bare;
    DPointModelItemData withDefinition(&fixture.point);
    DPointModelItemData withoutDefinition(&bare);
    DPointModelItemData withoutPoint(nullptr);

    const int pointType = qMetaTypeId<DPointObject*>();
    const int defType = qMetaTypeId<DPointDef*>();
    struct Expected
    {
        DPointModelItemData* item;
        DPointObject* point;
        DPointDef* def;
    };
    const Expected cases[] = { { &withDefinition, &fixture.point, &fixture.def },
        { &withoutDefinition, &bare, nullptr }, { &withoutPoint, nullptr, nullptr } };
    for (Expected const& expected : cases) {
        const QVariant point = expected.item->roleData(pointRole);
        QCOMPARE(point.userType(), pointType);
        QCOMPARE(point.value<DPointObject*>(), expected.point);
        const QVariant def = expected.item->roleData(definitionRole);
        QCOMPARE(def.userType(), defType);
        QCOMPARE(def.value<DPointDef*>(), expected.def);
        QCOMPARE(expected.item->getDPointDef(), expected.def);
        for (int role : { 0, int(Qt::EditRole), 361, worksheetRole })
            QVERIFY(!expected.item->roleData(role).isValid());
    }
}

QTEST_GUILESS_MAIN(TestDPointModelItemData)

#include "tst_dpointmodelitemdata.moc"
