#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/dictionary/DictRef.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QAtomicPointer>
#include <QDateTime>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace kivo;

using Dictionary = std::unique_ptr<DPointDictionary>;
using Hints = QMap<QString, QString>;

namespace {

const QByteArray header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

QByteArray document(const QByteArray& body)
{
    return header + "<Dictionary>\n" + body + "</Dictionary>\n";
}

QByteArray variableDef(const QByteArray& name, const QByteArray& inside)
{
    return "<VariableDef variableName=\"" + name + "\">" + inside + "</VariableDef>\n";
}

QByteArray dataItem(const QByteArray& type, const QByteArray& inside = QByteArray())
{
    return "<DataItem type=\"" + type + "\">" + inside + "</DataItem>";
}

QByteArray element(const QByteArray& name, const QByteArray& text)
{
    return "<" + name + ">" + text + "</" + name + ">";
}

// A VariableDef one level below its enclosing element, with its DataItem one level further down.
const QByteArray deepPoint = "<VariableDef variableName=\"deep\">"
                             "<DataItem type=\"Int16\"></DataItem></VariableDef>";

// The root at level 1 after declaration, a elements down to level levels, each followed by
// separator, and bottom inside the deepest.
QByteArray nestedDocument(const QByteArray& declaration, int levels, const QByteArray& separator,
    const QByteArray& bottom)
{
    QByteArray xml = declaration + "<Dictionary>" + separator;
    for (int level = 2; level <= levels; ++level) {
        xml += "<a>" + separator;
    }
    xml += bottom;
    for (int level = 2; level <= levels; ++level) {
        xml += "</a>";
    }
    return xml + "</Dictionary>\n";
}

QByteArray declaration(const QByteArray& encoding, int padding = 0)
{
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"" + QByteArray(padding, ' ') + "?>";
}

// UTF-7 text of an ASCII document in which every '<' after the XML declaration is encoded, so
// that the bytes hold no markup.
QByteArray hideMarkup(QByteArray xml)
{
    const int body = xml.indexOf("?>") + 2;
    return xml.left(body) + xml.mid(body).replace("<", "+ADw-");
}

const QByteArray onOffEnumDef = "<EnumDef id=\"onOff\"><Enum value=\"0\">Off</Enum>"
                                "<Enum value=\"1\">On</Enum></EnumDef>\n";

// Type members of a definition's JSON, without the definition's own members.
QString typeMembers(const DPointDef* def)
{
    const QString json = def->getTypeJson();
    const int end = json.indexOf(QLatin1String(", \"variableName\""));
    return end < 0 ? QString() : json.mid(1, end - 1);
}

} // namespace

// Receives dictionary handles from another thread through a queued connection.
class HandleReceiver : public QObject
{
    Q_OBJECT
public:
    QAtomicPointer<DPointDictionary> m_received;

public Q_SLOTS:
    void take(DictRefSP handle) { m_received.storeRelease(handle->m_dict); }
};

class TstDPDictLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void missingFile();
    void directoryCannotBeOpened();
    void unreadableFile();
    void parseErrors_data();
    void parseErrors();
    void emptyDictionaryWithoutSignal();
    void rootVariableDefIsNotAPoint();
    void dataItemSelectsType_data();
    void dataItemSelectsType();
    void defaults_data();
    void defaults();
    void currentDateTimeDefault_data();
    void currentDateTimeDefault();
    void lineIdFallback_data();
    void lineIdFallback();
    void namesAndProperties();
    void propertiesAlwaysPresent();
    void largeDisplayAndShowVar_data();
    void largeDisplayAndShowVar();
    void access_data();
    void access();
    void pxcId_data();
    void pxcId();
    void duplicateNamesLaterWins();
    void nestedEntriesAndLaterEnumDefs();
    void registryOnlyForNumbersAndReals_data();
    void registryOnlyForNumbersAndReals();
    void eventTexts();
    void eventSkippedOnResetTypeLeavesNothing();
    void enumTables();
    void getEnumDefBeforeAnyLoad();
    void enumTablesSurviveFailedLoads();
    void loadDPointDefDirectly();
    void runReportsObsolete();
    void runInThreadReportsObsolete();
    void handleTravelsThroughQueuedConnection();
    void deepNesting_data();
    void deepNesting();
    void declaredEncodingAndDepth_data();
    void declaredEncodingAndDepth();
    void markupThatOnlyLooksDeep();
    void longConstructsInDecodedText();
    void utf16Document();
    void largeGeneratedDictionary();
    void bundledSample();
    void formatRulesStandAlone();

private:
    QString writeFile(const QByteArray& content);
    Dictionary loadText(const QByteArray& xml, MeasurementRegistry* registry = nullptr);

    QTemporaryDir m_dir;
    int m_fileCount = 0;
};

QString TstDPDictLoader::writeFile(const QByteArray& content)
{
    const QString path = m_dir.filePath(QStringLiteral("dict%1.xml").arg(++m_fileCount));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

Dictionary TstDPDictLoader::loadText(const QByteArray& xml, MeasurementRegistry* registry)
{
    DPDictLoader loader(nullptr, nullptr, registry);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    Dictionary dictionary(loader.load(writeFile(xml), QStringLiteral("test")));
    if (!errors.isEmpty()) {
        qWarning() << "unexpected load error" << errors.first().first().toString();
    }
    return dictionary;
}

void TstDPDictLoader::missingFile()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QSignalSpy completes(&loader, &DPDictLoader::complete);
    const QString path = m_dir.filePath(QStringLiteral("absent.xml"));
    QVERIFY(!loader.load(path, "d"));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Could not open '") + path + "'");
    QCOMPARE(completes.count(), 0);
}

void TstDPDictLoader::directoryCannotBeOpened()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QVERIFY(!loader.load(m_dir.path(), "d"));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(
        errors.first().first().toString(), QStringLiteral("Could not open '") + m_dir.path() + "'");
}

void TstDPDictLoader::unreadableFile()
{
    const QString path = writeFile(document(""));
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly)) {
        // QSKIP would be a variadic macro called without its variadic arguments.
        QTest::qSkip("this user can read files without read permission", __FILE__, __LINE__);
        return;
    }
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QVERIFY(!loader.load(path, "d"));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Could not open '") + path + "'");
}

void TstDPDictLoader::parseErrors_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("line");

    QByteArray elevenLines = header + "<Dictionary>\n";
    for (int line = 3; line <= 11; ++line) {
        elevenLines += "  <EnumDef id=\"e" + QByteArray::number(line) + "\"/>\n";
    }
    QTest::newRow("tag mismatch on line 12")
        << QByteArray(elevenLines + "  <VariableDef></Dictionary>\n") << "tag mismatch" << 12;
    QByteArray crlf = elevenLines + "  <VariableDef></Dictionary>\n";
    crlf.replace("\n", "\r\n");
    QTest::newRow("CRLF line ends") << crlf << "tag mismatch" << 12;
    QTest::newRow("unclosed root")
        << QByteArray(header + "<Dictionary>\n<EnumDef/>\n") << "unexpected end of file" << 4;
    QTest::newRow("empty file") << QByteArray() << "unexpected end of file" << 1;
    QTest::newRow("text after root")
        << QByteArray(header + "<Dictionary/>\njunk\n") << "unexpected character" << 3;
}

