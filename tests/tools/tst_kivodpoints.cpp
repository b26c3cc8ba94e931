#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace kivo;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(KIVO_DPOINTS_EXE), arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        run.err = QStringLiteral("<the tool did not finish normally>");
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Measurement file of the tests: degC_x10 is shown in degrees Fahrenheit, percent has no
// conversion into the display system. Line 8 is where extra entries go.
QStringList unitLines(const QStringList& extra = QStringList())
{
    QStringList lines { "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<Measurements>",
        "<MSystemDef id=\"msys.us\"><Label>US</Label></MSystemDef>",
        "<MUnitDef id=\"degC_x10\"><Label>0.1 C</Label><Scale>0.1</Scale>"
        "<Resolution>0.1</Resolution></MUnitDef>",
        "<MUnitDef id=\"percent\"><Label>%</Label><Scale>1</Scale>"
        "<Resolution>1</Resolution></MUnitDef>",
        "<MUnitConverter id=\"conv.degF\"><Label>\xc2\xb0"
        "F</Label><Scale>1.8</Scale><Offset>32</Offset></MUnitConverter>",
        "<MUnitDef2Converter><ConverterId>conv.degF</ConverterId><SrcMUnitId>degC_x10"
        "</SrcMUnitId><DstMUnitId>msys.us</DstMUnitId><Resolution>0.1</Resolution>"
        "</MUnitDef2Converter>" };
    lines += extra;
    lines.append("</Measurements>");
    return lines;
}

// A dictionary: the body starts on line 4, after the EnumDef "Modes" (0 Off, 1 On).
QStringList dictionaryLines(const QStringList& body)
{
    QStringList lines { "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<Dictionary>",
        "<EnumDef id=\"Modes\"><Enum value=\"0\">Off</Enum><Enum value=\"1\">On</Enum></EnumDef>" };
    lines += body;
    lines.append("</Dictionary>");
    return lines;
}

// One point of every type, none of them with anything lint reports.
const QStringList cleanBody {
    "<VariableDef variableName=\"SupplyTemp\"><DataItem type=\"Int16\"><RawValueDflt>215"
    "</RawValueDflt><RawValueMin>0</RawValueMin><RawValueMax>1000</RawValueMax><UomId>degC_x10"
    "</UomId><UnitsOfMeasure>0.1 C</UnitsOfMeasure></DataItem><ExternalName>Supply temperature"
    "</ExternalName><Access>R</Access></VariableDef>",
    "<VariableDef variableName=\"Mode\"><DataItem type=\"Enum\"><EnumDefId>Modes</EnumDefId>"
    "<RawValueDflt>On</RawValueDflt></DataItem><Access>R</Access><Access>W</Access></VariableDef>",
    "<VariableDef variableName=\"Ratio\"><DataItem type=\"Real32\"><RawValueDflt>1.5"
    "</RawValueDflt><RawValueMin>0</RawValueMin><RawValueMax>2.5</RawValueMax><UnitsOfMeasure>x"
    "</UnitsOfMeasure></DataItem><ShowVar>supplytemp</ShowVar></VariableDef>",
    "<VariableDef variableName=\"Tag\"><DataItem type=\"String\"><Default>B-1</Default>"
    "<CharRegex>[A-Z]\\d</CharRegex><LengthMax>8</LengthMax></DataItem><Access>W</Access>"
    "</VariableDef>",
    "<VariableDef variableName=\"HighTemp\"><DataItem type=\"Event\"><EventType "
    "changeable=\"true\">"
    "Alarm</EventType><AckType>MA</AckType><ResetType>AR</ResetType></DataItem><EventId>7"
    "</EventId><Description>Too hot</Description><AssociatedVariable type=\"Temp\">SupplyTemp "
    "ratio</AssociatedVariable></VariableDef>",
    "<VariableDef variableName=\"Gateway\"><DataItem type=\"IPv4\"/></VariableDef>",
    "<VariableDef variableName=\"Clock\"><DataItem type=\"DateTime\"><Epoch>Midnight</Epoch>"
    "<RawValueDflt>3600</RawValueDflt></DataItem></VariableDef>",
};

const QString eventItem
    = QStringLiteral("<DataItem type=\"Event\"><EventType>Alarm</EventType><AckType>MA</AckType>"
                     "<ResetType>MR</ResetType></DataItem>");

// A dictionary loaded in this process as the tool loads it; the registry outlives it.
struct InProcess
{
    std::unique_ptr<MeasurementRegistry> registry;
    std::unique_ptr<DPointDictionary> dictionary;
};

