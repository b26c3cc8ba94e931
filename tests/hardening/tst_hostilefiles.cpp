// Hostile input files for the two loaders. Each case states what a loader does with the file:
// refuse it through its ordinary failure report, or load it with a stated result. Nothing may
// crash, hang or read anything but the file it was given.

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeString.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kivo;

namespace {

// One definition of each kind the checks below look at, with texts outside ASCII (U+00E9, and
// U+010D, whose UTF-16 form holds a CR byte).
const char smallDictionaryText[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<Dictionary>\n"
                                   "  <VariableDef variableName=\"Temp\">\n"
                                   "    <DataItem type=\"Int16\"><RawValueDflt>5</RawValueDflt>"
                                   "</DataItem>\n"
                                   "    <ExternalName>Caf\xC3\xA9 \xC4\x8D</ExternalName>\n"
                                   "    <Access>R</Access>\n"
                                   "  </VariableDef>\n"
                                   "  <VariableDef variableName=\"Address\">\n"
                                   "    <DataItem type=\"IPv4\"/>\n"
                                   "  </VariableDef>\n"
                                   "</Dictionary>\n";

const char smallMeasurementText[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<Measurements>\n"
                                    "  <MSystemDef id=\"msys.us\"><Label>US \xC4\x8D</Label>"
                                    "</MSystemDef>\n"
                                    "  <MUnitDef id=\"degC\">\n"
                                    "    <Label>\xC2\xB0"
                                    "C</Label><Scale>1</Scale>"
                                    "<Resolution>0.5</Resolution>\n"
                                    "  </MUnitDef>\n"
                                    "</Measurements>\n";

// The document re-encoded as UTF-16 with a byte-order mark, line ends as given.
QByteArray asUtf16(const QByteArray& utf8, bool bigEndian, bool crlf)
{
    QString text = QString::fromUtf8(utf8);
    text.replace(QLatin1String("encoding=\"UTF-8\""), QLatin1String("encoding=\"UTF-16\""));
    if (crlf)
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QByteArray bytes(bigEndian ? "\xFE\xFF" : "\xFF\xFE");
    for (const QChar c : qAsConst(text)) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// Entities each made of ten of the one before, "lol" to "lol<levels>": with nine levels "lol9"
// stands for 3 * 10^9 characters. Line 1 is the XML declaration, line 3 declares "lol", line
// 3 + n declares "lol<n>".
QByteArray laughs(int levels, const QByteArray& body)
{
    QByteArray text = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= levels; ++level) {
        text += " <!ENTITY lol" + QByteArray::number(level) + " \"";
        const QByteArray previous
            = level == 1 ? "&lol;" : "&lol" + QByteArray::number(level - 1) + ';';
        text += previous.repeated(10) + "\">\n";
    }
    return text + "]>\n" + body + '\n';
}

QByteArray nested(int levels, const QByteArray& before = QByteArray())
{
    return "<Root>" + before + QByteArray("<a>").repeated(levels)
        + QByteArray("</a>").repeated(levels) + "</Root>";
}

// What Qt's debug stream makes of a path inside a quoted string.
QString quoted(QString path)
{
    return path.replace(QLatin1Char('"'), QLatin1String("\\\""));
}

struct DictionaryLoad
{
    std::unique_ptr<DPointDictionary> dictionary;
    QStringList errors;
};

DictionaryLoad loadDictionary(const QString& path)
{
    DPDictLoader loader(nullptr, nullptr, nullptr);
    DictionaryLoad result;
    QObject::connect(&loader, &DPDictLoader::error,
        [&result](const QString& message) { result.errors.append(message); });
    result.dictionary.reset(loader.load(path, QStringLiteral("hostile")));
    return result;
}

std::unique_ptr<MeasurementRegistry> loadRegistry(const QString& path)
{
    return std::unique_ptr<MeasurementRegistry>(MeasurementLoader::loadMeasurementRegistry(path));
}

// Every text a loaded dictionary gives out: names, JSON texts and dynamic properties.
QString everyText(DPointDictionary& dictionary)
{
    QString text;
    for (DPointDef* def : dictionary.getAllDefs()) {
        text += def->objectName() + def->getTypeJson();
        for (const QByteArray& name : def->dynamicPropertyNames()) {
            const QVariant value = def->property(name.constData());
            if (value.canConvert<QMap<QString, QString>>()) {
                const auto hints = value.value<QMap<QString, QString>>();
                for (auto it = hints.constBegin(); it != hints.constEnd(); ++it)
                    text += it.key() + it.value();
            } else {
                text += value.toString();
            }
        }
    }
    return text;
}

QString everyText(MeasurementRegistry& registry)
{
    QString text;
    const QMap<QString, QString> systems = registry.getSystems();
    for (auto it = systems.constBegin(); it != systems.constEnd(); ++it)
        text += it.key() + it.value();
    for (const QString& id : registry.getUnitIds())
        text += id + registry.getUnits(id)->m_label;
    return text;
}

QStringList typeJsons(DPointDictionary& dictionary)
{
    QStringList texts;
    for (DPointDef* def : dictionary.getAllDefs())
        texts.append(def->getTypeJson());
    return texts;
}

// Feeds content through a FIFO at path, from a thread of its own: once the loader has opened
// the FIFO, its name is removed, and only then is the content written. Returns when done.
class FifoWriter
{
public:
    FifoWriter(const QString& path, QByteArray content)
        : m_path(QFile::encodeName(path))
        , m_content(std::move(content))
    {
        m_ok = mkfifo(m_path.constData(), 0600) == 0;
        if (m_ok)
            m_thread = std::thread([this] { m_ok = write(); });
    }
    ~FifoWriter() { finish(); }

    // Whether the FIFO was made, opened by a reader, removed and written whole.
    bool finish()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_ok;
    }

private:
    bool write()
    {
        // Opening for writing without blocking fails until a reader has the FIFO open, so a
        // loader that never opens it cannot hang the test.
        const QDeadlineTimer deadline(20000);
        int fd = -1;
        while (fd < 0 && !deadline.hasExpired()) {
            fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
            if (fd < 0 && errno != ENXIO)
                return false;
            if (fd < 0)
                std::this_thread::yield();
        }
        if (fd < 0)
            return false;
        bool ok = ::unlink(m_path.constData()) == 0 && fcntl(fd, F_SETFL, 0) == 0;
        for (qint64 done = 0; ok && done < m_content.size();) {
            const ssize_t written = ::write(fd, m_content.constData() + done,
                size_t(std::min<qint64>(m_content.size() - done, 4096)));
            ok = written > 0;
            done += written;
        }
        return ::close(fd) == 0 && ok;
    }

    QByteArray m_path;
    QByteArray m_content;
    std::atomic<bool> m_ok { false };
    std::thread m_thread;
};

} // namespace

class TstHostileFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void refusedDictionary_data();
    void refusedDictionary();
    void refusedMeasurementFile_data();
    void refusedMeasurementFile();