void TstDPDictLoader::parseErrors()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, message);
    QFETCH(int, line);

    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    const QString path = writeFile(xml);
    QVERIFY(!loader.load(path, "d"));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(),
        QStringLiteral("Failed to parse ") + path + ", error: " + message
            + ", errLine: " + QString::number(line));
}

void TstDPDictLoader::emptyDictionaryWithoutSignal()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QSignalSpy completes(&loader, &DPDictLoader::complete);
    Dictionary dictionary(loader.load(writeFile(document(onOffEnumDef)), "boiler"));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->objectName(), QStringLiteral("boiler"));
    QVERIFY(!dictionary->parent());
    QVERIFY(dictionary->getAllDefs().isEmpty());
    QCOMPARE(errors.count(), 0);
    QCOMPARE(completes.count(), 0);
}

void TstDPDictLoader::rootVariableDefIsNotAPoint()
{
    const Dictionary dictionary = loadText(header + variableDef("root", dataItem("Int16")));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getNamespaceSize(), 0);
}

void TstDPDictLoader::dataItemSelectsType_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("members");

    // Every keyword the event and time types need, so that only the type text decides.
    const QByteArray all = "<EventType>Alarm</EventType><AckType>MA</AckType>"
                           "<ResetType>MR</ResetType><Epoch>Midnight</Epoch>";
    const QString intMembers = "\"type\":\"int\", \"default\":0, \"min\":0, \"max\":0, "
                               "\"resolution\":1, \"unitsLabel\":\"\"";
    const QString realMembers = "\"type\":\"qreal\", \"default\":0, \"min\":0, \"max\":0, "
                                "\"resolution\":1, \"unitsLabel\":\"\"";
    const QString midnight = "\"type\":\"time\", \"epoch\":5";
    const auto event = [](int etype, int atype, int rtype) {
        return QStringLiteral("\"type\":\"event\", \"id\":0, \"desc\":\"\", \"expl\":\"\", "
                              "\"etype\":%1, \"atype\":%2, \"rtype\":%3, \"avs\":[]")
            .arg(etype)
            .arg(atype)
            .arg(rtype);
    };
    const QString skipped;

    QTest::newRow("Event") << dataItem("Event", all) << event(2, 0, 0);
    QTest::newRow("IPv4") << dataItem("IPv4", all) << "\"type\":\"ipv4\", \"default\":\"\"";
    QTest::newRow("Enum") << dataItem("Enum", all)
                          << "\"type\":\"enum\", \"default\":-1, \"values\":[]";
    QTest::newRow("String") << dataItem("String", all)
                            << "\"type\":\"text\", \"default\":\"\", \"charSet\":\"\", "
                               "\"format\":\"\", \"maxLen\":0";
    QTest::newRow("Int16") << dataItem("Int16", all) << intMembers;
    QTest::newRow("UInt32") << dataItem("UInt32", all) << intMembers;
    QTest::newRow("Integer") << dataItem("Integer", all) << intMembers;
    QTest::newRow("TimeInterval: Int before Time") << dataItem("TimeInterval", all) << intMembers;
    QTest::newRow("Real32") << dataItem("Real32", all) << realMembers;
    QTest::newRow("RealTime: Real before Time") << dataItem("RealTime", all) << realMembers;
    QTest::newRow("DateTime") << dataItem("DateTime", all) << midnight;
    QTest::newRow("event") << dataItem("event", all) << skipped;
    QTest::newRow("string") << dataItem("string", all) << skipped;
    QTest::newRow("ipv4") << dataItem("ipv4", all) << skipped;
    QTest::newRow("Component") << dataItem("Component", all) << skipped;
    QTest::newRow("Bool") << dataItem("Bool", all) << skipped;
    QTest::newRow("empty type") << dataItem("", all) << skipped;
    QTest::newRow("no type attribute") << QByteArray("<DataItem/>") << skipped;
    QTest::newRow("no DataItem") << QByteArray("<ExternalName>x</ExternalName>") << skipped;
    QTest::newRow("only the first DataItem counts")
        << QByteArray(dataItem("Int16") + dataItem("Real", "<RawValueMin>5</RawValueMin>"))
        << intMembers;
    QTest::newRow("DataItem not a child")
        << QByteArray("<Group>" + dataItem("Int16") + "</Group>") << skipped;

    const auto eventItem
        = [](const QByteArray& eventType, const QByteArray& ack, const QByteArray& reset) {
              QByteArray inside;
              if (!eventType.isNull()) {
                  inside += element("EventType", eventType);
              }
              if (!ack.isNull()) {
                  inside += element("AckType", ack);
              }
              if (!reset.isNull()) {
                  inside += element("ResetType", reset);
              }
              return dataItem("Event", inside);
          };
    QTest::newRow("Warning AA AR") << eventItem("Warning", "AA", "AR") << event(1, 1, 1);
    QTest::newRow("Message NA MR") << eventItem("Message", "NA", "MR") << event(0, 2, 0);
    QTest::newRow("event class is case-sensitive") << eventItem("alarm", "MA", "MR") << skipped;
    QTest::newRow("Fault is not a file keyword") << eventItem("Fault", "MA", "MR") << skipped;
    QTest::newRow("event class must be equal") << eventItem(" Alarm", "MA", "MR") << skipped;
    QTest::newRow("no EventType") << eventItem(QByteArray(), "MA", "MR") << skipped;
    QTest::newRow("MANUAL contains MA") << eventItem("Alarm", "MANUAL", "MR") << event(2, 0, 0);
    QTest::newRow("MA tested before NA") << eventItem("Alarm", "NAMA", "MR") << event(2, 0, 0);
    QTest::newRow("AA inside") << eventItem("Alarm", "xAAx", "MR") << event(2, 1, 0);
    QTest::newRow("NONE contains no ack keyword") << eventItem("Alarm", "NONE", "MR") << skipped;
    QTest::newRow("ack is case-sensitive") << eventItem("Alarm", "ma", "MR") << skipped;
    QTest::newRow("no AckType") << eventItem("Alarm", QByteArray(), "MR") << skipped;
    QTest::newRow("MR tested before AR") << eventItem("Alarm", "MA", "ARMR") << event(2, 0, 0);
    QTest::newRow("AUTO_AR") << eventItem("Alarm", "MA", "AUTO_AR") << event(2, 0, 1);
    QTest::newRow("reset matches nothing") << eventItem("Alarm", "MA", "Latched") << skipped;
    QTest::newRow("no ResetType") << eventItem("Alarm", "MA", QByteArray()) << skipped;

    const auto timeItem
        = [](const QByteArray& epoch) { return dataItem("Time", element("Epoch", epoch)); };
    const auto epoch
        = [](int value) { return QStringLiteral("\"type\":\"time\", \"epoch\":%1").arg(value); };
    QTest::newRow("SysUpTime") << timeItem("SysUpTime") << epoch(1);
    QTest::newRow("1970 local") << timeItem("1970-Jan-01 (local time)") << epoch(2);
    QTest::newRow("January_1") << timeItem("January_1") << epoch(3);
    QTest::newRow("1st_Of_Month") << timeItem("1st_Of_Month") << epoch(4);
    QTest::newRow("Midnight") << timeItem("Midnight") << epoch(5);
    QTest::newRow("1970 GMT") << timeItem("1970-Jan-01 (GMT)") << epoch(6);
    QTest::newRow("epoch is case-sensitive") << timeItem("midnight") << skipped;
    QTest::newRow("epoch must be equal") << timeItem("Midnight ") << skipped;
    QTest::newRow("no Epoch") << dataItem("Time") << skipped;
}

