// The dictionary loader. Each rule of the format is a named row of loader/rules.txt: a fragment
// and the fields the rule decides. The golden fixtures (loader/*-rules.xml, their loads described
// in loader/rules-*.txt) pin every field of many entries at once. The streaming and the DOM reading
// agree on every dictionary at hand: samples, test data, fuzz corpora (stream-* files must be
// streamed, dom-* files must not) and generated ones; the loader succeeds exactly when the DOM
// parse does.

#include "DictionaryGenerator.h"
#include "LoadDescription.h"
#include "TestTables.h"
#include "core/NestingGuard_p.h"
#include "loader/DPDictDomReader_p.h"
#include "loader/DPDictStreamReader_p.h"

#include <kivo/dictionary/DictRef.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeIPv4.h>

#include <QBuffer>
#include <QDirIterator>
#include <QDomDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace kivo;
using Dictionary = std::unique_ptr<DPointDictionary>;

namespace {

const QString rules = QStringLiteral(KIVO_TEST_DATA_DIR "/loader/%1-rules.xml");
const QString described = QStringLiteral(KIVO_TEST_DATA_DIR "/loader/rules-%1.txt");
const QString obsolete = QStringLiteral("DPDictLoader run method is obsolete.");

// One field of a definition, as a rule row of loader/rules.txt names it.
QString field(const DPointDef* def, const QString& key)
{
    const DPTypeBase* type = def->m_type;
    const auto property = [def](const char* name) {
        const QVariant value = def->property(name);
        return value.isValid() ? value.toString() : QStringLiteral("none");
    };
    const QString access = QString(def->m_readable ? "R" : "") + (def->m_writable ? "W" : "");
    QStringList hints;
    const auto map = def->property("DisplayHints").value<QMap<QString, QString>>();
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        hints << it.key() + '=' + it.value();
    QHash<QString, QString> fields {
        { "type", QString(type->metaObject()->className()).section("::", 1) },
        { "name", def->objectName() }, { "externalName", def->m_externalName },
        { "lineId", def->m_lineId }, { "pxcId", QString::number(def->m_pxcId) },
        { "registry", QString::number(def->m_registry != nullptr) },
        { "access", access.isEmpty() ? "-" : access }, { "worksheet", property("Worksheet") },
        { "largeDisplay", property("LargeDisplay") }, { "showVar", property("ShowVar") },
        { "hints", hints.join(',') }
    };
    const auto measured = [&fields](const auto* t) {
        fields.insert({ { "default", t->m_default.isValid() ? t->m_default.toString() : "none" },
            { "min", QString::number(t->m_min) }, { "max", QString::number(t->m_max) },
            { "units", t->m_units }, { "unitsLabel", t->m_unitsLabel } });
    };
    if (const auto* number = qobject_cast<const DPTypeNumber*>(type))
        measured(number);
    if (const auto* real = qobject_cast<const DPTypeReal*>(type))
        measured(real);
    if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(type)) {
        QStringList labels;
        for (auto it = enumeration->m_values.cbegin(); it != enumeration->m_values.cend(); ++it)
            labels << QString::number(it.key()) + '=' + it.value();
        labels.sort();
        fields.insert({ { "default", QString::number(enumeration->m_default) },
            { "labels", labels.join(',') } });
    }
    if (const auto* text = qobject_cast<const DPTypeString*>(type)) {
        fields.insert({ { "default", text->m_default }, { "charSet", text->m_charSet },
            { "format", text->m_format }, { "maxLength", QString::number(text->m_maxLen) } });
    }
    if (const auto* time = qobject_cast<const DPTypeTime*>(type)) {
        fields.insert({ { "default", QString::number(time->m_default) },
            { "epoch", QString::number(time->m_epoch) } });
    }
    if (const auto* address = qobject_cast<const DPTypeIPv4*>(type))
        fields.insert("default", address->m_default);
    if (const auto* event = qobject_cast<const DPTypeEvent*>(type)) {
        QStringList avs;
        for (auto it = event->m_associatedVariables.cbegin();
             it != event->m_associatedVariables.cend(); ++it)
            avs << it.key() + ':' + it.value()->names + ':'
                    + QString::number(it.value()->changeable);
        fields.insert({ { "etype", QString::number(event->m_eventType) },
            { "atype", QString::number(event->m_ackType) },
            { "rtype", QString::number(event->m_resetType) },
            { "changeable", QString::number(event->m_changeable) },
            { "eventId", QString::number(event->m_eventId) },
            { "description", event->m_description }, { "explanation", event->m_explanation },
            { "avs", avs.join(',') } });
    }
    return fields.value(key, "<no field " + key + ">");
}

