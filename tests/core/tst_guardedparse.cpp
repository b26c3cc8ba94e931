#include "core/NestingGuard_p.h"

#include <QDomDocument>
#include <QTest>

#include <algorithm>

using kivo::setDomContent;

namespace {

QString escaped(QString text)
{
    return text.replace('\r', "\\r").replace('\n', "\\n").replace('\t', "\\t");
}

// The nodes below parent as markup-like text: attributes sorted, white space escaped.
QString dump(const QDomNode& parent)
{
    QString out;
    for (QDomNode node = parent.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QString name = node.nodeName(), value = node.nodeValue();
        if (node.isElement()) {
            QStringList attributes;
            for (int i = 0; i < node.attributes().count(); ++i) {
                const QDomNode a = node.attributes().item(i);
                attributes << ' ' + a.nodeName() + "=\"" + escaped(a.nodeValue()) + '"';
            }
            std::sort(attributes.begin(), attributes.end());
            out += '<' + name + attributes.join("") + '>' + dump(node) + "</" + name + '>';
        } else if (node.isCDATASection()) { // a CDATA section is a text node too
            out += "[CDATA " + escaped(value) + ']';
        } else if (node.isText()) {
            out += '{' + escaped(value) + '}';
        } else if (node.isProcessingInstruction()) {
            out += "<?" + name + ' ' + value + "?>";
        } else if (node.isComment()) {
            out += "<!--" + value + "-->";
        } else if (node.isEntityReference()) {
            out += '&' + name + ';';
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

    const auto row = [](const char* tag, const QByteArray& content, const char* result) {
        QTest::newRow(tag) << content << !QByteArray(result).contains(" at line ")
                           << QString::fromUtf8(result);
    };
    row("white space kept in attributes and texts",
        "<r>\n <a x='1\t2\n3'>t\r\nu</a>\n <b> </b><c>\xc2\xa0</c><d><![CDATA[ ]]></d><?pi data?>"
        "<!--c--></r>",
        "<r><a x=\"1\\t2\\n3\">{t\\r\\nu}</a><b></b><c></c><d>[CDATA  ]</d>"
        "<?pi data?><!--c--></r>");
    row("blank text between elements dropped", "<r>  <a/>  text  <b/>\t</r>",
        "<r><a></a>{  text  }<b></b></r>");
    row("CDATA and text", "<r><![CDATA[x]]>y</r>", "<r>[CDATA x]{y}</r>");
    row("character references", "<r>&amp;&#13;&#10;&#x20;</r>", "<r>{&\\r\\n }</r>");
    row("internal entities",
        "<!DOCTYPE r [<!ENTITY e 'val'><!ENTITY m '<q>in</q>'>]><r a='&e;'>&e;&m;<z/></r>",
        "<r a=\"val\">{val}<q>{in}</q><z></z></r>");
    row("external entity", "<!DOCTYPE r [<!ENTITY ext SYSTEM 'x.txt'>]><r>&ext;</r>",
        "<r>&ext;</r>");
    row("undeclared entity", "<r>&undefined;</r>", "<r>&undefined;</r>");
    row("external DTD", "<!DOCTYPE r SYSTEM 'x.dtd'><r>&ext;</r>", "<r>&ext;</r>");
    row("namespace prefixes kept", "<r xmlns:p='u'><p:a p:b='1'/></r>",
        "<r xmlns:p=\"u\"><p:a p:b=\"1\"></p:a></r>");
    row("XML declaration and byte-order mark", "\xef\xbb\xbf<?xml version='1.0'?><!--top--><r/>",
        "<?xml version='1.0'?><!--top--><r></r>");
    row("windows-1252", "<?xml version='1.0' encoding='windows-1252'?><r>\x80</r>",
        "<?xml version='1.0' encoding='windows-1252'?><r>{\u20AC}</r>");
    row("ISO-8859-15", "<?xml version='1.0' encoding='ISO-8859-15'?><r>\xa4</r>",
        "<?xml version='1.0' encoding='ISO-8859-15'?><r>{\u20AC}</r>");
    row("control character", "<r>\x01</r>", "<r>{\x01}</r>");
    row("repeated attribute", "<r a='1' a='2'/>", "<r a=\"2\"></r>");
    row("bytes that are not UTF-8", "<r>\xff\xfe</r>", "<r>{\uFFFD\uFFFD}</r>");
    row("tag mismatch", "<r><a></b></r>", "tag mismatch at line 1");
    row("empty", QByteArray(), "unexpected end of file at line 1");
    row("two roots", "<r/><r/>", "unexpected character at line 1");
    row("UTF-16 declared, UTF-8 given", "<?xml version='1.0' encoding='UTF-16'?><r/>",
        "error occurred while parsing element at line 1");
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