InProcess loadInProcess(
    const QString& dictionaryPath, const QString& measurementsPath, const QString& name)
{
    InProcess loaded;
    loaded.registry.reset(MeasurementLoader::loadMeasurementRegistry(measurementsPath));
    DPDictLoader loader(nullptr, nullptr, loaded.registry.get());
    loaded.dictionary.reset(loader.load(dictionaryPath, name));
    return loaded;
}

QString skipped(const QString& name, DPDictFormat::SkipReason reason, const QString& detail)
{
    return QStringLiteral("entry '") + name + QStringLiteral("' is skipped: ")
        + DPDictFormat::skipReasonText(reason) + QStringLiteral(" (") + detail + QLatin1Char(')');
}

} // namespace

class TestKivoDpoints : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void exitStatusAndErrorLine_data();
    void exitStatusAndErrorLine();

    void showPrintsTableAndSummary();
    void showSummaryCountsSkippedAndReplaced();
    void showBundledSample();
    void noArgumentsShowsBundledSample();

    void jsonMatchesLoadedDefinitions_data();
    void jsonMatchesLoadedDefinitions();

    void lintFinding_data();
    void lintFinding();
    void lintCleanFileIsSilent();
    void lintReportsInvalidJson();
    void lintContinuesAfterUnloadableFile();

    void convert_data();
    void convert();

private:
    QString writeFile(const QString& name, const QStringList& lines);

    QTemporaryDir m_dir;
    QString m_units;
    QString m_clean;
};

QString TestKivoDpoints::writeFile(const QString& name, const QStringList& lines)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return QString();
    }
    file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    return path;
}

void TestKivoDpoints::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFileInfo(QStringLiteral(KIVO_DPOINTS_EXE)).isExecutable());
    m_units = writeFile(QStringLiteral("units.xml"), unitLines());
    m_clean = writeFile(QStringLiteral("clean.xml"), dictionaryLines(cleanBody));
    QVERIFY(!m_units.isEmpty() && !m_clean.isEmpty());
}

void TestKivoDpoints::exitStatusAndErrorLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    const QString missing = m_dir.filePath(QStringLiteral("missing.xml"));
    QTest::newRow("clean dictionary")
        << QStringList { "show", "-m", m_units, m_clean } << 0 << QString();
    QTest::newRow("missing dictionary, json")
        << QStringList { "json", "-m", m_units, m_clean, missing } << 2
        << QStringLiteral("%1: error: cannot open the dictionary: No such file or directory "
                          "(library: Could not open '%1')\n")
               .arg(missing);
    const QString unitsWithBadEntry = writeFile(QStringLiteral("bad-entry-units.xml"),
        unitLines({ "<MUnitDef2Converter><ConverterId>conv.none</ConverterId>"
                    "</MUnitDef2Converter>" }));
    QTest::newRow("measurement entry naming no conversion")
        << QStringList { "convert", "-m", unitsWithBadEntry, "degC_x10", "235" } << 0
        << QStringLiteral("kivo-dpoints: warning: measurements '%1': an MUnitDef2Converter names "
                          "no MUnitConverter and is ignored (kivo-dpoints lint names it)\n")
               .arg(unitsWithBadEntry);
    QTest::newRow("unknown option") << QStringList { "--frobnicate" } << 2
                                    << QStringLiteral("kivo-dpoints: Unknown option "
                                                      "'frobnicate'. See --help.\n");
    QTest::newRow("convert without value")
        << QStringList { "convert", "-m", m_units, "degC_x10" } << 2
        << QStringLiteral("kivo-dpoints: convert needs a unit and at least one value. See "
                          "--help.\n");
    QTest::newRow("convert text") << QStringList { "convert", "-m", m_units, "degC_x10", "warm" }
                                  << 2 << QStringLiteral("kivo-dpoints: 'warm' is not a number\n");
}

void TestKivoDpoints::exitStatusAndErrorLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    const Run run = runTool(arguments);
    QCOMPARE(run.err, error);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 2) {
        QCOMPARE(run.out, QString());
    }
}