// Character references in an expected text.
QString resolved(QString text)
{
    static const QRegularExpression reference("&#x([0-9A-F]+);");
    QRegularExpressionMatch match;
    while ((match = reference.match(text)).hasMatch())
        text.replace(match.capturedStart(), match.capturedLength(),
            QChar(match.captured(1).toUInt(nullptr, 16)));
    return text;
}

} // namespace

class TstDPDictLoader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void rule_data();
    void rule();
    void formatRules_data();
    void formatRules();
    void enumTablesOfTheLastLoad();
    void findingsOfTheLastLoad();
    void referencesBeyondU_FFFF_data();
    void referencesBeyondU_FFFF();
    void streamStopsWhereItDeclines_data();
    void streamStopsWhereItDeclines();
    void identity_data();
    void identity();
    void signalsFromOtherThreads();

private:
    std::unique_ptr<MeasurementRegistry> m_registry;
    QTemporaryDir m_dir;
};

void TstDPDictLoader::initTestCase()
{
    m_registry.reset(MeasurementLoader::loadMeasurementRegistry(
        QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
    QVERIFY(m_registry);
    const QString generated = m_dir.filePath(QStringLiteral("generated.xml"));
    QVERIFY(test::writeDictionary(
        generated, 3000, test::readUnits(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")))
                .points);
}

// Rows: rule|fragment of a dictionary, after an EnumDef "onOff" (0 Off, 1 On)|the fields the
// rule decides, of the last definition made, as name=value ("points" counts the definitions).
// The streaming and the DOM reading both give them.
void TstDPDictLoader::rule_data()
{
    addTableRows("loader/rules.txt");
}

void TstDPDictLoader::rule()
{
    QFETCH(QStringList, row);
    const QByteArray document
        = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dictionary>\n<EnumDef id=\"onOff\">"
          "<Enum value=\"0\">Off</Enum><Enum value=\"1\">On</Enum></EnumDef>\n"
        + row[1].toUtf8() + "\n</Dictionary>\n";
    DPDictBuilder stream(m_registry.get());
    QVERIFY(readStream(document, stream));
    DPDictBuilder dom(m_registry.get());
    QDomDocument parsed;
    QString message;
    int line = 0;
    QVERIFY(parseGuarded(document, &parsed, &message, &line));
    readDomDocument(parsed, dom);
    for (DPDictBuilder* builder : { &stream, &dom }) {
        const Dictionary dictionary(builder->takeDictionary(QStringLiteral("d")));
        const QObjectList defs = dictionary->children();
        for (const QString& expected : row.mid(2)) {
            const QString key = expected.section('=', 0, 0);
            const QString value = key == "points" ? QString::number(defs.size())
                : defs.isEmpty()                  ? QStringLiteral("<no definition>")
                                 : field(qobject_cast<DPointDef*>(defs.last()), key);
            QCOMPARE(key + '=' + value, resolved(expected));
        }
    }
}

void TstDPDictLoader::formatRules_data()
{
    QTest::addColumn<QString>("reader");
    QTest::newRow("stream") << "stream";
    QTest::newRow("DOM") << "dom";
}

void TstDPDictLoader::formatRules()
{
    QFETCH(QString, reader);
    DPDictLoader loader(nullptr, nullptr, m_registry.get());
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QSignalSpy completes(&loader, &DPDictLoader::complete);
    const Dictionary dictionary(loader.load(rules.arg(reader), QStringLiteral("rules")));
    QVERIFY(dictionary);
    QVERIFY(!dictionary->parent());
    QCOMPARE(errors.count() + completes.count(), 0);
    QFile expected(described.arg(reader));
    QVERIFY(expected.open(QIODevice::ReadOnly | QIODevice::Text));
    QCOMPARE(test::describeLoad(dictionary.get(), {}).split('\n'),
        QString::fromUtf8(expected.readAll()).split('\n', Qt::SkipEmptyParts));
}

void TstDPDictLoader::enumTablesOfTheLastLoad()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QVERIFY(loader.getEnumDef(QStringLiteral("mode")).isEmpty());
    QVERIFY(Dictionary(loader.load(rules.arg("stream"), QStringLiteral("d"))));
    const QHash<int, QString> mode { { 0, "Zero" }, { 2, "Automatic" } };
    QCOMPARE(loader.getEnumDef(QStringLiteral("mode")), mode);
    QCOMPARE(loader.getIndexEnumDef(QStringLiteral("mode")),
        (QHash<QString, int> { { "Auto", 2 }, { "Off", 0 }, { "Automatic", 2 }, { "Zero", 0 } }));
    QCOMPARE(loader.getEnumDef(QStringLiteral("deep")), (QHash<int, QString> { { 1, "One" } }));
    QVERIFY(loader.getEnumDef(QStringLiteral("MODE")).isEmpty());
    // Failed loads keep the tables; a successful one replaces them.
    QVERIFY(!loader.load(QStringLiteral(KIVO_TEST_DATA_DIR "/loader/unclosed.xml"), "u"));
    QVERIFY(!loader.load(m_dir.filePath(QStringLiteral("absent.xml")), QStringLiteral("a")));
    QCOMPARE(loader.getEnumDef(QStringLiteral("mode")), mode);
    const Dictionary empty(
        loader.load(QStringLiteral(KIVO_TEST_DATA_DIR "/loader/stream-no-points.xml"), "e"));
    QVERIFY(empty && empty->getAllDefs().isEmpty());
    QVERIFY(loader.getIndexEnumDef(QStringLiteral("mode")).isEmpty());
}

// Findings come sorted by line with the file name given to load, and leave what is loaded
// alone; references and the skip count come with them, and a failed load clears all three.
void TstDPDictLoader::findingsOfTheLastLoad()
{
    const QString path = m_dir.filePath(QStringLiteral("findings.xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<Dictionary>\n"
               "<VariableDef variableName=\"B\"><DataItem type=\"Bool\"/></VariableDef>\n"
               "<VariableDef variableName=\"A\"><DataItem type=\"UInt8\">\n"
               "<RawValueMax>300</RawValueMax><RawValueMim>1</RawValueMim></DataItem>\n"
               "<ShowVar>B</ShowVar></VariableDef>\n"
               "</Dictionary>\n");
    file.close();
    DPDictLoader loader(nullptr, nullptr, m_registry.get());
    QVERIFY(loader.findings().isEmpty());
    const Dictionary dictionary(loader.load(path, QStringLiteral("d")));
    QVERIFY(dictionary);
    QCOMPARE(dictionary->getAllDefs().size(), 1);
    const auto finding = [&path](int line, LoadFinding::Severity severity, const char* text) {
        return LoadFinding { path, line, severity, QString::fromUtf8(text) };
    };
    const QVector<LoadFinding> expected {
        finding(2, LoadFinding::Warning,
            "entry 'B' is skipped: the DataItem type selects no point type (type \"Bool\")"),
        finding(4, LoadFinding::Warning,
            "unknown element <RawValueMim> in DataItem of point 'A' is not read; did you mean "
            "<RawValueMin>?"),
        finding(4, LoadFinding::Error,
            "RawValueMax 300 of point 'A' does not fit its type \"UInt8\" (0 to 255)"),
    };
    QCOMPARE(test::describeFindings(loader.findings()), test::describeFindings(expected));
    QCOMPARE(loader.findings(), expected);
    QCOMPARE(loader.findings().at(2).toString(),
        path
            + ":4: error: RawValueMax 300 of point 'A' does not fit its type \"UInt8\" (0 to 255)");
    QCOMPARE(loader.pointReferences().size(), 1);
    QCOMPARE(loader.pointReferences().at(0).name, QStringLiteral("B"));
    QCOMPARE(loader.pointReferences().at(0).line, 5);
    QCOMPARE(loader.skippedCount(), 1);
    QVERIFY(!loader.load(QStringLiteral(KIVO_TEST_DATA_DIR "/loader/unclosed.xml"), "u"));
    QVERIFY(loader.findings().isEmpty() && loader.pointReferences().isEmpty());
    QCOMPARE(loader.skippedCount(), 0);
}

// A character reference beyond U+FFFF stands for its low 16 bits, as Qt 5's DOM reads it, on
// every path: the streamed file and the same with a document type, which the DOM reads.
void TstDPDictLoader::referencesBeyondU_FFFF_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("streamed") << "stream-astral-references.xml";
    QTest::newRow("DOM") << "dom-astral-references.xml";
}

void TstDPDictLoader::referencesBeyondU_FFFF()
{
    QFETCH(QString, file);
    DPDictLoader loader(nullptr, nullptr, nullptr);
    const Dictionary dictionary(
        loader.load(QStringLiteral(KIVO_TEST_DATA_DIR "/loader/") + file, QStringLiteral("d")));
    QVERIFY(dictionary);
    const DPointDef* def = dictionary->getDPointDefByName(QString::fromUtf8("smile\uF600"));
    QVERIFY(def);
    QCOMPARE(def->m_externalName, QString::fromUtf8("grin \uF601 A"));
    QCOMPARE(def->m_lineId, QString::fromUtf8("\uF600"));
    QCOMPARE(loader.getEnumDef(QStringLiteral("faces")),
        (QHash<int, QString> {
            { 1, QString::fromUtf8("\uF600") }, { 2, QString::fromUtf8("\uF600 and \uF601") } }));
    QCOMPARE(qobject_cast<const DPTypeEnum*>(def->m_type)->m_default, 1);
}

// The streaming reading reads no further than the window that holds the byte where it gives the
// document to the DOM, however much follows; a token cut by the window's end is read on.
void TstDPDictLoader::streamStopsWhereItDeclines_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("declines");
    QTest::newRow("mismatched end tag") << QByteArray("<D><a></b>") << true;
    QTest::newRow("document type") << QByteArray("<!DOCTYPE D><D>") << true;
    QTest::newRow("control character") << QByteArray("<D>\x01") << true;
    QTest::newRow("nested VariableDef")
        << QByteArray("<D><VariableDef><VariableDef/></VariableDef>") << true;
    QTest::newRow("long text") << QByteArray("<D><VariableDef variableName=\"a\"><ExternalName>")
            + QByteArray(20000, 'x') + "</ExternalName></VariableDef>"
                               << false;
}

void TstDPDictLoader::streamStopsWhereItDeclines()
{
    QFETCH(QByteArray, start);
    QFETCH(bool, declines);
    QByteArray content = start;
    for (int i = 0; i < 20000; ++i)
        content += "<VariableDef variableName=\"p\"><DataItem type=\"Int16\"/></VariableDef>\n";
    content += "</D>";
    QBuffer buffer;
    buffer.setData(content);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    DPDictBuilder builder(nullptr);
    const int window = 4096;
    QCOMPARE(readStream(&buffer, builder, window), !declines);
    if (declines)
        QVERIFY2(buffer.pos() <= 2 * window, qPrintable(QString::number(buffer.pos())));
}

void TstDPDictLoader::identity_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& dir :
        { QStringLiteral(KIVO_SAMPLE_DATA_DIR), QStringLiteral(KIVO_TEST_DATA_DIR),
            QStringLiteral(KIVO_FUZZ_CORPUS_DIR), m_dir.path() }) {
        QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QTest::newRow(qPrintable(path)) << path;
        }
    }
}