    void entitiesWithinQtLimitExpand();
    void externalEntitiesAreNotRead();
    void largeDictionary();
    void largeMeasurementFile();
    void largeTextNode();
    void invalidUtf8IsReplaced();
    void nulCharacterIsKept();
    void utf16WithByteOrderMark_data();
    void utf16WithByteOrderMark();
    void utf16DictionaryFromPipe();
    void fileRemovedWhileRead();

private:
    QString write(const QString& name, const QByteArray& content);
    QString refusedPath(const QString& name, const QByteArray& content);

    QTemporaryDir m_dir;
};

void TstHostileFiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TstHostileFiles::write(const QString& name, const QByteArray& content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size())
        return QString();
    return path;
}

// The refused-file tables name a few special paths instead of giving content.
QString TstHostileFiles::refusedPath(const QString& name, const QByteArray& content)
{
    if (name == QLatin1String("directory"))
        return m_dir.path();
    if (name == QLatin1String("/dev/null"))
        return name;
    return write(name, content);
}

namespace {

void addRefusedRows(const QString& tooDeep, const QString& truncated, const QString& empty,
    const QString& entityTooLarge, const QString& directory)
{
    QFile sample(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray whole = sample.readAll();
    // The first 120 lines, up to and including the line end of line 120.
    int cut = -1;
    for (int line = 0; line < 120; ++line)
        cut = whole.indexOf('\n', cut + 1);
    QVERIFY(cut > 0);

    QTest::newRow("nested 100,000 levels") << "deep.xml" << nested(100000) << tooDeep;
    QTest::newRow("invalid UTF-8, then nested 100,000 levels")
        << "deep-invalid-utf8.xml" << nested(100000, "<x>\xFF</x>") << tooDeep;
    QTest::newRow("NUL character, then nested 100,000 levels")
        << "deep-nul.xml" << nested(100000, QByteArray("<x>\0</x>", 8)) << tooDeep;
    QTest::newRow("truncated sample") << "truncated.xml" << whole.left(cut + 1) << truncated;
    QTest::newRow("empty file") << "empty.xml" << QByteArray("") << empty;
    QTest::newRow("empty special file") << "/dev/null" << QByteArray() << empty;
    QTest::newRow("billion laughs")
        << "laughs.xml" << laughs(9, "<Dictionary><x>&lol9;</x></Dictionary>") << entityTooLarge;
    QTest::newRow("directory") << "directory" << QByteArray() << directory;
}

} // namespace

void TstHostileFiles::refusedDictionary_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");

