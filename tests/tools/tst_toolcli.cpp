#include <kivo/core/TopicLogger.h>

#include <QDomDocument>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

// The kivo-dpoints command line as a user meets it: help, unknown commands, files that cannot
// be loaded, and what show, lint, convert and json say about odd input.
class TestToolCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void helpPerCommand();
    void bundledSamplesLintClean();
    void documentedTextsMatch();

private:
    QString withPaths(QString text) const;

    QTemporaryDir m_dir;
    QString m_xmlError; // the XML parser's message for file B; its wording depends on Qt
};

// Exit code (-1 for a crash), standard output and standard error of one run of the tool.
static QStringList run(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(KIVO_DPOINTS_EXE), arguments);
    const bool normal
        = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return { QString::number(normal ? process.exitCode() : -1),
        QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

// %U, %B, ... stand for the files written by initTestCase, %E for the parser's message.
QString TestToolCli::withPaths(QString text) const
{
    text.replace(QLatin1String("%E"), m_xmlError);
    for (const char* name : { "U", "B", "X", "T", "R", "N", "Q" }) {
        text.replace(QLatin1Char('%') + QLatin1String(name), m_dir.filePath(QLatin1String(name)));
    }
    return text;
}

void TestToolCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Units: "rough" is converted but has no display resolution; "pct" has no conversion.
    const QMap<QString, QByteArray> files {
        { "U",
            "<MSystemDef id=\"msys.us\"/><MUnitDef id=\"pct\"><Scale>1</Scale><Resolution>1"
            "</Resolution></MUnitDef><MUnitDef id=\"rough\"><Scale>1</Scale></MUnitDef>"
            "<MUnitConverter id=\"c\"><Label>u</Label><Scale>1</Scale></MUnitConverter>"
            "<MUnitDef2Converter><ConverterId>c</ConverterId><SrcMUnitId>rough</SrcMUnitId>"
            "<DstMUnitId>msys.us</DstMUnitId></MUnitDef2Converter>" },
        { "B", "<VariableDef>" },
        { "T",
            "<VariableDef variableName=\"Clock\"><DataItem type=\"Time\"><Epoch>1970-Jan-01 "
            "(GMT)</Epoch></DataItem></VariableDef>" },
        { "R",
            "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"><UomId>rough</UomId>"
            "</DataItem></VariableDef>" },
        { "N",
            "<!-- Skipped: shows what lint says --><VariableDef variableName=\"P\"><DataItem "
            "type=\"Bool\"/></VariableDef>" },
        { "Q",
            "<VariableDef variableName=\"Bad&quot;Name\"><DataItem type=\"IPv4\"/></VariableDef>"
            "<VariableDef variableName=\"Odd\"><DataItem type=\"Real\"><RawValueMin>nan"
            "</RawValueMin></DataItem></VariableDef>" },
    };
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(m_dir.filePath(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?>\n<Doc>\n" + it.value() + "\n</Doc>\n");
    }
    QFile broken(m_dir.filePath("B"));
    QVERIFY(broken.open(QIODevice::ReadOnly) && !QDomDocument().setContent(&broken, &m_xmlError));
}

void TestToolCli::commandLine_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("unknown command")
        << "frobnicate" << 2 << ""
        << "kivo-dpoints: unknown command 'frobnicate'\nUsage: kivo-dpoints [options] [command] "
           "[arguments...]\nCommands: show (the default), json, lint, convert. See kivo-dpoints "
           "--help.\n";
    QTest::newRow("dictionary not well-formed")
        << "show -m %U %B" << 2 << ""
        << "%B:4: error: the dictionary is not well-formed XML (library: Failed to parse %B, "
           "error: %E, errLine: 4)\n";
    QTest::newRow("dictionary missing")
        << "lint -m %U %X" << 2 << ""
        << "%X: error: cannot open the dictionary: No such file or directory (library: Could not "
           "open '%X')\n";
    QTest::newRow("measurements not well-formed")
        << "show -m %B" << 2 << ""
        << "%B:4: error: the measurement file is not well-formed XML: %E (library: PXC "
           "parsing failure '%B')\n";
    QTest::newRow("measurements missing")
        << "json -m %X" << 2 << ""
        << "%X: error: cannot open the measurement file (library: PXC open failure '%X': No such "
           "file or directory)\n";
    QTest::newRow("epoch by its keyword")
        << "show -m %U %T" << 0
        << "Dictionary T (%T)\nNAME   TYPE  ACCESS  DEFAULT  MIN  MAX  RESOLUTION  UNITS  NOTES\n"
           "Clock  time  -       0                                     epoch 1970-Jan-01 (GMT)\n"
           "T: 1 point (1 time), 0 entries skipped\n"
        << "";
    QTest::newRow("unit without resolution")
        << "lint -m %U %R" << 1
        << "%R:3: warning: unit \"rough\" of point 'A' has no display resolution (0 in the "
           "measurement file); its values show six decimals\n"
        << "";
    QTest::newRow("entry skipped on purpose")
        << "lint -m %U %N" << 0
        << "%N:3: note: entry 'P' is skipped: the DataItem type selects no point type (type "
           "\"Bool\"), as its comment says\n"
        << "";
    QTest::newRow("convert without display conversion")
        << "convert -m %U pct 42" << 1 << "42\n"
        << "kivo-dpoints: warning: unit 'pct' has no conversion into \"msys.us\" in '%U'; the "
           "values are shown in the unit itself, without a label\n";
    QTest::newRow("json escapes what it must")
        << "json -m %U %Q" << 1
        << "[\n  {\"name\":\"Q\", \"definitions\":[\n    {\"type\":\"ipv4\", \"default\":\"\", "
           "\"variableName\":\"Bad\\\"Name\", \"externalName\":\"\", \"lineId\":\"\", "
           "\"access\":\"\"},\n    \"{\\\"type\\\":\\\"qreal\\\", \\\"default\\\":0, "
           "\\\"min\\\":nan, \\\"max\\\":0, \\\"resolution\\\":1, \\\"unitsLabel\\\":\\\"\\\", "
           "\\\"variableName\\\":\\\"Odd\\\", \\\"externalName\\\":\\\"\\\", "
           "\\\"lineId\\\":\\\"\\\", \\\"access\\\":\\\"\\\"}\"\n  ]}\n]\n"
        << "kivo-dpoints: %Q: the JSON text of point 'Bad\"Name' is not valid JSON (unterminated "
           "object at offset 51); its texts are escaped here\nkivo-dpoints: %Q: the JSON text "
           "of point 'Odd' is not valid JSON (illegal value at offset 38); it is given here as a "
           "JSON string\n";
}