void TestKivoDpoints::showPrintsTableAndSummary()
{
    const Run run = runTool({ "show", "-m", m_units, m_clean });
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const QStringList expected {
        QStringLiteral("Dictionary clean (%1)").arg(m_clean),
        "NAME        TYPE   ACCESS  DEFAULT  MIN   MAX    RESOLUTION  UNITS  NOTES",
        "Clock       time   -       3600                                     epoch Midnight",
        "Gateway     ipv4   -       \"\"",
        "HighTemp    event  -       16                                       Alarm 7, AckManual, "
        "ResetAuto; Temp: SupplyTemp ratio (R)",
        "Mode        enum   RW      1 (On)                                   0 Off, 1 On",
        "Ratio       qreal  -       1.5      0     2.5    1           x",
        "SupplyTemp  int    R       215      32.0  212.0  0.1         \xc2\xb0"
        "F",
        "Tag         text   W       \"B-1\"                                    max length 8, "
        "characters \"[A-Z]\\d\"",
        "clean: 7 points (1 int, 1 qreal, 1 enum, 1 event, 1 text, 1 ipv4, 1 time), 0 entries "
        "skipped",
    };
    QCOMPARE(run.out.split(QLatin1Char('\n')), expected + QStringList { QString() });
}

void TestKivoDpoints::showSummaryCountsSkippedAndReplaced()
{
    const QString path = writeFile(QStringLiteral("counts.xml"),
        dictionaryLines({
            "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"/></VariableDef>",
            "<VariableDef variableName=\"Pic\"><DataItem type=\"Component\"/></VariableDef>",
            "<VariableDef variableName=\"A\"><DataItem type=\"UInt32\"/></VariableDef>",
            "<VariableDef variableName=\"T\"><DataItem type=\"String\"/></VariableDef>",
        }));
    const Run run = runTool({ "-m", m_units, path });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.endsWith(
        QStringLiteral("\ncounts: 2 points (1 int, 1 text), 1 entry skipped, 1 entry replaced by "
                       "a later one of the same name\n")));

    const QString empty = writeFile(QStringLiteral("empty.xml"), dictionaryLines({}));
    const Run emptyRun = runTool({ "show", "-m", m_units, empty });
    QCOMPARE(emptyRun.out,
        QStringLiteral("Dictionary empty (%1)\n(no points)\nempty: 0 points, 0 entries skipped\n")
            .arg(empty));
}

void TestKivoDpoints::showBundledSample()
{
    const QString sample = QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml");
    const QString measurements = QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml");
    if (!QFile::exists(sample)) {
        QSKIP("the bundled sample dictionary is not there yet");
    }
    const InProcess loaded = loadInProcess(sample, measurements, QStringLiteral("boiler"));
    QVERIFY(loaded.dictionary);
    const QList<DPointDef*> defs = loaded.dictionary->getAllDefs();

    const Run run = runTool({ "show", "-m", measurements, sample });
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 3);
    // Title, header, one row per definition, summary.
    QCOMPARE(lines.size(), defs.size() + 3);
    QVERIFY2(lines.last().startsWith(QStringLiteral("boiler: %1 points (").arg(defs.size())),
        qPrintable(lines.last()));
}

void TestKivoDpoints::noArgumentsShowsBundledSample()
{
    if (!QFile::exists(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"))) {
        QSKIP("the bundled sample dictionary is not there yet");
    }
    const Run run = runTool({});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("Dictionary boiler (")), qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("\nboiler: ")));
}

void TestKivoDpoints::jsonMatchesLoadedDefinitions_data()
{
    QTest::addColumn<QStringList>("dictionaries");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("measurements");

    QTest::newRow("every type") << QStringList { m_clean } << QStringList { "clean" } << m_units;

    // A name that needs escaping: a non-ASCII letter and a quotation mark.
    const QString odd
        = writeFile(QString::fromUtf8("d\xc3\xa9\"x.xml"), dictionaryLines(cleanBody));
    const QString empty = writeFile(QStringLiteral("nothing.xml"), dictionaryLines({}));
    QTest::newRow("two dictionaries, escaped name, empty one")
        << QStringList { m_clean, odd, empty }
        << QStringList { "clean", QString::fromUtf8("d\xc3\xa9\"x"), "nothing" } << m_units;

    const QString sample = QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml");
    if (QFile::exists(sample)) {
        QTest::newRow("bundled sample") << QStringList { sample } << QStringList { "boiler" }
                                        << QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml");
    }
}

