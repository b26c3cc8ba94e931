#include "core/Qt5Values_p.h"

#include <QTest>

using kivo::Qt5Values::toInt;
using kivo::Qt5Values::toLongLong;
using kivo::Qt5Values::variantsEqual;

// Qt 5's results for variant comparison and integer conversion, kept on Qt 6: the same table
// passes on both.
class tst_Qt5Values : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void variantsEqual_data();
    void variantsEqual();
    void toInteger_data();
    void toInteger();
};

// Each row is what Qt 5 answers for left == right; on Qt 5 the row is checked against Qt too.
void tst_Qt5Values::variantsEqual_data()
{
    QTest::addColumn<QVariant>("left");
    QTest::addColumn<QVariant>("right");
    QTest::addColumn<bool>("equal");

    const auto text = [](const char* t) { return QVariant(QString::fromLatin1(t)); };
    const QVariant sentinel = text("32768");
    QTest::newRow("int, sentinel text") << QVariant(32768) << sentinel << true;
    QTest::newRow("sentinel text, int") << sentinel << QVariant(32768) << true;
    QTest::newRow("qlonglong, sentinel text") << QVariant(qlonglong(32768)) << sentinel << true;
    QTest::newRow("double, sentinel text") << QVariant(32768.0) << sentinel << true;
    QTest::newRow("sentinel text, double") << sentinel << QVariant(32768.0) << true;
    QTest::newRow("bool, sentinel text") << QVariant(true) << sentinel << true;
    // The text is converted to the left operand's type, or the left operand to text.
    QTest::newRow("int, padded text") << QVariant(32768) << text(" 32768") << true;
    QTest::newRow("padded text, int") << text(" 32768") << QVariant(32768) << false;
    QTest::newRow("int, decimal text") << QVariant(1) << text("1.0") << false;
    QTest::newRow("double, text") << QVariant(1.0) << text("1") << true;
    QTest::newRow("text, double") << text("1") << QVariant(1.0) << true;
    QTest::newRow("int, exponent text") << QVariant(1000) << text("1e3") << false;
    QTest::newRow("double, exponent text") << QVariant(1000.0) << text("1e3") << true;
    QTest::newRow("int, word") << QVariant(0) << text("abc") << false;
    QTest::newRow("word, int") << text("abc") << QVariant(0) << false;
    QTest::newRow("bytes, int") << QVariant(QByteArrayLiteral("5")) << QVariant(5) << true;
    QTest::newRow("int, bytes") << QVariant(5) << QVariant(QByteArrayLiteral("5")) << true;
    QTest::newRow("bool, true text") << QVariant(true) << text("true") << true;
    QTest::newRow("false, null text") << QVariant(false) << QVariant(QString()) << true;
    QTest::newRow("null text, false") << QVariant(QString()) << QVariant(false) << false;
    // Numbers compare by value whatever their types; nothing equals an invalid variant but
    // another one.
    QTest::newRow("bool, int") << QVariant(true) << QVariant(1) << true;
    QTest::newRow("int, uint") << QVariant(-1) << QVariant(4294967295u) << true;
    QTest::newRow("int, double") << QVariant(850) << QVariant(850.0) << true;
    QTest::newRow("int, other int") << QVariant(850) << QVariant(851) << false;
    QTest::newRow("invalid, zero") << QVariant() << QVariant(0) << false;
    QTest::newRow("zero, invalid") << QVariant(0) << QVariant() << false;
    QTest::newRow("null text, invalid") << QVariant(QString()) << QVariant() << false;
    QTest::newRow("invalid, invalid") << QVariant() << QVariant() << true;
}

void tst_Qt5Values::variantsEqual()
{
    QFETCH(QVariant, left);
    QFETCH(QVariant, right);
    QFETCH(bool, equal);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(left == right, equal);
#endif
    QCOMPARE(::variantsEqual(left, right), equal);
}

// Floating-point values round half up, as Qt 5's QVariant::toInt and toLongLong round them.
void tst_Qt5Values::toInteger_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("integer");
    QTest::addColumn<qlonglong>("longInteger");
    QTest::addColumn<bool>("ok");

    QTest::newRow("1.5") << QVariant(1.5) << 2 << 2LL << true;
    QTest::newRow("2.5") << QVariant(2.5) << 3 << 3LL << true;
    QTest::newRow("-1.5") << QVariant(-1.5) << -1 << -1LL << true;
    QTest::newRow("-2.5") << QVariant(-2.5) << -2 << -2LL << true;
    QTest::newRow("-32768.5") << QVariant(-32768.5) << -32768 << -32768LL << true;
    QTest::newRow("-0.5f") << QVariant(-0.5f) << 0 << 0LL << true;
    QTest::newRow("3.9999999") << QVariant(3.9999999) << 4 << 4LL << true;
    QTest::newRow("1e10") << QVariant(1e10) << 1410065408 << 10000000000LL << true;
    QTest::newRow("-2147483648.5")
        << QVariant(-2147483648.5) << int(-2147483647 - 1) << -2147483648LL << true;
    QTest::newRow("int") << QVariant(-7) << -7 << -7LL << true;
    QTest::newRow("text") << QVariant(QStringLiteral(" 12 ")) << 12 << 12LL << true;
    QTest::newRow("decimal text") << QVariant(QStringLiteral("1.5")) << 0 << 0LL << false;
    QTest::newRow("invalid") << QVariant() << 0 << 0LL << false;
}

void tst_Qt5Values::toInteger()
{
    QFETCH(QVariant, value);
    QFETCH(int, integer);
    QFETCH(qlonglong, longInteger);
    QFETCH(bool, ok);
    bool intOk = !ok;
    bool longOk = !ok;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(value.toInt(), integer);
    QCOMPARE(value.toLongLong(), longInteger);
#endif
    QCOMPARE(toInt(value, &intOk), integer);
    QCOMPARE(toLongLong(value, &longOk), longInteger);
    QCOMPARE(intOk, ok);
    QCOMPARE(longOk, ok);
}

QTEST_GUILESS_MAIN(tst_Qt5Values)
#include "tst_qt5values.moc"