void TstDPDictLoader::dataItemSelectsType()
{
    QFETCH(QByteArray, item);
    QFETCH(QString, members);

    const Dictionary dictionary = loadText(document(variableDef("p", item)));
    QVERIFY(dictionary);
    if (members.isEmpty()) {
        QCOMPARE(dictionary->getNamespaceSize(), 0);
        return;
    }
    QCOMPARE(dictionary->getNamespaceSize(), 1);
    const DPointDef* def = dictionary->getDPointDefByName("p");
    QVERIFY(def);
    QCOMPARE(def->getTypeJson(),
        QLatin1Char('{') + members
            + ", \"variableName\":\"p\", \"externalName\":\"\", \"lineId\":\"\", \"access\":\"\"}");
}

void TstDPDictLoader::defaults_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QVariant>("expected");

    const auto withDefault = [](const QByteArray& type, const QByteArray& raw,
                                 const QByteArray& more = QByteArray()) {
        return dataItem(type, (raw.isNull() ? QByteArray() : element("RawValueDflt", raw)) + more);
    };
    QTest::newRow("int -32768 marker") << withDefault("Int16", "-32768") << QVariant();
    QTest::newRow("int _invalid_ marker") << withDefault("Int16", "_invalid_") << QVariant();
    QTest::newRow("int marker with blank") << withDefault("Int16", "_invalid_ ") << QVariant(0);
    QTest::newRow("int -32767") << withDefault("Int16", "-32767") << QVariant(-32767);
    QTest::newRow("int missing") << withDefault("Int16", QByteArray()) << QVariant(0);
    QTest::newRow("int empty") << withDefault("Int16", "") << QVariant(0);
    QTest::newRow("int not a number") << withDefault("Int16", "abc") << QVariant(0);
    QTest::newRow("int with blanks") << withDefault("Int32", " 12 ") << QVariant(12);
    QTest::newRow("real kept as text")
        << withDefault("Real", "1.5") << QVariant(QStringLiteral("1.5"));
    QTest::newRow("real text unconverted")
        << withDefault("Real", " 2.50 ") << QVariant(QStringLiteral(" 2.50 "));
    QTest::newRow("real missing") << withDefault("Real", QByteArray()) << QVariant(QString(""));
    QTest::newRow("real -32768 marker") << withDefault("Real", "-32768") << QVariant();
    QTest::newRow("real _invalid_ marker") << withDefault("Real", "_invalid_") << QVariant();

    const QByteArray onOff = element("EnumDefId", "onOff");
    QTest::newRow("enum by label") << withDefault("Enum", "On", onOff) << QVariant(1);
    QTest::newRow("enum by number") << withDefault("Enum", "0", onOff) << QVariant(0);
    QTest::newRow("enum number not in table") << withDefault("Enum", "7", onOff) << QVariant(7);
    QTest::newRow("enum unknown label") << withDefault("Enum", "Dim", onOff) << QVariant(-1);
    QTest::newRow("enum label is case-sensitive")
        << withDefault("Enum", "on", onOff) << QVariant(-1);
    QTest::newRow("enum missing") << withDefault("Enum", QByteArray(), onOff) << QVariant(-1);
    QTest::newRow("enum without table") << withDefault("Enum", "On") << QVariant(-1);

    const auto timeWith = [&](const QByteArray& raw, const QByteArray& epoch) {
        return withDefault("DateTime", raw, element("Epoch", epoch));
    };
    QTest::newRow("time number") << timeWith("42", "Midnight") << QVariant(42);
    QTest::newRow("time not a number") << timeWith("noon", "Midnight") << QVariant(0);
    QTest::newRow("time missing") << timeWith(QByteArray(), "SysUpTime") << QVariant(0);
    QTest::newRow("currentDateTime with SysUpTime")
        << timeWith("currentDateTime", "SysUpTime") << QVariant(0);
    QTest::newRow("currentDateTime with January_1")
        << timeWith("currentDateTime", "January_1") << QVariant(0);
    QTest::newRow("currentDateTime with 1st_Of_Month")
        << timeWith("currentDateTime", "1st_Of_Month") << QVariant(0);
    QTest::newRow("currentDateTime with Midnight")
        << timeWith("currentDateTime", "Midnight") << QVariant(0);
}

void TstDPDictLoader::defaults()
{
    QFETCH(QByteArray, item);
    QFETCH(QVariant, expected);

    const Dictionary dictionary = loadText(document(onOffEnumDef + variableDef("p", item)));
    QVERIFY(dictionary);
    const DPointDef* def = dictionary->getDPointDefByName("p");
    QVERIFY(def);
    const QVariant actual = def->m_type->getDefaultValue();
    QCOMPARE(actual.userType(), expected.userType());
    QCOMPARE(actual, expected);
}

void TstDPDictLoader::currentDateTimeDefault_data()
{
    QTest::addColumn<QByteArray>("epoch");
    QTest::newRow("local time") << QByteArray("1970-Jan-01 (local time)");
    QTest::newRow("GMT") << QByteArray("1970-Jan-01 (GMT)");
}

void TstDPDictLoader::currentDateTimeDefault()
{
    QFETCH(QByteArray, epoch);
    const QByteArray item = dataItem(
        "DateTime", element("RawValueDflt", "currentDateTime") + element("Epoch", epoch));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const Dictionary dictionary = loadText(document(variableDef("clock", item)));
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QVERIFY(dictionary);
    const QVariant value = dictionary->getDPointDefByName("clock")->m_type->getDefaultValue();
    QCOMPARE(value.userType(), int(QMetaType::Int));
    QVERIFY(value.toLongLong() >= before);
    QVERIFY(value.toLongLong() <= after);
}

void TstDPDictLoader::lineIdFallback_data()
{
    QTest::addColumn<QByteArray>("inside");
    QTest::addColumn<QString>("lineId");

    const QByteArray worksheet = "<Worksheet><Name>Boiler</Name><LineID>WS1</LineID></Worksheet>";
    QTest::newRow("own line id wins") << QByteArray("<LineID>L1</LineID>" + worksheet) << "L1";
    QTest::newRow("empty own line id") << QByteArray("<LineID/>" + worksheet) << "WS1";
    QTest::newRow("no own line id") << worksheet << "WS1";
    // The parser drops text nodes that hold only white space; a CDATA section keeps it.
    QTest::newRow("blank own line id") << QByteArray("<LineID> </LineID>" + worksheet) << "WS1";
    QTest::newRow("CDATA blank own line id")
        << QByteArray("<LineID><![CDATA[ ]]></LineID>" + worksheet) << " ";
    QTest::newRow("neither") << QByteArray() << "";
    // A child is the first node of that name, so a processing instruction can hide one.
    QTest::newRow("processing instruction named LineID")
        << QByteArray("<?LineID x?><LineID>L1</LineID>" + worksheet) << "WS1";
    QTest::newRow("worksheet line id must be a child")
        << QByteArray("<Worksheet><Row><LineID>X</LineID></Row></Worksheet>") << "";
}

void TstDPDictLoader::lineIdFallback()
{
    QFETCH(QByteArray, inside);
    QFETCH(QString, lineId);
    const Dictionary dictionary = loadText(document(variableDef("p", dataItem("IPv4") + inside)));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getDPointDefByName("p")->m_lineId, lineId);
}

