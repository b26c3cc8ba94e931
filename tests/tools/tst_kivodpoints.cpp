#include <kivo/core/TopicLogger.h>
#include <kivo/loader/DPDictLoader.h>

#include <QDomDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// kivo-dpoints as a user meets it: every run of tests/data/tools/runs.txt with its exit code,
// standard output and standard error compared whole.
class TestKivoDpoints : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The parser's message as the library gives it (Qt 5's parser, also with Qt 6).
        QDomDocument document;
        int line = 0;
        QVERIFY(!kivo::DPDictLoader::readDocument(expand("%D/B"), &document, &m_xmlError, &line));
        QString absent;
        QVERIFY(!kivo::DPDictLoader::readDocument(expand("%D/-"), &document, &absent, &line));
        QCOMPARE(absent, "Could not open '" + expand("%D/-") + "'");
    }

    void run_data()
    {
        QTest::addColumn<QStringList>("run");
        for (const QString& line :
            read(QStringLiteral(KIVO_TEST_DATA_DIR "/tools/runs.txt")).split('\n')) {
            if (!line.isEmpty() && !line.startsWith('#'))
                QTest::newRow(qPrintable(line.section('\t', 0, 0))) << line.split('\t');
        }
    }

    void run()
    {
        QFETCH(QStringList, run);
        QProcess process;
        process.start(KIVO_DPOINTS_EXE, expand(run[0]).split(' ', Qt::SkipEmptyParts));
        QVERIFY(process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), expand(run[3]));
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), expand(run[2]));
        QCOMPARE(QString::number(process.exitCode()), run[1]);
    }

    // Mistakes a person writing a first dictionary makes, each with what lint prints for it. The
    // dictionary is the fragment from line 4 on, after an EnumDef "onOff" (0 Off, 1 On) on
    // line 3; the measurement file is units.xml, or the fragment from line 4 on after the
    // system "msys.us" on line 3. %F stands for the dictionary, %M for the measurement file.
    void mistakes_data()
    {
        QTest::addColumn<QString>("dictionary");
        QTest::addColumn<QString>("measurements");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        const QString int16 = "<VariableDef variableName=\"Speed\">\n<DataItem type=\"Int16\">\n";
        const QString end = "</DataItem>\n</VariableDef>\n";

        QTest::newRow("a misspelled limit leaves the maximum at 0")
            << int16 + "<RawValueMin>20</RawValueMin>\n<RawValueMaximum>100</RawValueMaximum>\n"
                + end
            << "" << 1
            << "%F:6: error: RawValueMin 20 of point 'Speed' is above its RawValueMax 0\n"
               "%F:7: warning: unknown element <RawValueMaximum> in DataItem of point 'Speed' is "
               "not read; did you mean <RawValueMax>?\n";
        QTest::newRow("a misspelled external name is not read")
            << "<VariableDef variableName=\"Speed\">\n<DataItem type=\"Int16\"/>\n"
               "<ExternalNmae>Pump speed</ExternalNmae>\n</VariableDef>\n"
            << "" << 0
            << "%F:6: warning: unknown element <ExternalNmae> in VariableDef of point 'Speed' is "
               "not read; did you mean <ExternalName>?\n";
        QTest::newRow("a misspelled VariableDef makes the point vanish")
            << "<Points>\n<VaribleDef variableName=\"Flow\"><DataItem "
               "type=\"Int16\"/></VaribleDef>\n"
               "</Points>\n"
            << "" << 0
            << "%F:5: warning: unknown element <VaribleDef> is not read; did you mean "
               "<VariableDef>?\n";
        QTest::newRow("a VariableDef without a name loads a nameless point")
            << "<VariableDef>\n<DataItem type=\"Int16\"/>\n</VariableDef>\n"
            << "" << 1
            << "%F:4: error: VariableDef without a variableName gives a point with an empty "
               "name\n";
        QTest::newRow("a misspelled name attribute loads a nameless point")
            << "<VariableDef variablename=\"Speed\">\n<DataItem type=\"Int16\"/>\n</VariableDef>\n"
            << "" << 1
            << "%F:4: warning: unknown attribute variablename on VariableDef is not read; did you "
               "mean variableName?\n"
               "%F:4: error: VariableDef without a variableName gives a point with an empty "
               "name\n";
        QTest::newRow("a default outside the limits")
            << int16
                + "<RawValueDflt>120</RawValueDflt>\n<RawValueMin>20</RawValueMin>\n"
                  "<RawValueMax>100</RawValueMax>\n"
                + end
            << "" << 1
            << "%F:6: error: default 120 of point 'Speed' is outside its limits 20 to 100\n";
        QTest::newRow("a minimum above the maximum")
            << int16 + "<RawValueMin>100</RawValueMin>\n<RawValueMax>20</RawValueMax>\n" + end << ""
            << 1 << "%F:6: error: RawValueMin 100 of point 'Speed' is above its RawValueMax 20\n";
        QTest::newRow("a limit beyond the storage type")
            << int16 + "<RawValueMin>0</RawValueMin>\n<RawValueMax>40000</RawValueMax>\n" + end
            << "" << 1
            << "%F:7: error: RawValueMax 40000 of point 'Speed' does not fit its type \"Int16\" "
               "(-32768 to 32767)\n";
        QTest::newRow("a conversion from an unknown unit")
            << ""
            << "<MUnitConverter id=\"conv\"><Label>x</Label><Scale>2</Scale></MUnitConverter>\n"
               "<MUnitDef2Converter><ConverterId>conv</ConverterId>\n<SrcMUnitId>rmp</SrcMUnitId>\n"
               "<DstMUnitId>msys.us</DstMUnitId><Resolution>1</Resolution></MUnitDef2Converter>\n"
            << 0
            << "%M:6: warning: MUnitDef2Converter of \"conv\" names no MUnitDef \"rmp\" as its "
               "SrcMUnitId\n";
    }

    void mistakes()
    {
        QFETCH(QString, dictionary);
        QFETCH(QString, measurements);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QTemporaryDir dir;
        const QString dictionaryPath = dir.filePath("pump.xml");
        QString measurementsPath = KIVO_TEST_DATA_DIR "/tools/units.xml";
        QVERIFY(write(dictionaryPath,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DeviceDictionary>\n<EnumDef "
            "id=\"onOff\"><Enum value=\"0\">Off</Enum><Enum value=\"1\">On</Enum></EnumDef>\n"
                + dictionary + "</DeviceDictionary>\n"));
        if (!measurements.isEmpty()) {
            measurementsPath = dir.filePath("units.xml");
            QVERIFY(write(measurementsPath,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MeasurementDefinitions>\n"
                "<MSystemDef id=\"msys.us\"><Label>US</Label></MSystemDef>\n"
                    + measurements + "</MeasurementDefinitions>\n"));
        }
        QProcess process;
        process.start(KIVO_DPOINTS_EXE, { "lint", "-m", measurementsPath, dictionaryPath });
        QVERIFY(process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
            QString(output).replace("%F", dictionaryPath).replace("%M", measurementsPath));
        QCOMPARE(process.exitCode(), exitCode);
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
        QCOMPARE(checked, 7);
        QVERIFY(QString::fromUtf8(readme.readAll())
                    .contains('`' + kivo::TopicLogger::getTopicListString() + "`.\n"));
    }

private:
    static bool write(const QString& path, const QString& text)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
    }

    static QString read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "<missing>";
    }

    // %D: tests/data/tools, %S: the bundled samples, %E: the XML parser's message on the file B
    // (its wording depends on Qt); "@name": tests/data/tools/name; \n: a line break.
    QString expand(QString text) const
    {
        const QString data = KIVO_TEST_DATA_DIR "/tools";
        text = text.startsWith('@')
            ? read(data + '/' + text.mid(1))
            : text.replace("\\\\", "\x01").replace("\\n", "\n").replace("\x01", "\\");
        return text.replace("%D", data)
            .replace("%S", KIVO_SAMPLE_DATA_DIR)
            .replace("%E", m_xmlError);
    }

    QString m_xmlError;
};

QTEST_GUILESS_MAIN(TestKivoDpoints)
#include "tst_kivodpoints.moc"
