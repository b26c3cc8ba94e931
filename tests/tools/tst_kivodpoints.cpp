#include <kivo/core/TopicLogger.h>

#include <QDomDocument>
#include <QProcess>
#include <QtTest>

// kivo-dpoints as a user meets it: every run's exit code, standard output and standard error,
// compared whole. In the texts %D stands for tests/data/tools, %S for the bundled samples, %E for
// the XML parser's message on the file B (its wording depends on Qt); "@name" for the contents
// of tests/data/tools/name.
class TestKivoDpoints : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QFile broken(expand("%D/B"));
        QVERIFY(
            broken.open(QIODevice::ReadOnly) && !QDomDocument().setContent(&broken, &m_xmlError));
    }

    void run_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const auto row
            = [](const char* arguments, int exitCode, const char* out, const char* err = "") {
                  QTest::newRow(arguments)
                      << arguments << exitCode << QString::fromUtf8(out) << QString::fromUtf8(err);
              };
        row("show -m %D/units.xml %D/clean.xml", 0, "@clean.show");
        row("-m %D/units.xml %D/counts.xml", 0, "@counts.show");
        row("show -m %D/units.xml %D/empty.xml", 0,
            "Dictionary empty (%D/empty.xml)\n(no points)\nempty: 0 points, 0 entries skipped\n");
        row("show -m %D/odd-units.xml %D/T", 0,
            "Dictionary T (%D/T)\nNAME   TYPE  ACCESS  DEFAULT  MIN  MAX  RESOLUTION  UNITS  "
            "NOTES\n"
            "Clock  time  -       0                                     epoch 1970-Jan-01 (GMT)\n"
            "T: 1 point (1 time), 0 entries skipped\n");
        row("json -m %D/units.xml %D/clean.xml %D/empty.xml", 0, "@clean.json");
        row("json -m %D/odd-units.xml %D/Q", 1, "@quote.json",
            "kivo-dpoints: %D/Q: the JSON text of point 'Bad\"Name' is not valid JSON "
            "(unterminated "
            "object at offset 51); its texts are escaped here\nkivo-dpoints: %D/Q: the JSON text "
            "of "
            "point 'Odd' is not valid JSON (illegal value at offset 38); it is given here as a "
            "JSON "
            "string\n");
        row("lint", 0, "@boiler.lint");
        row("lint -m %D/units.xml %D/clean.xml", 0, "");
        row("lint -m %D/units.xml %D/findings.xml", 1, "@findings.lint");
        row("lint -m %D/units-bad.xml %D/clean.xml", 1,
            "%D/units-bad.xml:9: warning: MUnitDef2Converter names no MUnitConverter "
            "\"conv.none\"\n");
        row("lint -m %D/units.xml %D/lint-quote.xml", 1,
            "%D/lint-quote.xml:5: warning: the JSON text of point 'Bad\"Name' is not valid JSON "
            "(unterminated object at offset 51)\n");
        row("lint -m %D/odd-units.xml %D/R", 1,
            "%D/R:3: warning: unit \"rough\" of point 'A' has no display resolution (0 in the "
            "measurement file); its values show six decimals\n");
        row("lint -m %D/odd-units.xml %D/N", 0,
            "%D/N:3: note: entry 'P' is skipped: the DataItem type selects no point type (type "
            "\"Bool\"), as its comment says\n");
        row("lint -m %D/units.xml %D/B %D/missing.xml %D/finding.xml", 2,
            "%D/finding.xml:4: warning: Access text \"rw\" of point 'A' grants nothing; only \"R\" "
            "and \"W\" count\n",
            "%D/B:4: error: the dictionary is not well-formed XML (library: Failed to parse %D/B, "
            "error: %E, errLine: 4)\n%D/missing.xml: error: cannot open the dictionary: No such "
            "file or directory (library: Could not open '%D/missing.xml')\n");
        row("json -m %D/units.xml %D/clean.xml %D/missing.xml", 2, "",
            "%D/missing.xml: error: cannot open the dictionary: No such file or directory "
            "(library: Could not open '%D/missing.xml')\n");
        row("show -m %D/B", 2, "",
            "%D/B:4: error: the measurement file is not well-formed XML: %E (library: PXC parsing "
            "failure '%D/B')\n");
        row("json -m %D/missing.xml", 2, "",
            "%D/missing.xml: error: cannot open the measurement file (library: PXC open failure "
            "'%D/missing.xml': No such file or directory)\n");
        row("convert -m %D/units.xml degC_x10 235 -40 1000", 0, "74.3 °F\n24.8 °F\n212.0 °F\n");
        row("convert -m %D/units-bad.xml degC_x10 235", 0, "74.3 °F\n",
            "kivo-dpoints: warning: measurements '%D/units-bad.xml': an MUnitDef2Converter names "
            "no MUnitConverter and is ignored (kivo-dpoints lint names it)\n");
        row("convert -m %D/units.xml furlongs 23.5", 1, "24\n",
            "kivo-dpoints: warning: unit 'furlongs' is not defined in '%D/units.xml'\n");
        row("convert -m %D/odd-units.xml pct 42", 1, "42\n",
            "kivo-dpoints: warning: unit 'pct' has no conversion into \"msys.us\" in "
            "'%D/odd-units.xml'; the values are shown in the unit itself, without a label\n");
        row("convert -m %D/units.xml degC_x10", 2, "",
            "kivo-dpoints: convert needs a unit and at least one value. See --help.\n");
        row("convert -m %D/units.xml degC_x10 warm", 2, "",
            "kivo-dpoints: 'warm' is not a number\n");
        row("--frobnicate", 2, "", "kivo-dpoints: Unknown option 'frobnicate'. See --help.\n");
        row("frobnicate", 2, "",
            "kivo-dpoints: unknown command 'frobnicate'\nUsage: kivo-dpoints [options] [command] "
            "[arguments...]\nCommands: show (the default), json, lint, convert. See kivo-dpoints "
            "--help.\n");
        row("--help", 0, "@help.txt");
        for (const char* command : { "show", "json", "lint", "convert" }) {
            const QByteArray arguments = QByteArray(command) + " --help";
            row(arguments, 0, "@help-" + QByteArray(command) + ".txt");
        }
    }

    void run()
    {
        QFETCH(QString, arguments);
        QProcess process;
        process.start(KIVO_DPOINTS_EXE, expand(arguments).split(' ', Qt::SkipEmptyParts));
        QVERIFY(process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), expand(err));
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), expand(out));
        QTEST(process.exitCode(), "exitCode");
    }

    // The JSON lines of the dictionary format page (a trailing "...}" cuts one short) are what
    // the tool gives for the bundled samples; the README gives a fresh library's topic list.
    void documentedTextsMatch()
    {
        QFile docs(KIVO_SAMPLE_DATA_DIR "/../../docs/dictionary-format.md");
        QFile readme(KIVO_SAMPLE_DATA_DIR "/../../README.md");
        QVERIFY(docs.open(QIODevice::ReadOnly) && readme.open(QIODevice::ReadOnly));
        QProcess process;
        process.start(KIVO_DPOINTS_EXE, { "json" });
        QVERIFY(process.waitForFinished(120000));
        const QString json = QString::fromUtf8(process.readAllStandardOutput());
        int checked = 0;
        for (const QString& line : QString::fromUtf8(docs.readAll()).split('\n')) {
            if (line.startsWith("{\"type\":") && ++checked)
                QVERIFY2(json.contains("\n    " + line.chopped(line.endsWith("...}") ? 4 : 0)),
                    qPrintable(line));
        }
        QCOMPARE(checked, 4);
        QVERIFY(QString::fromUtf8(readme.readAll())
                    .contains('`' + kivo::TopicLogger::getTopicListString() + "`.\n"));
    }

private:
    QString expand(QString text) const
    {
        const QString data = KIVO_TEST_DATA_DIR "/tools";
        if (text.startsWith('@')) {
            QFile file(data + '/' + text.mid(1));
            text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "<missing>";
        }
        return text.replace("%D", data)
            .replace("%S", KIVO_SAMPLE_DATA_DIR)
            .replace("%E", m_xmlError);
    }

    QString m_xmlError;
};

QTEST_GUILESS_MAIN(TestKivoDpoints)
#include "tst_kivodpoints.moc"