void TestToolCli::commandLine()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    const QStringList result = run(withPaths(arguments).split(QLatin1Char(' ')));
    QCOMPARE(result, QStringList({ QString::number(exitCode), withPaths(out), withPaths(err) }));
    if (arguments.startsWith(QLatin1String("json")) && exitCode != 2) {
        QVERIFY(QJsonDocument::fromJson(result.at(1).toUtf8()).isArray());
    }
}

void TestToolCli::helpPerCommand()
{
    const QStringList usages { "[options] [command] [arguments...]",
        "show [options] [DICTIONARY...]", "json [options] [DICTIONARY...]",
        "lint [options] [DICTIONARY...]", "convert [options] UNIT VALUE..." };
    QSet<QString> texts;
    for (const QString& usage : usages) {
        QStringList arguments { "--help" };
        if (!usage.startsWith(QLatin1Char('['))) {
            arguments.prepend(usage.section(QLatin1Char(' '), 0, 0));
        }
        const QStringList result = run(arguments);
        QCOMPARE(result.at(0) + result.at(2), QStringLiteral("0")); // exit 0, nothing on stderr
        QCOMPARE(result.at(1).section(QLatin1Char('\n'), 0, 0), "Usage: kivo-dpoints " + usage);
        texts.insert(result.at(1));
    }
    QCOMPARE(texts.size(), usages.size());
}

void TestToolCli::bundledSamplesLintClean()
{
    const QStringList result = run({ "lint" });
    QCOMPARE(result.at(0) + result.at(2), QStringLiteral("0"));
    QVERIFY2(!result.at(1).contains(QLatin1String(": warning: ")), qPrintable(result.at(1)));
}

// The JSON lines of the dictionary format page (a trailing "...}" cuts one short) are what the
// tool gives for the bundled samples; the README gives the topic list a fresh library has.
void TestToolCli::documentedTextsMatch()
{
    const QString root = QStringLiteral(KIVO_SAMPLE_DATA_DIR "/../../");
    QFile docs(root + "docs/dictionary-format.md");
    QFile readme(root + "README.md");
    QVERIFY(docs.open(QIODevice::ReadOnly) && readme.open(QIODevice::ReadOnly));
    const QString json = run({ "json" }).at(1);
    int checked = 0;
    for (const QString& line : QString::fromUtf8(docs.readAll()).split(QLatin1Char('\n'))) {
        const QString text = line.endsWith(QLatin1String("...}")) ? line.chopped(4) : line;
        const bool documented = line.startsWith(QLatin1String("{\"type\":"));
        checked += documented ? 1 : 0;
        QVERIFY2(!documented || json.contains("\n    " + text), qPrintable(line));
    }
    QCOMPARE(checked, 4);
    QVERIFY(QString::fromUtf8(readme.readAll())
                .contains('`' + kivo::TopicLogger::getTopicListString() + "`.\n"));
}

QTEST_GUILESS_MAIN(TestToolCli)
#include "tst_toolcli.moc"
