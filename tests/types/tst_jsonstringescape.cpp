#include <kivo/types/DPTypeBase.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QtTest>

using kivo::jsonStringEscape;

namespace {

QString units(std::initializer_list<char16_t> codeUnits)
{
    QString text;
    for (const char16_t unit : codeUnits)
        text += QChar(unit);
    return text;
}

// The escape written out step by step, as plainly as possible; the library's single pass must
// agree with it on every input.
QString referenceEscape(QString text)
{
    text.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    QString out;
    for (const QChar c : qAsConst(text)) {
        if (c.unicode() == 0)
            break;
        if (c.unicode() <= 0x7F)
            out += c;
        else
            out += QStringLiteral("\\u")
                + QString::number(c.unicode(), 16).rightJustified(4, QLatin1Char('0'));
    }
    out.replace(QStringLiteral("\""), QStringLiteral("\\\""));
    out.replace(QChar(0x08), QStringLiteral("\\b"));
    out.replace(QChar(0x0C), QStringLiteral("\\f"));
    out.replace(QChar(0x0A), QStringLiteral("\\n"));
    out.replace(QChar(0x0D), QStringLiteral("\\r"));
    out.replace(QChar(0x09), QStringLiteral("\\t"));
    return out;
}

} // namespace

class TestJsonStringEscape : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void escape_data();
    void escape();
    void parsesBack_data();
    void parsesBack();
    void agreesWithStepwiseEscape();
};

void TestJsonStringEscape::escape_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plain ascii") << QStringLiteral("abc 123 /x~") << QStringLiteral("abc 123 /x~");
    QTest::newRow("one backslash") << QStringLiteral("\\") << QStringLiteral("\\\\");
    QTest::newRow("pattern") << QStringLiteral("[0-9]\\d*") << QStringLiteral("[0-9]\\\\d*");
    QTest::newRow("quotation mark") << QStringLiteral("\"") << QStringLiteral("\\\"");
    QTest::newRow("backslash then quote") << QStringLiteral("\\\"") << QStringLiteral("\\\\\\\"");
    QTest::newRow("backslash and n") << QStringLiteral("\\n") << QStringLiteral("\\\\n");
    QTest::newRow("backspace") << units({ 0x08 }) << QStringLiteral("\\b");
    QTest::newRow("form feed") << units({ 0x0C }) << QStringLiteral("\\f");
    QTest::newRow("line feed") << units({ 0x0A }) << QStringLiteral("\\n");
    QTest::newRow("carriage return") << units({ 0x0D }) << QStringLiteral("\\r");
    QTest::newRow("tab") << units({ 0x09 }) << QStringLiteral("\\t");
    QTest::newRow("controls in text")
        << units({ 'a', 0x09, 'b', 0x0D, 0x0A, 'c' }) << QStringLiteral("a\\tb\\r\\nc");
    QTest::newRow("U+0001 unchanged") << units({ 0x01 }) << units({ 0x01 });
    QTest::newRow("U+001F unchanged") << units({ 0x1F }) << units({ 0x1F });
    QTest::newRow("U+000B unchanged") << units({ 0x0B }) << units({ 0x0B });
    QTest::newRow("U+007F unchanged") << units({ 0x7F }) << units({ 0x7F });
    QTest::newRow("U+0080") << units({ 0x80 }) << QStringLiteral("\\u0080");
    QTest::newRow("e acute") << units({ 0xE9 }) << QStringLiteral("\\u00e9");
    QTest::newRow("euro") << units({ 0x20AC }) << QStringLiteral("\\u20ac");
    QTest::newRow("U+FFFF") << units({ 0xFFFF }) << QStringLiteral("\\uffff");
    QTest::newRow("outside basic plane")
        << units({ 0xD83D, 0xDE00 }) << QStringLiteral("\\ud83d\\ude00");
    QTest::newRow("mixed") << units({ 'T', 0xE9, 'l', '"', '\\', 0x20AC })
                           << QStringLiteral("T\\u00e9l\\\"\\\\\\u20ac");
    QTest::newRow("embedded NUL") << units({ 'a', 0xE9, 0, 'b', '"' })
                                  << QStringLiteral("a\\u00e9");
    QTest::newRow("leading NUL") << units({ 0, 'x' }) << QString();
    QTest::newRow("backslashes after NUL") << units({ 'a', 0, '\\', '\\' }) << QStringLiteral("a");
}

void TestJsonStringEscape::escape()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(jsonStringEscape(input), expected);
}

void TestJsonStringEscape::parsesBack_data()
{
    QTest::addColumn<QString>("input");

    QTest::newRow("pattern") << QStringLiteral("^[A-Za-z0-9_\\-\\.]{1,32}$");
    QTest::newRow("quotes and slashes") << QStringLiteral("say \"hi\" / \\ \\\\");
    QTest::newRow("five controls") << units({ 0x08, 0x0C, 0x0A, 0x0D, 0x09 });
    QTest::newRow("non-latin") << units({ 0xE9, 0x20AC, 0x4E2D, 0xD83D, 0xDE00, 'z' });
}

void TestJsonStringEscape::parsesBack()
{
    QFETCH(QString, input);
    const QString json = QStringLiteral("[\"") + jsonStringEscape(input) + QStringLiteral("\"]");
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document.array().at(0).toString(), input);
}

void TestJsonStringEscape::agreesWithStepwiseEscape()
{
    const char16_t pool[] = { 'a', 'Z', '0', ' ', '/', '\\', '"', 'u', 0x00, 0x01, 0x08, 0x09, 0x0A,
        0x0B, 0x0C, 0x0D, 0x1F, 0x7F, 0x80, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xFFFF };
    const int poolSize = static_cast<int>(sizeof(pool) / sizeof(pool[0]));
    QRandomGenerator random(20240531);
    for (int round = 0; round < 2000; ++round) {
        QString input;
        const int length = random.bounded(40);
        for (int i = 0; i < length; ++i) {
            // NUL is rare so that most inputs are scanned to the end.
            char16_t unit = pool[random.bounded(poolSize)];
            if (unit == 0 && random.bounded(8) != 0)
                unit = '\\';
            input += QChar(unit);
        }
        const QString expected = referenceEscape(input);
        const QString actual = jsonStringEscape(input);
        if (actual != expected)
            QFAIL(qPrintable(
                QStringLiteral("input %1: got %2, expected %3")
                    .arg(QString::fromLatin1(input.toUtf8().toHex()), actual, expected)));
    }
}

QTEST_GUILESS_MAIN(TestJsonStringEscape)

#include "tst_jsonstringescape.moc"
