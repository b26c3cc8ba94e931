#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using kivo::DPointDef;
using kivo::DPointObject;
using kivo::DPTypeBase;

namespace {

DPTypeBase* makeType(const QString& kind)
{
    if (kind == QLatin1String("number"))
        return new kivo::DPTypeNumber;
    if (kind == QLatin1String("real"))
        return new kivo::DPTypeReal;
    if (kind == QLatin1String("enum")) {
        auto* type = new kivo::DPTypeEnum;
        type->_init(1, { { 1, QStringLiteral("Open") }, { 2, QStringLiteral("Closed") } });
        return type;
    }
    if (kind == QLatin1String("emptyEnum"))
        return new kivo::DPTypeEnum;
    if (kind == QLatin1String("ipv4"))
        return new kivo::DPTypeIPv4;
    if (kind == QLatin1String("time"))
        return new kivo::DPTypeTime;
    if (kind == QLatin1String("string"))
        return new kivo::DPTypeString;
    if (kind == QLatin1String("event"))
        return new kivo::DPTypeEvent;
    return nullptr;
}

} // namespace

class TestCheckDPointType : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void check_data();
    void check();
    void pointWithoutDefinition();
    void defaultLocaleDecides();
};

void TestCheckDPointType::init()
{
    QLocale::setDefault(QLocale::c());
}

void TestCheckDPointType::cleanup()
{
    QLocale::setDefault(QLocale::system());
}

void TestCheckDPointType::check_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");

    const auto text = [](const char* t) { return QVariant(QString::fromLatin1(t)); };
    const QVariant invalid;

    QTest::newRow("number 42") << "number" << text("42") << QVariant(42);
    QTest::newRow("number -7") << "number" << text("-7") << QVariant(-7);
    QTest::newRow("number 4x2") << "number" << text("4x2") << invalid;
    QTest::newRow("number empty") << "number" << text("") << invalid;
    QTest::newRow("number 2.5") << "number" << text("2.5") << invalid;
    QTest::newRow("number out of range") << "number" << text("2147483648") << invalid;
    QTest::newRow("number int passes") << "number" << QVariant(5) << QVariant(5);
    QTest::newRow("number double passes") << "number" << QVariant(5.5) << QVariant(5.5);
    QTest::newRow("number invalid passes") << "number" << invalid << invalid;
    QTest::newRow("number bytes pass")
        << "number" << QVariant(QByteArray("x")) << QVariant(QByteArray("x"));

    QTest::newRow("real 2.5") << "real" << text("2.5") << QVariant(2.5);
    QTest::newRow("real 3") << "real" << text("3") << QVariant(3.0);
    QTest::newRow("real abc") << "real" << text("abc") << invalid;
    QTest::newRow("real empty") << "real" << text("") << invalid;

    QTest::newRow("enum open") << "enum" << text("open") << QVariant(1);
    QTest::newRow("enum OPEN") << "enum" << text("OPEN") << QVariant(1);
    QTest::newRow("enum Open") << "enum" << text("Open") << QVariant(1);
    QTest::newRow("enum cLoSeD") << "enum" << text("cLoSeD") << QVariant(2);
    QTest::newRow("enum Ajar") << "enum" << text("Ajar") << invalid;
    QTest::newRow("enum not trimmed") << "enum" << text(" Open") << invalid;
    QTest::newRow("enum key text") << "enum" << text("1") << invalid;
    QTest::newRow("enum empty table") << "emptyEnum" << text("Open") << invalid;
    QTest::newRow("enum int passes") << "enum" << QVariant(7) << QVariant(7);

    QTest::newRow("ipv4 integer form") << "ipv4" << text("16909060") << QVariant(16909060);
    QTest::newRow("ipv4 dotted") << "ipv4" << text("1.2.3.4") << invalid;

    QTest::newRow("time 12") << "time" << text("12") << QVariant(12u);
    QTest::newRow("time max") << "time" << text("4294967295") << QVariant(4294967295u);
    QTest::newRow("time -1") << "time" << text("-1") << invalid;
    QTest::newRow("time 1.5") << "time" << text("1.5") << invalid;

    QTest::newRow("string unchanged") << "string" << text("4x2") << text("4x2");
    QTest::newRow("event unchanged") << "event" << text("Open") << text("Open");
    QTest::newRow("no type unchanged") << "none" << text("4x2") << text("4x2");
}

void TestCheckDPointType::check()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);

    DPointDef def;
    DPTypeBase* type = makeType(kind);
    def._init(QStringLiteral("p"), QStringLiteral("p"), QString(), QString(), 0, type);
    if (type)
        type->setParent(&def);
    DPointObject point;
    point.setDPointDef(&def);
    QSignalSpy covSpy(&point, &DPointObject::covEnabled);
    QSignalSpy changeSpy(&point, &DPointObject::valueChanged);

    const QVariant result = kivo::checkDPointType(value, point);
    QCOMPARE(result.isValid(), expected.isValid());
    QCOMPARE(result.userType(), expected.userType());
    QCOMPARE(result, expected);

    // The point is only read for its definition.
    QCOMPARE(covSpy.count(), 0);
    QCOMPARE(changeSpy.count(), 0);
    QVERIFY(!point.isAvailable());
}

void TestCheckDPointType::pointWithoutDefinition()
{
    DPointObject point;
    const QVariant text(QStringLiteral("4x2"));
    QCOMPARE(kivo::checkDPointType(text, point), text);
}

void TestCheckDPointType::defaultLocaleDecides()
{
    DPointDef def;
    auto* type = new kivo::DPTypeReal(&def);
    def._init(QStringLiteral("p"), QStringLiteral("p"), QString(), QString(), 0, type);
    DPointObject point;
    point.setDPointDef(&def);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(kivo::checkDPointType(QStringLiteral("2,5"), point), QVariant(2.5));
    QLocale::setDefault(QLocale::c());
    QVERIFY(!kivo::checkDPointType(QStringLiteral("2,5"), point).isValid());
}

QTEST_GUILESS_MAIN(TestCheckDPointType)
#include "tst_checkdpointtype.moc"