void TstDPDictLoader::namesAndProperties()
{
    const QByteArray entry = "<VariableDef variableName=\"  Supply   Temp \">"
                             "<DataItem type=\"IPv4\"/>"
                             "<ExternalName>  Supply\n  water  temperature </ExternalName>"
                             "<Worksheet><Name> Boiler </Name></Worksheet>"
                             "<LargeDisplay>Supply temp</LargeDisplay>"
                             "<ShowVar>  Supply   Setpoint </ShowVar>"
                             "<DisplayHints>"
                             "<DisplayHint grpid=\"Overview\" rowid=\"1\"/>"
                             "<DisplayHint grpid=\"Trend\" rowid=\"4\"/>"
                             "</DisplayHints>"
                             "<Panel><DisplayHint grpid=\"Overview\" rowid=\"7\"/></Panel>"
                             "<DisplayHint rowid=\"x\"/>"
                             "</VariableDef>";
    const Dictionary dictionary = loadText(document(entry));
    QVERIFY(dictionary);
    DPointDef* def = dictionary->getDPointDefByName("Supply Temp");
    QVERIFY(def);
    QCOMPARE(def->m_variableName, QStringLiteral("Supply Temp"));
    QCOMPARE(def->m_externalName, QStringLiteral("Supply water temperature"));

    QCOMPARE(def->dynamicPropertyNames(),
        QList<QByteArray>({ "DisplayHints", "Worksheet", "LargeDisplay", "ShowVar" }));
    const Hints hints { { "", "x" }, { "Overview", "7" }, { "Trend", "4" } };
    QCOMPARE(def->property("DisplayHints").value<Hints>(), hints);
    QCOMPARE(def->property("Worksheet"), QVariant(QStringLiteral(" Boiler ")));
    QCOMPARE(def->property("LargeDisplay"), QVariant(QStringLiteral("Supply temp")));
    QCOMPARE(def->getProperty("ShowVar"), QVariant(QStringLiteral("Supply Setpoint")));
}

void TstDPDictLoader::propertiesAlwaysPresent()
{
    const Dictionary dictionary = loadText(document(variableDef("p", dataItem("IPv4"))));
    QVERIFY(dictionary);
    const DPointDef* def = dictionary->getDPointDefByName("p");
    QCOMPARE(def->dynamicPropertyNames(), QList<QByteArray>({ "DisplayHints", "Worksheet" }));
    const QVariant hints = def->property("DisplayHints");
    QCOMPARE(hints.userType(), qMetaTypeId<Hints>());
    QVERIFY(hints.value<Hints>().isEmpty());
    QCOMPARE(def->property("Worksheet").userType(), int(QMetaType::QString));
    QVERIFY(def->property("Worksheet").toString().isEmpty());
}

void TstDPDictLoader::largeDisplayAndShowVar_data()
{
    QTest::addColumn<QByteArray>("inside");
    QTest::addColumn<QVariant>("largeDisplay");
    QTest::addColumn<QVariant>("showVar");

    const QByteArray external = "<ExternalName>Supply temp</ExternalName>";
    QTest::newRow("equal to external name")
        << QByteArray(external + "<LargeDisplay>Supply temp</LargeDisplay>") << QVariant()
        << QVariant();
    QTest::newRow("equal after simplifying")
        << QByteArray(external + "<LargeDisplay>  Supply   temp </LargeDisplay>") << QVariant()
        << QVariant();
    QTest::newRow("external name simplified too") << QByteArray(
        "<ExternalName> Supply\ttemp</ExternalName><LargeDisplay>Supply temp</LargeDisplay>")
                                                  << QVariant() << QVariant();
    QTest::newRow("differs") << QByteArray(external + "<LargeDisplay>  Supply </LargeDisplay>")
                             << QVariant(QStringLiteral("Supply")) << QVariant();
    QTest::newRow("blank") << QByteArray(
        external + "<LargeDisplay>  </LargeDisplay><ShowVar> </ShowVar>")
                           << QVariant() << QVariant();
    QTest::newRow("no external name")
        << QByteArray("<LargeDisplay>Big</LargeDisplay><ShowVar>a</ShowVar>")
        << QVariant(QStringLiteral("Big")) << QVariant(QStringLiteral("a"));
    QTest::newRow("must be children")
        << QByteArray("<X><LargeDisplay>Big</LargeDisplay><ShowVar>a</ShowVar></X>") << QVariant()
        << QVariant();
}

void TstDPDictLoader::largeDisplayAndShowVar()
{
    QFETCH(QByteArray, inside);
    QFETCH(QVariant, largeDisplay);
    QFETCH(QVariant, showVar);
    const Dictionary dictionary = loadText(document(variableDef("p", dataItem("IPv4") + inside)));
    QVERIFY(dictionary);
    const DPointDef* def = dictionary->getDPointDefByName("p");
    QCOMPARE(def->property("LargeDisplay"), largeDisplay);
    QCOMPARE(def->property("ShowVar"), showVar);
}

void TstDPDictLoader::access_data()
{
    QTest::addColumn<QByteArray>("inside");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("writable");

    QTest::newRow("none") << QByteArray() << false << false;
    QTest::newRow("RW grants nothing") << QByteArray("<Access>RW</Access>") << false << false;
    QTest::newRow("R and W add up")
        << QByteArray("<Access>R</Access><Access>W</Access>") << true << true;
    QTest::newRow("W only") << QByteArray("<Access>W</Access>") << false << true;
    QTest::newRow("R only") << QByteArray("<Access>R</Access><Access>R</Access>") << true << false;
    QTest::newRow("blank before R") << QByteArray("<Access> R</Access>") << false << false;
    QTest::newRow("lower case") << QByteArray("<Access>r</Access>") << false << false;
    QTest::newRow("anywhere inside")
        << QByteArray("<Rights><Access>W</Access><Deeper><Access>R</Access></Deeper></Rights>")
        << true << true;
}

void TstDPDictLoader::access()
{
    QFETCH(QByteArray, inside);
    QFETCH(bool, readable);
    QFETCH(bool, writable);
    const Dictionary dictionary = loadText(document(variableDef("p", dataItem("IPv4") + inside)));
    QVERIFY(dictionary);
    const DPointDef* def = dictionary->getDPointDefByName("p");
    QCOMPARE(def->m_readable, readable);
    QCOMPARE(def->m_writable, writable);
}

void TstDPDictLoader::pxcId_data()
{
    QTest::addColumn<QByteArray>("inside");
    QTest::addColumn<int>("pxcId");
    QTest::newRow("number") << QByteArray("<PxcId>4711</PxcId>") << 4711;
    QTest::newRow("negative with blanks") << QByteArray("<PxcId> -3 </PxcId>") << -3;
    QTest::newRow("not a number") << QByteArray("<PxcId>0x10</PxcId>") << 0;
    QTest::newRow("missing") << QByteArray() << 0;
}

void TstDPDictLoader::pxcId()
{
    QFETCH(QByteArray, inside);
    QFETCH(int, pxcId);
    const Dictionary dictionary = loadText(document(variableDef("p", dataItem("IPv4") + inside)));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getDPointDefByName("p")->m_pxcId, pxcId);
}