void TestKivoDpoints::jsonMatchesLoadedDefinitions()
{
    QFETCH(QStringList, dictionaries);
    QFETCH(QStringList, names);
    QFETCH(QString, measurements);

    const Run run = runTool(QStringList { "json", "-m", measurements } + dictionaries);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &parseError);
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));
    QVERIFY(document.isArray());
    const QJsonArray array = document.array();
    QCOMPARE(array.size(), dictionaries.size());

    for (int i = 0; i < dictionaries.size(); ++i) {
        const QJsonObject object = array.at(i).toObject();
        QCOMPARE(object.keys(), QStringList({ "definitions", "name" }));
        QCOMPARE(object.value(QStringLiteral("name")).toString(), names.at(i));

        const InProcess loaded = loadInProcess(dictionaries.at(i), measurements, names.at(i));
        QVERIFY(loaded.dictionary);
        const QList<DPointDef*> defs = loaded.dictionary->getAllDefs();
        const QJsonArray definitions = object.value(QStringLiteral("definitions")).toArray();
        QCOMPARE(definitions.size(), defs.size());
        for (int j = 0; j < defs.size(); ++j) {
            const QJsonObject expected
                = QJsonDocument::fromJson(defs.at(j)->getTypeJson().toUtf8()).object();
            QVERIFY(!expected.isEmpty());
            QCOMPARE(definitions.at(j).toObject(), expected);
        }
    }
}