    // Qt's DOM parser refuses an entity whose replacement text would exceed 4096 characters;
    // "lol4" (30,000) is the first, declared on line 7 and first used in "lol5" on line 8.
    addRefusedRows(QStringLiteral("Failed to parse %1, error: document nested deeper than 1024 "
                                  "levels, errLine: 1"),
        QStringLiteral("Failed to parse %1, error: unexpected end of file, errLine: 121"),
        QStringLiteral("Failed to parse %1, error: unexpected end of file, errLine: 1"),
        QStringLiteral("Failed to parse %1, error: The XML entity \"lol4\" expands to a string "
                       "that is too large to process (30000 characters > 4096)., errLine: 8"),
        QStringLiteral("Could not open '%1'"));
}

void TstHostileFiles::refusedDictionary()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);

    const QString path = refusedPath(name, content);
    QVERIFY(!path.isEmpty());
    const DictionaryLoad load = loadDictionary(path);
    QVERIFY(!load.dictionary);
    QCOMPARE(load.errors, QStringList { error.arg(path) });
}

void TstHostileFiles::refusedMeasurementFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");

    const QString parsing = QStringLiteral("\"PXC parsing failure '%1'\"");
    addRefusedRows(parsing, parsing, parsing, parsing,
        QStringLiteral("\"PXC open failure '%1': file to open is a directory\""));
}

void TstHostileFiles::refusedMeasurementFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);

    const QString path = refusedPath(name, content);
    QVERIFY(!path.isEmpty());
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(error.arg(quoted(path))));
    QVERIFY(!loadRegistry(path));
}

// Below the parser's limit internal entities are expanded into plain text: "&lol2;" is "lol"
// a hundred times, in both kinds of file.
void TstHostileFiles::entitiesWithinQtLimitExpand()
{
    const QString expected = QStringLiteral("lol").repeated(100);

    const DictionaryLoad load = loadDictionary(write(QStringLiteral("entities.xml"),
        laughs(2,
            "<Dictionary><VariableDef variableName=\"S\"><DataItem type=\"String\">"
            "<Default>&lol2;</Default></DataItem></VariableDef></Dictionary>")));
    QVERIFY(load.dictionary);
    DPointDef* def = load.dictionary->getDPointDefByName(QStringLiteral("S"));
    QVERIFY(def);
    QCOMPARE(qobject_cast<const DPTypeString*>(def->m_type)->m_default, expected);

    const auto registry = loadRegistry(write(QStringLiteral("entities-measurement.xml"),
        laughs(2, "<M><MSystemDef id=\"s\"><Label>&lol2;</Label></MSystemDef></M>")));
    QVERIFY(registry);
    QCOMPARE(registry->getSystems().value(QStringLiteral("s")), expected);
}