void TstDPDictLoader::duplicateNamesLaterWins()
{
    const Dictionary dictionary = loadText(document(
        variableDef("Temp", dataItem("Int16") + "<ExternalName>first</ExternalName>") + "<Group>"
        + variableDef(" Temp ", dataItem("Real") + "<ExternalName>second</ExternalName>")
        + "</Group>"));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getNamespaceSize(), 2);
    QCOMPARE(dictionary->getAllDefs().size(), 1);
    QCOMPARE(dictionary->getDPointDefByName("Temp")->m_externalName, QStringLiteral("second"));
}

void TstDPDictLoader::nestedEntriesAndLaterEnumDefs()
{
    // The enumeration point comes before its EnumDef, which sits inside another entry; the
    // inner entry's Access and DisplayHint count for the outer entry as well.
    const QByteArray inner = variableDef("Inner",
        dataItem("Enum", "<RawValueDflt>On</RawValueDflt><EnumDefId>late</EnumDefId>")
            + "<Access>W</Access><DisplayHint grpid=\"g\" rowid=\"2\"/>");
    const QByteArray outer = variableDef("Outer",
        dataItem("IPv4") + "<Group>" + inner + "</Group>"
            + "<EnumDef id=\"late\"><Enum value=\"3\">On</Enum></EnumDef>");
    const Dictionary dictionary
        = loadText(document(outer + variableDef("After", dataItem("IPv4"))));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getNamespaceNames(), QStringList({ "Outer", "Inner", "After" }));

    const DPointDef* outerDef = dictionary->getDPointDefByName("Outer");
    QVERIFY(outerDef->m_writable);
    QCOMPARE(outerDef->property("DisplayHints").value<Hints>(), (Hints { { "g", "2" } }));
    QCOMPARE(typeMembers(dictionary->getDPointDefByName("Inner")),
        QStringLiteral(
            "\"type\":\"enum\", \"default\":3, \"values\":[{\"id\":3 ,\"name\":\"On\"}]"));
}

void TstDPDictLoader::registryOnlyForNumbersAndReals_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<bool>("hasRegistry");
    QTest::newRow("Int32") << dataItem("Int32") << true;
    QTest::newRow("UInt16") << dataItem("UInt16") << true;
    QTest::newRow("Real") << dataItem("Real") << true;
    QTest::newRow("Enum") << dataItem("Enum") << false;
    QTest::newRow("String") << dataItem("String") << false;
    QTest::newRow("IPv4") << dataItem("IPv4") << false;
    QTest::newRow("Time") << dataItem("Time", "<Epoch>Midnight</Epoch>") << false;
    QTest::newRow("Event") << dataItem(
        "Event", "<EventType>Alarm</EventType><AckType>MA</AckType><ResetType>MR</ResetType>")
                           << false;
}

void TstDPDictLoader::registryOnlyForNumbersAndReals()
{
    QFETCH(QByteArray, item);
    QFETCH(bool, hasRegistry);
    MeasurementRegistry registry;
    const Dictionary dictionary = loadText(document(variableDef("p", item)), &registry);
    QVERIFY(dictionary);
    const DPointDef* def = dictionary->getDPointDefByName("p");
    QVERIFY(def);
    QCOMPARE(def->m_registry, hasRegistry ? &registry : nullptr);
    QCOMPARE(def->m_type->parent(), def);
}

void TstDPDictLoader::eventTexts()
{
    const QByteArray entry = variableDef("HighLimit",
        dataItem("Event",
            "<EventType changeable=\"true\">Alarm</EventType><AckType>MA</AckType>"
            "<ResetType>AR</ResetType>")
            + "<EventId> 101 </EventId><Description> Too  hot </Description>"
              "<EventExplanation>\n  Supply water\n  above limit </EventExplanation>"
              "<AssociatedVariable type=\"Temp\">Old</AssociatedVariable>"
              "<Group><AssociatedVariable type=\"Temp\" changeable=\"true\">"
              "SupplyTemp   ReturnTemp</AssociatedVariable></Group>"
              "<AssociatedVariable type=\"Pressure\" changeable=\"True\">SystemPressure"
              "</AssociatedVariable>"
            + "<ExternalName>High limit</ExternalName>");
    const QByteArray unchangeable = variableDef("Other",
        dataItem("Event",
            "<EventType changeable=\"1\">Warning</EventType><AckType>AA</AckType>"
            "<ResetType>AR</ResetType>"));
    const Dictionary dictionary = loadText(document(entry + unchangeable));
    QVERIFY(dictionary);

    const DPointDef* def = dictionary->getDPointDefByName("HighLimit");
    QVERIFY(def);
    QCOMPARE(typeMembers(def),
        QStringLiteral("\"type\":\"event\", \"id\":101, \"desc\":\" Too  hot \", "
                       "\"expl\":\"Supply water above limit\", \"etype\":2, \"atype\":0, "
                       "\"rtype\":1, \"avs\":[{ \"type\":\"Pressure\", \"id\":\"SystemPressure\", "
                       "\"access\":\"R\" },{ \"type\":\"Temp\", \"id\":\"SupplyTemp\", "
                       "\"access\":\"W\" },{ \"type\":\"Temp\", \"id\":\"ReturnTemp\", "
                       "\"access\":\"W\" }]"));
    const auto* event = qobject_cast<const DPTypeEvent*>(def->m_type);
    QVERIFY(event);
    QVERIFY(event->m_changeable);
    QCOMPARE(event->m_associatedVariables.size(), 2);
    QCOMPARE(event->m_associatedVariables.value("Temp")->names,
        QStringLiteral("SupplyTemp   ReturnTemp"));

    const auto* other
        = qobject_cast<const DPTypeEvent*>(dictionary->getDPointDefByName("Other")->m_type);
    QVERIFY(other);
    QVERIFY(!other->m_changeable);
}

void TstDPDictLoader::eventSkippedOnResetTypeLeavesNothing()
{
    const QByteArray entry = variableDef("Latched",
        dataItem("Event",
            "<EventType>Alarm</EventType><AckType>MA</AckType>"
            "<ResetType>Latched</ResetType>")
            + "<AssociatedVariable type=\"Temp\">SupplyTemp</AssociatedVariable>"
              "<AssociatedVariable type=\"Temp\">ReturnTemp</AssociatedVariable>");
    const Dictionary dictionary = loadText(document(entry + variableDef("Kept", dataItem("IPv4"))));
    QVERIFY(dictionary);
    QVERIFY(!dictionary->getDPointDefByName("Latched"));
    QCOMPARE(dictionary->getNamespaceNames(), QStringList({ "Kept" }));
    QCOMPARE(dictionary->findChildren<QObject*>().size(), 2); // the definition and its type
}