void TestKivoDpoints::lintFinding_data()
{
    QTest::addColumn<QStringList>("body");
    QTest::addColumn<QStringList>("unitExtra");
    QTest::addColumn<QString>("expected");

    const QString ev = eventItem;
    QTest::newRow("unknown type keyword")
        << QStringList { "<VariableDef variableName=\"Pic\"><DataItem type=\"Component\"/>"
                         "</VariableDef>" }
        << QStringList()
        << "%F:4: warning: " + skipped("Pic", DPDictFormat::UnknownPointType, "type \"Component\"");
    QTest::newRow("no DataItem") << QStringList { "<VariableDef variableName=\"Bare\">",
        "<ExternalName>x</ExternalName>", "</VariableDef>" }
                                 << QStringList()
                                 << "%F:4: warning: "
            + skipped("Bare", DPDictFormat::UnknownPointType, "no DataItem");
    QTest::newRow("unknown event class")
        << QStringList { "<VariableDef variableName=\"Ev\">", "<DataItem type=\"Event\">",
               "<EventType>Fault</EventType>", "<AckType>MA</AckType>", "<ResetType>MR</ResetType>",
               "</DataItem>", "</VariableDef>" }
        << QStringList()
        << "%F:6: warning: " + skipped("Ev", DPDictFormat::UnknownEventType, "EventType \"Fault\"");
    QTest::newRow("unknown acknowledge type")
        << QStringList { "<VariableDef variableName=\"Ev\">", "<DataItem type=\"Event\">",
               "<EventType>Alarm</EventType>", "<AckType>NONE</AckType>",
               "<ResetType>MR</ResetType>", "</DataItem>", "</VariableDef>" }
        << QStringList()
        << "%F:7: warning: " + skipped("Ev", DPDictFormat::UnknownAckType, "AckType \"NONE\"");
    QTest::newRow("unknown reset type")
        << QStringList { "<VariableDef variableName=\"Ev\">", "<DataItem type=\"Event\">",
               "<EventType>Alarm</EventType>", "<AckType>AA</AckType>",
               "<ResetType>Never</ResetType>", "</DataItem>", "</VariableDef>" }
        << QStringList()
        << "%F:8: warning: " + skipped("Ev", DPDictFormat::UnknownResetType, "ResetType \"Never\"");
    QTest::newRow("missing reset type")
        << QStringList { "<VariableDef variableName=\"Ev\">",
               "<DataItem type=\"Event\"><EventType>Alarm</EventType><AckType>AA</AckType>",
               "</DataItem>", "</VariableDef>" }
        << QStringList()
        << "%F:5: warning: " + skipped("Ev", DPDictFormat::UnknownResetType, "no ResetType");
    QTest::newRow("unknown epoch")
        << QStringList { "<VariableDef variableName=\"T\"><DataItem type=\"DateTime\">",
               "<Epoch>Noon</Epoch>", "</DataItem></VariableDef>" }
        << QStringList()
        << "%F:5: warning: " + skipped("T", DPDictFormat::UnknownEpoch, "Epoch \"Noon\"");
    QTest::newRow("duplicate name")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"/></VariableDef>",
               "<VariableDef variableName=\" A \"><DataItem type=\"Real32\"/></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: point 'A' is defined again; this definition replaces "
                          "the one on line 4");
    QTest::newRow("access RW")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"/>",
               "<Access>RW</Access>", "</VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: Access text \"RW\" of point 'A' grants nothing; only "
                          "\"R\" and \"W\" count");
    QTest::newRow("access with a blank")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"/>"
                         "<Access> R</Access></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:4: warning: Access text \" R\" of point 'A' grants nothing; only "
                          "\"R\" and \"W\" count");
    QTest::newRow("EnumDefId names no table")
        << QStringList { "<VariableDef variableName=\"E\"><DataItem type=\"Enum\">",
               "<EnumDefId>Speeds</EnumDefId><RawValueDflt>0</RawValueDflt>",
               "</DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: EnumDefId \"Speeds\" of point 'E' names no EnumDef; "
                          "the point has no labels");
    QTest::newRow("enumeration default not in the table")
        << QStringList { "<VariableDef variableName=\"E\"><DataItem type=\"Enum\">"
                         "<EnumDefId>Modes</EnumDefId>",
               "<RawValueDflt>7</RawValueDflt></DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: default 7 of point 'E' is not a value of EnumDef "
                          "\"Modes\"");
    QTest::newRow("enumeration default names no label")
        << QStringList { "<VariableDef variableName=\"E\"><DataItem type=\"Enum\">"
                         "<EnumDefId>Modes</EnumDefId><RawValueDflt>Dim</RawValueDflt>"
                         "</DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:4: warning: default \"Dim\" of point 'E' names no label of EnumDef "
                          "\"Modes\"; the default becomes -1");
    QTest::newRow("changeable True")
        << QStringList { "<VariableDef variableName=\"Ev\"><DataItem type=\"Event\">",
               "<EventType changeable=\"True\">Alarm</EventType>",
               "<AckType>MA</AckType><ResetType>MR</ResetType></DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: changeable=\"True\" on EventType of point 'Ev' is read "
                          "as false; only \"true\" counts");
    QTest::newRow("changeable 1 on an associated variable")
        << QStringList { "<VariableDef variableName=\"Ev\">" + ev,
               "<AssociatedVariable type=\"T\" changeable=\"1\">Ev</AssociatedVariable>",
               "</VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: changeable=\"1\" on AssociatedVariable of point 'Ev' is "
                          "read as false; only \"true\" counts");
    QTest::newRow("changeable yes")
        << QStringList { "<VariableDef variableName=\"Ev\">" + ev
               + "<AssociatedVariable type=\"T\" changeable=\"YES\">Ev"
                 "</AssociatedVariable></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:4: warning: changeable=\"YES\" on AssociatedVariable of point 'Ev' "
                          "is read as false; only \"true\" counts");
    QTest::newRow("unknown unit")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem type=\"Int16\">",
               "<UomId>degK</UomId></DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: UomId \"degK\" of point 'A' names no unit of the "
                          "measurement file");
    QTest::newRow("unknown unit of a real point")
        << QStringList { "<VariableDef variableName=\"R\"><DataItem type=\"Real32\">"
                         "<UomId>degC</UomId></DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:4: warning: UomId \"degC\" of point 'R' names no unit of the "
                          "measurement file");
    QTest::newRow("unit without display conversion")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem type=\"Int16\">"
                         "<UomId>percent</UomId></DataItem></VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:4: warning: unit \"percent\" of point 'A' has no conversion into "
                          "\"msys.us\"; its JSON shows no units label");
    QTest::newRow("ShowVar names no point")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"/>",
               "<ShowVar> Nowhere   Else </ShowVar></VariableDef>" }
        << QStringList()
        << QStringLiteral(
               "%F:5: warning: ShowVar \"Nowhere Else\" of point 'A' names no point of the "
               "dictionaries given");
    QTest::newRow("associated variable names no point")
        << QStringList { "<VariableDef variableName=\"Ev\">" + ev,
               "<AssociatedVariable type=\"T\">  ev   Nowhere </AssociatedVariable>",
               "</VariableDef>" }
        << QStringList()
        << QStringLiteral("%F:5: warning: AssociatedVariable \"Nowhere\" of point 'Ev' names no "
                          "point of the dictionaries given");
    QTest::newRow("measurement entry names no conversion")
        << QStringList { "<VariableDef variableName=\"A\"><DataItem "
                         "type=\"Int16\"/></VariableDef>" }
        << QStringList { "<MUnitDef2Converter>", "<ConverterId>conv.none</ConverterId>",
               "<SrcMUnitId>percent</SrcMUnitId><DstMUnitId>msys.us</DstMUnitId>",
               "</MUnitDef2Converter>" }
        << QStringLiteral("%M:9: warning: MUnitDef2Converter names no MUnitConverter "
                          "\"conv.none\"");
}