// An external entity naming a local file is declared but never read: each reference to it
// contributes no text, and the file's content appears nowhere in what is loaded.
void TstHostileFiles::externalEntitiesAreNotRead()
{
    const QByteArray secret = "SECRET-7f3a9c";
    const QString secretPath = write(QStringLiteral("secret.txt"), secret);
    QVERIFY(!secretPath.isEmpty());
    const QByteArray doctype = "<?xml version=\"1.0\"?>\n<!DOCTYPE Root [\n"
                               " <!ENTITY absolute SYSTEM \"file://"
        + QFile::encodeName(secretPath)
        + "\">\n"
          " <!ENTITY relative SYSTEM \"secret.txt\">\n"
          " <!ENTITY % parameter SYSTEM \"secret.txt\">\n"
          " %parameter;\n"
          "]>\n";

    const DictionaryLoad load = loadDictionary(write(QStringLiteral("external.xml"),
        doctype
            + "<Root><VariableDef variableName=\"S\">"
              "<DataItem type=\"String\"><Default>&absolute;</Default><Format>&relative;</Format>"
              "<CharRegex>a&absolute;b</CharRegex></DataItem>"
              "<ExternalName>x&relative;y</ExternalName><LargeDisplay>&absolute;</LargeDisplay>"
              "<Worksheet><Name>&relative;</Name></Worksheet>"
              "<DisplayHints><DisplayHint grpid=\"g\" rowid=\"1\">&absolute;</DisplayHint>"
              "</DisplayHints></VariableDef>"
              "<VariableDef variableName=\"E\"><DataItem type=\"Event\"><EventType>Alarm"
              "</EventType><AckType>MA</AckType><ResetType>MR</ResetType></DataItem>"
              "<Description>&absolute;</Description><EventExplanation>&relative;"
              "</EventExplanation><AssociatedVariable type=\"t\">&absolute;</AssociatedVariable>"
              "</VariableDef></Root>"));
    QVERIFY(load.errors.isEmpty());
    QVERIFY(load.dictionary);
    QCOMPARE(load.dictionary->getAllDefs().size(), 2);
    DPointDef* text = load.dictionary->getDPointDefByName(QStringLiteral("S"));
    QVERIFY(text);
    QCOMPARE(text->m_externalName, QStringLiteral("xy"));
    QCOMPARE(qobject_cast<const DPTypeString*>(text->m_type)->m_charSet, QStringLiteral("ab"));
    QVERIFY(!everyText(*load.dictionary).contains(QLatin1String(secret)));

    const auto registry = loadRegistry(write(QStringLiteral("external-measurement.xml"),
        doctype
            + "<Root><MSystemDef id=\"s\"><Label>a&absolute;b</Label></MSystemDef>"
              "<MUnitDef id=\"u\"><Label>&relative;</Label><Scale>1</Scale></MUnitDef></Root>"));
    QVERIFY(registry);
    QCOMPARE(registry->getSystems().value(QStringLiteral("s")), QStringLiteral("ab"));
    QVERIFY(!everyText(*registry).contains(QLatin1String(secret)));
}

// 50 MB of ordinary definitions load completely.
void TstHostileFiles::largeDictionary()
{
    const QByteArray entry
        = "  <VariableDef variableName=\"P%1\">\n"
          "    <DataItem type=\"Int16\"><RawValueDflt>%1</RawValueDflt><RawValueMin>0</RawValueMin>"
          "<RawValueMax>1000</RawValueMax><UomId>degC_x10</UomId><UnitsOfMeasure>0.1 degC"
          "</UnitsOfMeasure></DataItem>\n"
          "    <ExternalName>Point number %1</ExternalName><LineID>L%1</LineID>"
          "<PxcId>%1</PxcId>\n"
          "    <Worksheet><Name>Sheet</Name></Worksheet>\n"
          "    <DisplayHints><DisplayHint grpid=\"g\" rowid=\"%1\"/></DisplayHints>"
          "<Access>R</Access>\n"
          "  </VariableDef>\n";
    QByteArray content = "<Dictionary>\n";
    int count = 0;
    while (content.size() < 50 * 1024 * 1024) {
        content += QByteArray(entry).replace("%1", QByteArray::number(count));
        ++count;
    }
    content += "</Dictionary>\n";
    const QString path = write(QStringLiteral("large.xml"), content);
    QVERIFY(!path.isEmpty());
    content.clear();

    const DictionaryLoad load = loadDictionary(path);
    QVERIFY(load.dictionary);
    QVERIFY(count > 70000);
    QCOMPARE(load.dictionary->getAllDefs().size(), count);
    const QString last = QStringLiteral("P%1").arg(count - 1);
    DPointDef* def = load.dictionary->getDPointDefByName(last);
    QVERIFY(def);
    QCOMPARE(def->getTypeJson(),
        QStringLiteral("{\"type\":\"int\", \"default\":%1, \"min\":0, \"max\":1000, "
                       "\"resolution\":1, \"unitsLabel\":\"0.1 degC\", \"variableName\":\"%2\", "
                       "\"externalName\":\"Point number %1\", \"lineId\":\"L%1\", "
                       "\"access\":\"R\"}")
            .arg(count - 1)
            .arg(last));
}