void TstDPDictLoader::enumTables()
{
    const QByteArray enumDefs
        = "<EnumDef id=\"mode\"><Enum value=\"2\">Auto</Enum><Note>ignored</Note>"
          "<Enum value=\"0\">Off</Enum><Enum value=\"2\">Automatic</Enum>"
          "<Enum>Zero</Enum><Group><Enum value=\"9\">Nested</Enum></Group></EnumDef>\n"
          "<EnumDef id=\"mode\"><Enum value=\"5\">Second</Enum></EnumDef>\n";
    const QByteArray points
        = variableDef("Mode",
              dataItem("Enum", "<EnumDefId>mode</EnumDefId><RawValueDflt>Off</RawValueDflt>"))
        + variableDef("Mode2", dataItem("Enum", "<EnumDefId>mode</EnumDefId>"))
        + variableDef("Nothing", dataItem("Enum", "<EnumDefId>absent</EnumDefId>"))
        + "<Deep><EnumDef id=\"deep\"><Enum value=\"1\">One</Enum></EnumDef></Deep>\n";

    DPDictLoader loader(nullptr, nullptr, nullptr);
    const Dictionary dictionary(loader.load(writeFile(document(enumDefs + points)), "d"));
    QVERIFY(dictionary);

    const QHash<int, QString> mode { { 0, "Zero" }, { 2, "Automatic" } };
    QCOMPARE(loader.getEnumDef("mode"), mode);
    QCOMPARE(loader.getIndexEnumDef("mode"),
        (QHash<QString, int> { { "Auto", 2 }, { "Off", 0 }, { "Automatic", 2 }, { "Zero", 0 } }));
    QCOMPARE(loader.getEnumDef("deep"), (QHash<int, QString> { { 1, "One" } }));
    QVERIFY(loader.getEnumDef("absent").isEmpty());
    QVERIFY(loader.getEnumDef("MODE").isEmpty());

    const auto* first
        = qobject_cast<const DPTypeEnum*>(dictionary->getDPointDefByName("Mode")->m_type);
    const auto* second
        = qobject_cast<const DPTypeEnum*>(dictionary->getDPointDefByName("Mode2")->m_type);
    QVERIFY(first && second);
    QCOMPARE(first->m_values, mode);
    QCOMPARE(first->m_default, -1); // "Off" was replaced by "Zero" for value 0
    QCOMPARE(second->m_values, mode);
    QCOMPARE(typeMembers(dictionary->getDPointDefByName("Nothing")),
        QStringLiteral("\"type\":\"enum\", \"default\":-1, \"values\":[]"));
}

void TstDPDictLoader::getEnumDefBeforeAnyLoad()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QVERIFY(loader.getEnumDef("onOff").isEmpty());
    QVERIFY(loader.getEnumDef(QString()).isEmpty());
    QVERIFY(loader.getIndexEnumDef("onOff").isEmpty());
}

void TstDPDictLoader::enumTablesSurviveFailedLoads()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    const QHash<int, QString> onOff { { 0, "Off" }, { 1, "On" } };
    Dictionary dictionary(loader.load(writeFile(document(onOffEnumDef)), "first"));
    QVERIFY(dictionary);
    dictionary.reset();
    QCOMPARE(loader.getEnumDef("onOff"), onOff);

    QVERIFY(!loader.load(writeFile(header + "<Dictionary><EnumDef id=\"x\"/>"), "broken"));
    QCOMPARE(loader.getEnumDef("onOff"), onOff);
    QVERIFY(!loader.load(m_dir.filePath("absent.xml"), "missing"));
    QCOMPARE(loader.getIndexEnumDef("onOff"), (QHash<QString, int> { { "Off", 0 }, { "On", 1 } }));

    dictionary.reset(loader.load(writeFile(document("<EnumDef id=\"x\"/>")), "second"));
    QVERIFY(dictionary);
    QVERIFY(loader.getEnumDef("onOff").isEmpty());
}

void TstDPDictLoader::loadDPointDefDirectly()
{
    QDomDocument doc;
    QVERIFY(doc.setContent(
        QByteArray("<VariableDef variableName=\"p\"><ExternalName>E</ExternalName><PxcId>9</PxcId>"
                   "<Access>R</Access></VariableDef>")));
    MeasurementRegistry registry;
    DPDictLoader loader(nullptr, nullptr, &registry);

    auto* number = new DPTypeNumber;
    std::unique_ptr<DPointDef> def(loader.loadDPointDef(doc.documentElement(), *number));
    QVERIFY(def);
    QVERIFY(!def->parent());
    QCOMPARE(number->parent(), def.get());
    QCOMPARE(def->m_type, number);
    QCOMPARE(def->m_registry, &registry);
    QCOMPARE(def->m_pxcId, 9);
    QVERIFY(def->m_readable);

    auto* text = new DPTypeString;
    std::unique_ptr<DPointDef> textDef(loader.loadDPointDef(doc.documentElement(), *text));
    QVERIFY(!textDef->m_registry);
}

void TstDPDictLoader::runReportsObsolete()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QSignalSpy completes(&loader, &DPDictLoader::complete);
    QTest::ignoreMessage(QtCriticalMsg, "DPDictLoader run method is obsolete.");
    loader.run();
    QCOMPARE(errors.count(), 1);
    QCOMPARE(
        errors.first().first().toString(), QStringLiteral("DPDictLoader run method is obsolete."));
    QCOMPARE(completes.count(), 0);
}

void TstDPDictLoader::runInThreadReportsObsolete()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QSignalSpy completes(&loader, &DPDictLoader::complete);
    // QThread::wait orders nothing the thread sanitizer can see; this flag, set after the spy
    // has recorded the signal, does.
    std::atomic<bool> reported { false };
    connect(
        &loader, &DPDictLoader::error, this, [&reported] { reported = true; },
        Qt::DirectConnection);
    QTest::ignoreMessage(QtCriticalMsg, "DPDictLoader run method is obsolete.");
    loader.start();
    QVERIFY(loader.wait(10000));
    QVERIFY(reported);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(
        errors.first().first().toString(), QStringLiteral("DPDictLoader run method is obsolete."));
    QCOMPARE(completes.count(), 0);
}

void TstDPDictLoader::handleTravelsThroughQueuedConnection()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    HandleReceiver receiver;
    // By signature text, so the handle must be known under the name "DictRefSP".
    QVERIFY(connect(&loader, SIGNAL(complete(DictRefSP)), &receiver, SLOT(take(DictRefSP)),
        Qt::QueuedConnection));

    // Sent from a std::thread, which has ended (so the thread sanitizer sees the hand-over)
    // before this thread's event loop delivers the handle.
    DPointDictionary dictionary;
    std::thread([&] { Q_EMIT loader.complete(DictRefSP(new DictRef(&dictionary))); }).join();
    QTRY_COMPARE(receiver.m_received.loadAcquire(), &dictionary);
}

void TstDPDictLoader::deepNesting_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("errorLine");
    QTest::addColumn<int>("points");

    const auto nested = [](int levels, const QByteArray& separator, const QByteArray& bottom) {
        return nestedDocument(header, levels, separator, bottom);
    };
    // The root is level 1; nested(1022, ...) puts deepPoint's DataItem at level 1024.
    QTest::newRow("200000 levels, one per line") << nested(200000, "\n", "") << 1026 << 0;
    QTest::newRow("200000 levels on one line") << nested(200000, "", "") << 2 << 0;
    QTest::newRow("1024 levels load") << nested(1022, "\n", deepPoint) << 0 << 1;
    QTest::newRow("1025 levels refused") << nested(1023, "\n", deepPoint) << 1025 << 0;
    QTest::newRow("empty element at level 1025")
        << nested(1024, "\n", "<VariableDef variableName=\"e\"/>") << 1026 << 0;

    QString utf16 = QChar(0xFEFF) + QStringLiteral("<?xml version=\"1.0\"?>\n<Dictionary>\n");
    for (int level = 2; level <= 200000; ++level) {
        utf16 += QStringLiteral("<a>\n");
    }
    QTest::newRow("UTF-16, 200000 levels")
        << QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2) << 1026 << 0;
}