void TestKivoDpoints::lintFinding()
{
    QFETCH(QStringList, body);
    QFETCH(QStringList, unitExtra);
    QFETCH(QString, expected);

    const QString units = writeFile(QStringLiteral("lint-units.xml"), unitLines(unitExtra));
    const QString path = writeFile(QStringLiteral("lint.xml"), dictionaryLines(body));
    expected.replace(QLatin1String("%F"), path).replace(QLatin1String("%M"), units);

    const Run run = runTool({ "lint", "-m", units, path });
    QCOMPARE(run.out, expected + QLatin1Char('\n'));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 1);
}

void TestKivoDpoints::lintCleanFileIsSilent()
{
    const Run run = runTool({ "lint", "-m", m_units, m_clean });
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
}

void TestKivoDpoints::lintReportsInvalidJson()
{
    const QString path = writeFile(QStringLiteral("lint-quote.xml"),
        dictionaryLines(
            { "<VariableDef variableName=\"Ok\"><DataItem type=\"IPv4\"/></VariableDef>",
                "<VariableDef variableName=\"Bad&quot;Name\"><DataItem "
                "type=\"IPv4\"/></VariableDef>" }));
    const InProcess loaded = loadInProcess(path, m_units, QStringLiteral("lint-quote"));
    QVERIFY(loaded.dictionary);
    const DPointDef* def = loaded.dictionary->getDPointDefByName(QStringLiteral("Bad\"Name"));
    QVERIFY(def);
    QJsonParseError parseError;
    QJsonDocument::fromJson(def->getTypeJson().toUtf8(), &parseError);

    const Run run = runTool({ "lint", "-m", m_units, path });
    QCOMPARE(run.out,
        QStringLiteral("%1:5: warning: the JSON text of point 'Bad\"Name' is not valid JSON (%2 at "
                       "offset %3)\n")
            .arg(path, parseError.errorString())
            .arg(parseError.offset));
    QCOMPARE(run.exitCode, 1);
}

void TestKivoDpoints::lintContinuesAfterUnloadableFile()
{
    const QString broken = writeFile(QStringLiteral("broken.xml"),
        { "<?xml version=\"1.0\"?>", "<Dictionary>", "<VariableDef>", "</Dictionary>" });
    const QString missing = m_dir.filePath(QStringLiteral("gone.xml"));
    const QString withFinding = writeFile(QStringLiteral("finding.xml"),
        dictionaryLines({ "<VariableDef variableName=\"A\"><DataItem type=\"Int16\"/>"
                          "<Access>rw</Access></VariableDef>" }));

    const Run run = runTool({ "lint", "-m", m_units, broken, missing, withFinding });
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out,
        QStringLiteral("%1:4: warning: Access text \"rw\" of point 'A' grants nothing; only \"R\" "
                       "and \"W\" count\n")
            .arg(withFinding));
    const QStringList errors = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(errors.size(), 2);
    const QString brokenPrefix = QStringLiteral("%1:4: error: the dictionary is not well-formed "
                                                "XML (library: Failed to parse %1, error: ")
                                     .arg(broken);
    QVERIFY2(errors.at(0).startsWith(brokenPrefix), qPrintable(errors.at(0)));
    QVERIFY2(errors.at(0).endsWith(QStringLiteral(", errLine: 4)")), qPrintable(errors.at(0)));
    QCOMPARE(errors.at(1),
        QStringLiteral("%1: error: cannot open the dictionary: No such file or directory "
                       "(library: Could not open '%1')")
            .arg(missing));
}

void TestKivoDpoints::convert_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("known unit") << QStringList { "degC_x10", "235", "-40", "1000" }
                                << QString::fromUtf8("74.3 \xc2\xb0"
                                                     "F\n24.8 \xc2\xb0"
                                                     "F\n212.0 \xc2\xb0"
                                                     "F\n")
                                << QString() << 0;
    QTest::newRow("unknown unit")
        << QStringList { "furlongs", "23.5" } << QStringLiteral("24\n")
        << QStringLiteral("kivo-dpoints: warning: unit 'furlongs' is not defined in '%1'\n")
               .arg(m_units)
        << 1;
}

void TestKivoDpoints::convert()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QFETCH(int, exitCode);

    const Run run = runTool(QStringList { "convert", "-m", m_units } + arguments);
    QCOMPARE(run.out, output);
    QCOMPARE(run.err, error);
    QCOMPARE(run.exitCode, exitCode);
}

QTEST_GUILESS_MAIN(TestKivoDpoints)
#include "tst_kivodpoints.moc"