void TstDPDictLoader::identity()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();

    DPDictBuilder stream(m_registry.get());
    const bool streamed = readStream(content, stream);
    const QString name = QFileInfo(path).fileName();
    if (name.startsWith(QLatin1String("stream-")) || name.startsWith(QLatin1String("dom-")))
        QCOMPARE(streamed, name.startsWith(QLatin1String("stream-")));
    DPDictBuilder dom(m_registry.get());
    QDomDocument document;
    QString message;
    int line = 0;
    const bool parsed = parseGuarded(content, &document, &message, &line);
    if (parsed)
        readDomDocument(document, dom);
    QString streamDescription;
    if (streamed) {
        QVERIFY2(parsed, qPrintable(message));
        const Dictionary streamDictionary(stream.takeDictionary("d"));
        const Dictionary domDictionary(dom.takeDictionary("d"));
        streamDescription = test::describeLoad(streamDictionary.get(), stream.enumDefs()) + '\n'
            + test::describeFindings(stream.findings());
        QCOMPARE(streamDescription,
            test::describeLoad(domDictionary.get(), dom.enumDefs()) + '\n'
                + test::describeFindings(dom.findings()));
    }
    // Through a window this small every token is cut off and read again, once it grows.
    for (const int window : { 1, 7, 300 }) {
        QBuffer buffer;
        buffer.setData(content);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        DPDictBuilder windowed(m_registry.get());
        QCOMPARE(readStream(&buffer, windowed, window), streamed);
        if (streamed) {
            const Dictionary dictionary(windowed.takeDictionary("d"));
            QCOMPARE(test::describeLoad(dictionary.get(), windowed.enumDefs()) + '\n'
                    + test::describeFindings(windowed.findings()),
                streamDescription);
        }
    }
    DPDictLoader loader(nullptr, nullptr, m_registry.get());
    QCOMPARE(bool(Dictionary(loader.load(path, QStringLiteral("d")))), parsed);
}

