#include "core/NestingGuard_p.h"
#include "core/QtCompat_p.h"

#include <QDomDocument>
#include <QTest>

#include <algorithm>

using kivo::setDomContent;
using kivo::QtCompat::toInt;
using kivo::QtCompat::toLongLong;
using kivo::QtCompat::variantsEqual;

namespace {

QString escaped(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"));
}

// The nodes below parent as markup-like text: attributes sorted, white space escaped.
QString dump(const QDomNode& parent)
{
    QString out;
    for (QDomNode node = parent.firstChild(); !node.isNull(); node = node.nextSibling()) {
        switch (node.nodeType()) {
        case QDomNode::ElementNode: {
            QStringList attributes;
            const QDomNamedNodeMap map = node.attributes();
            for (int i = 0; i < map.count(); ++i) {
                attributes.append(QLatin1Char(' ') + map.item(i).nodeName() + QLatin1String("=\"")
                    + escaped(map.item(i).nodeValue()) + QLatin1Char('"'));
            }
            std::sort(attributes.begin(), attributes.end());
            out += QLatin1Char('<') + node.nodeName() + attributes.join(QString())
                + QLatin1Char('>') + dump(node) + QLatin1String("</") + node.nodeName()
                + QLatin1Char('>');
            break;
        }
        case QDomNode::TextNode:
            out += QLatin1Char('{') + escaped(node.nodeValue()) + QLatin1Char('}');
            break;
        case QDomNode::CDATASectionNode:
            out += QLatin1String("[CDATA ") + escaped(node.nodeValue()) + QLatin1Char(']');
            break;
        case QDomNode::ProcessingInstructionNode:
            out += QLatin1String("<?") + node.nodeName() + QLatin1Char(' ') + node.nodeValue()
                + QLatin1String("?>");
            break;
        case QDomNode::CommentNode:
            out += QLatin1String("<!--") + node.nodeValue() + QLatin1String("-->");
            break;
        case QDomNode::EntityReferenceNode:
            out += QLatin1Char('&') + node.nodeName() + QLatin1Char(';');
            break;
        default:
            break;
        }
    }
    return out;
}

void elementLines(const QDomNode& parent, QStringList* lines)
{
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        lines->append(e.tagName() + QLatin1Char(':') + QString::number(e.lineNumber()));
        elementLines(e, lines);
    }
}

} // namespace

class tst_QtCompat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void variantsEqual_data();
    void variantsEqual();
    void toInteger_data();
    void toInteger();
    void domContent_data();
    void domContent();
    void domLineNumbers();
};