void TstDPDictLoader::deepNesting()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, errorLine);
    QFETCH(int, points);

    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    const QString path = writeFile(xml);
    const Dictionary dictionary(loader.load(path, "deep"));
    if (errorLine == 0) {
        QVERIFY(dictionary);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(dictionary->getAllDefs().size(), points);
        return;
    }
    QVERIFY(!dictionary);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(),
        QStringLiteral("Failed to parse ") + path
            + ", error: document nested deeper than 1024 levels, errLine: "
            + QString::number(errorLine));
}

void TstDPDictLoader::declaredEncodingAndDepth_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("errorLine");
    QTest::addColumn<int>("points");

    // The parser reads the file in the encoding its declaration names, where the codec is
    // known; an unknown name leaves it reading UTF-8.
    for (const QByteArray& encoding :
        { QByteArray("UTF-8"), QByteArray("UTF-7"), QByteArray("ISO-8859-1"),
            QByteArray("windows-1252"), QByteArray("x-no-such-codec") }) {
        const auto encoded = [&encoding](const QByteArray& xml) {
            return encoding == "UTF-7" ? hideMarkup(xml) : xml;
        };
        const QByteArray decl = declaration(encoding);
        QTest::addRow("%s, 1024 levels load", encoding.constData())
            << encoded(nestedDocument(decl, 1022, "", deepPoint)) << 0 << 1;
        QTest::addRow("%s, 1025 levels refused", encoding.constData())
            << encoded(nestedDocument(decl, 1023, "", deepPoint)) << 1 << 0;
    }
    QTest::newRow("UTF-7, 300000 levels refused")
        << hideMarkup(nestedDocument(declaration("UTF-7"), 300000, "", "")) << 1 << 0;
    QTest::newRow("UTF-7, lines counted in the decoded text")
        << hideMarkup(nestedDocument(declaration("UTF-7"), 1023, "\n", deepPoint)) << 1024 << 0;
    // The parser looks for the declaration in its first read of 1024 bytes only. Read as
    // UTF-8, the encoded elements are the root's text.
    const auto paddedTo = [](int length) {
        const int padding = length - declaration("UTF-7").size();
        return declaration("UTF-7", padding) + "<Dictionary>"
            + QByteArray("+ADw-a>").repeated(20000) + QByteArray("+ADw-/a>").repeated(20000)
            + "</Dictionary>\n";
    };
    QTest::newRow("UTF-7 declaration ending at byte 1024") << paddedTo(1024) << 1 << 0;
    QTest::newRow("UTF-7 declaration ending at byte 1025 is not read") << paddedTo(1025) << 0 << 0;
}

void TstDPDictLoader::declaredEncodingAndDepth()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, errorLine);
    QFETCH(int, points);

    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    const QString path = writeFile(xml);
    const Dictionary dictionary(loader.load(path, "encoded"));
    if (errorLine == 0) {
        QVERIFY(dictionary);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(dictionary->getAllDefs().size(), points);
        return;
    }
    QVERIFY(!dictionary);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(),
        QStringLiteral("Failed to parse ") + path
            + ", error: document nested deeper than 1024 levels, errLine: "
            + QString::number(errorLine));
}

void TstDPDictLoader::markupThatOnlyLooksDeep()
{
    // Comments, CDATA sections, processing instructions, quoted attribute values, empty
    // elements and a document type declaration all hold '<' or '>' that open no element.
    QByteArray xml = header
        + "<!DOCTYPE Dictionary [\n<!ELEMENT Dictionary ANY>\n<!-- <x><y> -->\n<?note <z>?>\n"
          "<!ENTITY arrow \"-->\">\n<!ATTLIST item note CDATA \"a>b\">\n]>\n<Dictionary>\n";
    for (int i = 0; i < 30000; ++i) {
        xml += "<item note=\"a>b\" path='x/>' q=\"'\"><!-- <c> <d> --><![CDATA[<e><f>]]>"
               "<?pi <g> ?><empty/><empty a=\">\"/></item>\n";
    }
    // Constructs far longer than the chunks the file is read in.
    xml += "<big><![CDATA[" + QByteArray("<x>").repeated(700000) + "]]></big>\n";
    xml += "<!--" + QByteArray("<y>").repeated(700000) + "-->\n";
    xml += "<wide note=\"" + QByteArray("a>").repeated(700000) + "\"/>\n";
    xml += variableDef("last", dataItem("Int16")) + "</Dictionary>\n";
    const Dictionary dictionary = loadText(xml);
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getNamespaceNames(), QStringList({ "last" }));
}

void TstDPDictLoader::longConstructsInDecodedText()
{
    // Constructs far longer than the chunks the file is read in, holding what decodes to
    // start tags.
    QByteArray xml = declaration("UTF-7") + "<Dictionary>\n";
    xml += "<big><![CDATA[" + QByteArray("<x>").repeated(700000) + "]]></big>\n";
    xml += "<!--" + QByteArray("<y>").repeated(700000) + "-->\n";
    xml += "<wide note=\"" + QByteArray("a>").repeated(700000) + "\"/>\n";
    xml += variableDef("last", dataItem("Int16")) + "</Dictionary>\n";
    const Dictionary dictionary = loadText(hideMarkup(xml));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getNamespaceNames(), QStringList({ "last" }));
}

void TstDPDictLoader::utf16Document()
{
    const QString xml = QChar(0xFEFF) + QStringLiteral("<?xml version=\"1.0\"?>\n<Dictionary>")
        + QString::fromUtf8(variableDef(
            "Temp", dataItem("Int16") + "<ExternalName>Temp\xC3\xA9rature</ExternalName>"))
        + QStringLiteral("</Dictionary>\n");
    const Dictionary dictionary
        = loadText(QByteArray(reinterpret_cast<const char*>(xml.utf16()), xml.size() * 2));
    QVERIFY(dictionary);
    QCOMPARE(
        dictionary->getDPointDefByName("Temp")->m_externalName, QStringLiteral("Temp\u00e9rature"));
}

void TstDPDictLoader::largeGeneratedDictionary()
{
    constexpr int pointCount = 20000;
    QByteArray body = onOffEnumDef;
    for (int i = 0; i < pointCount; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray item;
        switch (i % 4) {
        case 0:
            item = dataItem("Int16",
                "<RawValueMin>0</RawValueMin><RawValueMax>" + n
                    + "</RawValueMax><UomId>degC_x10</UomId><UnitsOfMeasure>C</UnitsOfMeasure>");
            break;
        case 1:
            item = dataItem("Enum", "<RawValueDflt>On</RawValueDflt><EnumDefId>onOff</EnumDefId>");
            break;
        case 2:
            item = dataItem("Real", "<RawValueDflt>" + n + ".5</RawValueDflt>");
            break;
        default:
            item = dataItem("String", "<LengthMax>" + n + "</LengthMax>");
            break;
        }
        body += variableDef("Point" + n,
            item + "<ExternalName>Point number " + n + "</ExternalName><LineID>L" + n
                + "</LineID><Worksheet><Name>Sheet" + QByteArray::number(i % 10)
                + "</Name></Worksheet><DisplayHint grpid=\"g\" rowid=\"" + n
                + "\"/><Access>R</Access>");
    }
    const Dictionary dictionary = loadText(document(body));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getAllDefs().size(), pointCount);
    QCOMPARE(dictionary->getNamespaceSize(), pointCount);
    const DPointDef* last = dictionary->getDPointDefByName("Point19999");
    QVERIFY(last);
    QCOMPARE(last->getTypeJson(),
        QStringLiteral("{\"type\":\"text\", \"default\":\"\", \"charSet\":\"\", \"format\":\"\", "
                       "\"maxLen\":19999, \"variableName\":\"Point19999\", "
                       "\"externalName\":\"Point number 19999\", \"lineId\":\"L19999\", "
                       "\"access\":\"R\"}"));
    QCOMPARE(last->property("Worksheet"), QVariant(QStringLiteral("Sheet9")));
}