// The obsolete thread body only reports itself; the handle the loader hands over is known by the
// name "DictRefSP", as connections by signature text need.
void TstDPDictLoader::signalsFromOtherThreads()
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    QSignalSpy errors(&loader, &DPDictLoader::error);
    QSignalSpy completes(&loader, SIGNAL(complete(DictRefSP)));
    // QThread::wait orders nothing the thread sanitizer can see; this flag, set by the loader's
    // thread once run() has returned (its texts released), does.
    std::atomic<bool> finished { false };
    connect(
        &loader, &QThread::finished, this, [&finished] { finished = true; }, Qt::DirectConnection);
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(obsolete));
    loader.start();
    QVERIFY(loader.wait(10000) && finished);
    QCOMPARE(errors, QList<QVariantList>({ { obsolete } }));
    QCOMPARE(completes.count(), 0);
    DPointDictionary dictionary;
    // From a std::thread, which has ended (so the thread sanitizer sees the hand-over).
    std::thread([&] { Q_EMIT loader.complete(DictRefSP(new DictRef(&dictionary))); }).join();
    QCOMPARE(completes.at(0).at(0).value<DictRefSP>()->m_dict, &dictionary);
}

QTEST_GUILESS_MAIN(TstDPDictLoader)
#include "tst_dpdictloader.moc"