// Each row is what Qt 5 answers for left == right; on Qt 5 the row is checked against Qt too.
void tst_QtCompat::variantsEqual_data()
{
    QTest::addColumn<QVariant>("left");
    QTest::addColumn<QVariant>("right");
    QTest::addColumn<bool>("equal");

    const QVariant sentinel(QStringLiteral("32768"));
    QTest::newRow("int, sentinel text") << QVariant(32768) << sentinel << true;
    QTest::newRow("sentinel text, int") << sentinel << QVariant(32768) << true;
    QTest::newRow("qlonglong, sentinel text") << QVariant(qlonglong(32768)) << sentinel << true;
    QTest::newRow("double, sentinel text") << QVariant(32768.0) << sentinel << true;
    QTest::newRow("sentinel text, double") << sentinel << QVariant(32768.0) << true;
    QTest::newRow("bool, sentinel text") << QVariant(true) << sentinel << true;
    // The text is converted to the left operand's type, or the left operand to text.
    QTest::newRow("int, padded text")
        << QVariant(32768) << QVariant(QStringLiteral(" 32768")) << true;
    QTest::newRow("padded text, int")
        << QVariant(QStringLiteral(" 32768")) << QVariant(32768) << false;
    QTest::newRow("int, decimal text") << QVariant(1) << QVariant(QStringLiteral("1.0")) << false;
    QTest::newRow("double, text") << QVariant(1.0) << QVariant(QStringLiteral("1")) << true;
    QTest::newRow("text, double") << QVariant(QStringLiteral("1")) << QVariant(1.0) << true;
    QTest::newRow("int, exponent text")
        << QVariant(1000) << QVariant(QStringLiteral("1e3")) << false;
    QTest::newRow("double, exponent text")
        << QVariant(1000.0) << QVariant(QStringLiteral("1e3")) << true;
    QTest::newRow("int, word") << QVariant(0) << QVariant(QStringLiteral("abc")) << false;
    QTest::newRow("word, int") << QVariant(QStringLiteral("abc")) << QVariant(0) << false;
    QTest::newRow("bytes, int") << QVariant(QByteArrayLiteral("5")) << QVariant(5) << true;
    QTest::newRow("int, bytes") << QVariant(5) << QVariant(QByteArrayLiteral("5")) << true;
    QTest::newRow("bool, true text") << QVariant(true) << QVariant(QStringLiteral("true")) << true;
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

void tst_QtCompat::variantsEqual()
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
void tst_QtCompat::toInteger_data()
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

void tst_QtCompat::toInteger()
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

// What Qt 5's QDomDocument::setContent(bytes, false) accepts and builds; the error texts and
// lines are its parser's.
void tst_QtCompat::domContent_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("result"); // the nodes, or the message and the line

    QTest::newRow("white space kept in attributes and texts")
        << QByteArray("<r>\n <a x='1\t2\n3'>t\r\nu</a>\n <b> </b><c>\xc2\xa0</c>"
                      "<d><![CDATA[ ]]></d><?pi data?><!--c--></r>")
        << true
        << QString::fromUtf16(u"<r><a x=\"1\\t2\\n3\">{t\\r\\nu}</a><b></b><c></c><d>[CDATA  "
                              u"]</d><?pi data?><!--c--></r>");
    QTest::newRow("blank text between elements dropped")
        << QByteArray("<r>  <a/>  text  <b/>\t</r>") << true
        << QString::fromUtf16(u"<r><a></a>{  text  }<b></b></r>");
    QTest::newRow("CDATA and text") << QByteArray("<r><![CDATA[x]]>y</r>") << true
                                    << QString::fromUtf16(u"<r>[CDATA x]{y}</r>");
    QTest::newRow("character references") << QByteArray("<r>&amp;&#13;&#10;&#x20;</r>") << true
                                          << QString::fromUtf16(u"<r>{&\\r\\n }</r>");
    QTest::newRow("internal entities")
        << QByteArray("<!DOCTYPE r [<!ENTITY e 'val'><!ENTITY m '<q>in</q>'>]>"
                      "<r a='&e;'>&e;&m;<z/></r>")
        << true << QString::fromUtf16(u"<r a=\"val\">{val}<q>{in}</q><z></z></r>");
    QTest::newRow("external entity") << QByteArray("<!DOCTYPE r [<!ENTITY ext SYSTEM 'x.txt'>]>"
                                                   "<r>&ext;</r>")
                                     << true << QString::fromUtf16(u"<r>&ext;</r>");
    QTest::newRow("undeclared entity")
        << QByteArray("<r>&undefined;</r>") << true << QString::fromUtf16(u"<r>&undefined;</r>");
    QTest::newRow("external DTD") << QByteArray("<!DOCTYPE r SYSTEM 'x.dtd'><r>&ext;</r>") << true
                                  << QString::fromUtf16(u"<r>&ext;</r>");
    QTest::newRow("namespace prefixes kept")
        << QByteArray("<r xmlns:p='u'><p:a p:b='1'/></r>") << true
        << QString::fromUtf16(u"<r xmlns:p=\"u\"><p:a p:b=\"1\"></p:a></r>");
    QTest::newRow("XML declaration and byte-order mark")
        << QByteArray("\xef\xbb\xbf<?xml version='1.0'?><!--top--><r/>") << true
        << QString::fromUtf16(u"<?xml version='1.0'?><!--top--><r></r>");
    QTest::newRow("windows-1252")
        << QByteArray("<?xml version='1.0' encoding='windows-1252'?>"
                      "<r>\x80</r>")
        << true
        << QString::fromUtf16(u"<?xml version='1.0' encoding='windows-1252'?><r>{\u20AC}</r>");
    QTest::newRow("ISO-8859-15")
        << QByteArray("<?xml version='1.0' encoding='ISO-8859-15'?>"
                      "<r>\xa4</r>")
        << true
        << QString::fromUtf16(u"<?xml version='1.0' encoding='ISO-8859-15'?><r>{\u20AC}</r>");
    QTest::newRow("control character")
        << QByteArray("<r>\x01</r>") << true << QString::fromUtf16(u"<r>{\u0001}</r>");
    QTest::newRow("repeated attribute")
        << QByteArray("<r a='1' a='2'/>") << true << QString::fromUtf16(u"<r a=\"2\"></r>");
    QTest::newRow("bytes that are not UTF-8")
        << QByteArray("<r>\xff\xfe</r>") << true << QString::fromUtf16(u"<r>{\uFFFD\uFFFD}</r>");
    QTest::newRow("tag mismatch") << QByteArray("<r><a></b></r>") << false
                                  << QString::fromUtf16(u"tag mismatch at line 1");
    QTest::newRow("empty") << QByteArray() << false
                           << QString::fromUtf16(u"unexpected end of file at line 1");
    QTest::newRow("two roots") << QByteArray("<r/><r/>") << false
                               << QString::fromUtf16(u"unexpected character at line 1");
    QTest::newRow("UTF-16 declared, UTF-8 given")
        << QByteArray("<?xml version='1.0' encoding='UTF-16'?><r/>") << false
        << QString::fromUtf16(u"error occurred while parsing element at line 1");
}

void tst_QtCompat::domContent()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, parsed);
    QFETCH(QString, result);
    QDomDocument document;
    QString message;
    int line = 0;
    QCOMPARE(setDomContent(&document, content, &message, &line), parsed);
    const QString actual
        = parsed ? dump(document) : message + QLatin1String(" at line ") + QString::number(line);
    QCOMPARE(actual, result);
}

// The elements carry the lines their start tags end on, as Qt 5 gives them.
void tst_QtCompat::domLineNumbers()
{
    QDomDocument document;
    QString message;
    int line = 0;
    QVERIFY(setDomContent(&document,
        QByteArray("<r>\n<a\n  b='1'\n  c='2'\n>x\r\n</a>\n\n<b/><c>\n<d/></c></r>"), &message,
        &line));
    QStringList lines;
    elementLines(document, &lines);
    QCOMPARE(lines.join(QLatin1Char(' ')), QStringLiteral("r:1 a:5 b:8 c:8 d:9"));
}

QTEST_GUILESS_MAIN(tst_QtCompat)
#include "tst_qtcompat.moc"