void TstDPDictLoader::bundledSample()
{
    std::unique_ptr<MeasurementRegistry> registry(MeasurementLoader::loadMeasurementRegistry(
        QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
    QVERIFY(registry);
    DPDictLoader loader(nullptr, nullptr, registry.get());
    QSignalSpy errors(&loader, &DPDictLoader::error);
    const Dictionary dictionary(
        loader.load(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"), "boiler"));
    QVERIFY(dictionary);
    QCOMPARE(errors.count(), 0);

    const QList<DPointDef*> defs = dictionary->getAllDefs();
    QCOMPARE(defs.size(), 40);
    for (const char* skipped :
        { "BoilerGraphic", "BurnerRunning", "NextServiceTime", "DoorOpenMessage" }) {
        QVERIFY2(!dictionary->getDPointDefByName(skipped), skipped);
    }
    QSet<QByteArray> kinds;
    for (const DPointDef* def : defs) {
        QJsonParseError parseError;
        const QJsonDocument json
            = QJsonDocument::fromJson(def->getTypeJson().toUtf8(), &parseError);
        QVERIFY2(parseError.error == QJsonParseError::NoError && json.isObject(),
            qPrintable(def->getTypeJson()));
        kinds.insert(def->m_type->metaObject()->className());
    }
    QCOMPARE(kinds.size(), 7);

    QCOMPARE(dictionary->getDPointDefByName("SupplyTemp")->getTypeJson(),
        QStringLiteral("{\"type\":\"int\", \"default\":800, \"min\":32.0, \"max\":248.0, "
                       "\"resolution\":0.1, \"unitsLabel\":\"\u00b0F\", "
                       "\"variableName\":\"SupplyTemp\", "
                       "\"externalName\":\"Supply water temperature\", \"lineId\":\"BLR1.AI01\", "
                       "\"access\":\"R\"}"));
    QCOMPARE(dictionary->getDPointDefByName("BurnerModulation")->getTypeJson(),
        QStringLiteral("{\"type\":\"int\", \"default\":0, \"min\":0, \"max\":100, "
                       "\"resolution\":1, \"unitsLabel\":\"%\", "
                       "\"variableName\":\"BurnerModulation\", "
                       "\"externalName\":\"Burner modulation\", \"lineId\":\"BRN1.AO01\", "
                       "\"access\":\"RW\"}"));
    QCOMPARE(dictionary->getDPointDefByName("EfficiencyEstimate")->getTypeJson(),
        QStringLiteral("{\"type\":\"qreal\", \"default\":88.5, \"min\":0, \"max\":100, "
                       "\"resolution\":1, \"unitsLabel\":\"%\", "
                       "\"variableName\":\"EfficiencyEstimate\", "
                       "\"externalName\":\"Estimated combustion efficiency\", "
                       "\"lineId\":\"BRN1.AV02\", \"access\":\"R\"}"));
    QCOMPARE(dictionary->getDPointDefByName("BoilerTag")->getTypeJson(),
        QStringLiteral("{\"type\":\"text\", \"default\":\"BLR-1\", "
                       "\"charSet\":\"[A-Za-z0-9\\\\-_ ]*\", \"format\":\"%s\", \"maxLen\":16, "
                       "\"variableName\":\"BoilerTag\", \"externalName\":\"Boiler tag\", "
                       "\"lineId\":\"SYS1.TX01\", \"access\":\"RW\"}"));
    QCOMPARE(dictionary->getDPointDefByName("LowWaterAlarm")->getTypeJson(),
        QStringLiteral("{\"type\":\"event\", \"id\":102, \"desc\":\"Low water level\", "
                       "\"expl\":\"The low water cut-off opened.\", \"etype\":2, \"atype\":0, "
                       "\"rtype\":1, \"avs\":[{ \"type\":\"Pressure\", "
                       "\"id\":\"SystemPressure\", \"access\":\"R\" }], "
                       "\"variableName\":\"LowWaterAlarm\", "
                       "\"externalName\":\"Low water cut-off\", \"lineId\":\"ALM1.EV02\", "
                       "\"access\":\"R\"}"));

    const DPointDef* pumpMode = dictionary->getDPointDefByName("PumpMode");
    QCOMPARE(pumpMode->m_type->getDefaultValue(), QVariant(2));
    QCOMPARE(dictionary->getDPointDefByName("MakeupFlow")->m_lineId, QStringLiteral("HYD1"));
    QCOMPARE(dictionary->getDPointDefByName("SupplyVoltage")->m_lineId, QStringLiteral("ELC1"));

    const DPointDef* supply = dictionary->getDPointDefByName("SupplyTemp");
    QCOMPARE(supply->property("Worksheet"), QVariant(QStringLiteral("Boiler")));
    QCOMPARE(supply->property("LargeDisplay"), QVariant(QStringLiteral("Supply temp")));
    QCOMPARE(supply->property("ShowVar"), QVariant(QStringLiteral("SupplySetpoint")));
    QCOMPARE(supply->property("DisplayHints").value<Hints>(),
        (Hints { { "Overview", "1" }, { "Temperatures", "1" } }));
    QVERIFY(!dictionary->getDPointDefByName("SupplySetpoint")->property("LargeDisplay").isValid());
}

void TstDPDictLoader::formatRulesStandAlone()
{
    QCOMPARE(DPDictFormat::selectPointKind("RealTime"), DPDictFormat::RealPoint);
    QCOMPARE(DPDictFormat::selectPointKind("Component"), DPDictFormat::NoPointKind);

    QDomDocument doc;
    QVERIFY(doc.setContent(
        QByteArray("<DataItem type=\"Event\"><EventType>Alarm</EventType><AckType>NONE</AckType>"
                   "<ResetType>none</ResetType></DataItem>")));
    const DPDictFormat::Selection selection = DPDictFormat::selectType(doc.documentElement());
    QCOMPARE(selection.kind, DPDictFormat::EventPoint);
    QCOMPARE(selection.skipReason, DPDictFormat::UnknownAckType);
    QVERIFY(!DPDictFormat::skipReasonText(selection.skipReason).isEmpty());
    QVERIFY(DPDictFormat::skipReasonText(DPDictFormat::NotSkipped).isEmpty());
    QCOMPARE(DPDictFormat::selectType(QDomElement()).skipReason, DPDictFormat::UnknownPointType);

    QCOMPARE(DPDictLoader::enumDefIdAttr, QStringLiteral("enumDefId"));
    QCOMPARE(DPDictLoader::componentTypeEnumAttr, DPDictLoader::enumDefIdAttr);
}

QTEST_GUILESS_MAIN(TstDPDictLoader)
#include "tst_dpdictloader.moc"