void TstHostileFiles::largeMeasurementFile()
{
    QByteArray content = "<Measurements>\n";
    int count = 0;
    while (content.size() < 50 * 1024 * 1024) {
        content += "  <MUnitDef id=\"unit" + QByteArray::number(count)
            + "\"><Label>Unit</Label><Scale>0.1</Scale><Resolution>1</Resolution></MUnitDef>\n";
        ++count;
    }
    content += "</Measurements>\n";
    const QString path = write(QStringLiteral("large-measurement.xml"), content);
    QVERIFY(!path.isEmpty());
    content.clear();

    const auto registry = loadRegistry(path);
    QVERIFY(registry);
    QVERIFY(count > 500000);
    QCOMPARE(registry->getUnitIds().size(), count);
    const MeasurementUnits* last = registry->getUnits(QStringLiteral("unit%1").arg(count - 1));
    QVERIFY(last);
    QCOMPARE(last->m_scale, 0.1);
}

// One text node of 10 MB arrives whole.
void TstHostileFiles::largeTextNode()
{
    const QByteArray text(10 * 1024 * 1024, 'x');

    const DictionaryLoad load = loadDictionary(write(QStringLiteral("large-text.xml"),
        "<Dictionary><VariableDef variableName=\"E\"><DataItem type=\"Event\"><EventType>Alarm"
        "</EventType><AckType>MA</AckType><ResetType>MR</ResetType></DataItem><Description>"
            + text + "</Description></VariableDef></Dictionary>"));
    QVERIFY(load.dictionary);
    DPointDef* def = load.dictionary->getDPointDefByName(QStringLiteral("E"));
    QVERIFY(def);
    QCOMPARE(qobject_cast<const DPTypeEvent*>(def->m_type)->m_description, QLatin1String(text));
    QVERIFY(def->getTypeJson().contains(QLatin1String(text)));

    const auto registry = loadRegistry(write(QStringLiteral("large-text-measurement.xml"),
        "<M><MSystemDef id=\"s\"><Label>" + text + "</Label></MSystemDef></M>"));
    QVERIFY(registry);
    QCOMPARE(registry->getSystems().value(QStringLiteral("s")), QLatin1String(text));
}

// Bytes that are not UTF-8 do not stop a load: each malformed sequence becomes U+FFFD.
void TstHostileFiles::invalidUtf8IsReplaced()
{
    const QString expected = QStringLiteral("a\uFFFD(b\uFFFD");

    const DictionaryLoad load = loadDictionary(write(QStringLiteral("invalid-utf8.xml"),
        "<Dictionary><VariableDef variableName=\"a\xC3(b\xFF\"><DataItem type=\"IPv4\"/>"
        "</VariableDef></Dictionary>"));
    QVERIFY(load.dictionary);
    QCOMPARE(load.dictionary->getAllDefs().size(), 1);
    QCOMPARE(load.dictionary->getAllDefs().first()->objectName(), expected);

    const auto registry = loadRegistry(write(QStringLiteral("invalid-utf8-measurement.xml"),
        "<M><MSystemDef id=\"s\"><Label>a\xC3(b\xFF</Label></MSystemDef></M>"));
    QVERIFY(registry);
    QCOMPARE(registry->getSystems().value(QStringLiteral("s")), expected);
}

// Qt's parser accepts a NUL character although XML forbids it; the text keeps it.
void TstHostileFiles::nulCharacterIsKept()
{
    const QString expected = QString::fromLatin1("a\0b", 3);

    const DictionaryLoad load = loadDictionary(write(QStringLiteral("nul.xml"),
        QByteArray("<Dictionary><VariableDef variableName=\"a") + '\0'
            + "b\"><DataItem type=\"IPv4\"/><ExternalName>a" + '\0'
            + "b</ExternalName></VariableDef></Dictionary>"));
    QVERIFY(load.dictionary);
    QCOMPARE(load.dictionary->getAllDefs().size(), 1);
    DPointDef* def = load.dictionary->getAllDefs().first();
    QCOMPARE(def->objectName(), expected);
    QCOMPARE(def->m_externalName, expected);

    const auto registry = loadRegistry(write(QStringLiteral("nul-measurement.xml"),
        QByteArray("<M><MSystemDef id=\"s\"><Label>a") + '\0' + "b</Label></MSystemDef></M>"));
    QVERIFY(registry);
    QCOMPARE(registry->getSystems().value(QStringLiteral("s")), expected);
}

void TstHostileFiles::utf16WithByteOrderMark_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<bool>("crlf");

    QTest::newRow("little-endian, LF") << false << false;
    QTest::newRow("little-endian, CR LF") << false << true;
    QTest::newRow("big-endian, LF") << true << false;
    QTest::newRow("big-endian, CR LF") << true << true;
}

