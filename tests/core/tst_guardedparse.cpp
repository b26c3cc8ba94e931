#include "core/NestingGuard_p.h"

#include <QDomDocument>
#include <QTest>

#include <algorithm>

using kivo::setDomContent;

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

// The loaders' guarded DOM parse: Qt 5's documents, errors and lines on both Qt versions.
class tst_GuardedParse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void domContent_data();
    void domContent();
    void domLineNumbers();
};

// What Qt 5's QDomDocument::setContent(bytes, false) accepts and builds; the error texts and
// lines are its parser's.
void tst_GuardedParse::domContent_data()
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

void tst_GuardedParse::domContent()
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
void tst_GuardedParse::domLineNumbers()
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

QTEST_GUILESS_MAIN(tst_GuardedParse)
#include "tst_guardedparse.moc"