// A UTF-16 file with a byte-order mark loads exactly like its UTF-8 original, whatever its line
// ends (a CR byte is also part of U+010D).
void TstHostileFiles::utf16WithByteOrderMark()
{
    QFETCH(bool, bigEndian);
    QFETCH(bool, crlf);

    const DictionaryLoad original = loadDictionary(
        write(QStringLiteral("dictionary-utf8.xml"), QByteArray(smallDictionaryText)));
    QVERIFY(original.dictionary);
    const DictionaryLoad load = loadDictionary(write(QStringLiteral("dictionary-utf16.xml"),
        asUtf16(QByteArray(smallDictionaryText), bigEndian, crlf)));
    QCOMPARE(load.errors, QStringList());
    QVERIFY(load.dictionary);
    QCOMPARE(typeJsons(*load.dictionary), typeJsons(*original.dictionary));

    const auto originalRegistry = loadRegistry(
        write(QStringLiteral("measurement-utf8.xml"), QByteArray(smallMeasurementText)));
    QVERIFY(originalRegistry);
    const auto registry = loadRegistry(write(QStringLiteral("measurement-utf16.xml"),
        asUtf16(QByteArray(smallMeasurementText), bigEndian, crlf)));
    QVERIFY(registry);
    QCOMPARE(everyText(*registry), everyText(*originalRegistry));
}

// A dictionary that cannot be mapped (a pipe) is read in one piece before parsing; it must give
// the same result as the file.
void TstHostileFiles::utf16DictionaryFromPipe()
{
    const DictionaryLoad original = loadDictionary(
        write(QStringLiteral("pipe-original.xml"), QByteArray(smallDictionaryText)));
    QVERIFY(original.dictionary);

    const QString path = m_dir.filePath(QStringLiteral("utf16.fifo"));
    FifoWriter writer(path, asUtf16(QByteArray(smallDictionaryText), false, true));
    const DictionaryLoad load = loadDictionary(path);
    QVERIFY(writer.finish());
    QCOMPARE(load.errors, QStringList());
    QVERIFY(load.dictionary);
    QCOMPARE(typeJsons(*load.dictionary), typeJsons(*original.dictionary));
}

// A file whose name disappears while it is being read is still read whole: on Linux an open
// file stays readable after it is removed. A FIFO makes the order certain: its name is removed
// once the loader has opened it and before anything is written, and the content then arrives
// in pieces (several times the pipe's buffer), so the loader reads from a file that no longer
// has a name.
void TstHostileFiles::fileRemovedWhileRead()
{
    const int count = 4000;
    QByteArray dictionary = "<Dictionary>\n";
    QByteArray measurements = "<Measurements>\n";
    for (int i = 0; i < count; ++i) {
        dictionary += "<VariableDef variableName=\"P" + QByteArray::number(i)
            + "\"><DataItem type=\"IPv4\"/><ExternalName>Point " + QByteArray::number(i)
            + "</ExternalName></VariableDef>\n";
        measurements += "<MUnitDef id=\"u" + QByteArray::number(i)
            + "\"><Label>Unit</Label><Scale>1</Scale><Resolution>1</Resolution></MUnitDef>\n";
    }
    dictionary += "</Dictionary>\n";
    measurements += "</Measurements>\n";
    QVERIFY(dictionary.size() > 4 * 65536);

    const QString dictionaryPath = m_dir.filePath(QStringLiteral("dictionary.fifo"));
    FifoWriter dictionaryWriter(dictionaryPath, dictionary);
    const DictionaryLoad load = loadDictionary(dictionaryPath);
    QVERIFY(dictionaryWriter.finish());
    QVERIFY(!QFile::exists(dictionaryPath));
    QCOMPARE(load.errors, QStringList());
    QVERIFY(load.dictionary);
    QCOMPARE(load.dictionary->getAllDefs().size(), count);

    const QString measurementPath = m_dir.filePath(QStringLiteral("measurement.fifo"));
    FifoWriter measurementWriter(measurementPath, measurements);
    const auto registry = loadRegistry(measurementPath);
    QVERIFY(measurementWriter.finish());
    QVERIFY(!QFile::exists(measurementPath));
    QVERIFY(registry);
    QCOMPARE(registry->getUnitIds().size(), count);
}

QTEST_GUILESS_MAIN(TstHostileFiles)
#include "tst_hostilefiles.moc"
