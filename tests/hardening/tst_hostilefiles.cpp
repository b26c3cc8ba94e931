// Hostile input files for the two loaders. Each case states what a loader does with the file:
// refuse it through its ordinary failure report, or load it with a stated result. Nothing may
// crash, hang or read anything but the file it was given. The loads run on a thread with a 1 MiB
// stack (the default of some platforms), where nesting up to the limit must load; the program
// runs once more with a 1 MiB main-thread stack (tests/hardening/CMakeLists.txt).

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

using namespace kivo;

namespace {

const QString dataDir = QStringLiteral(KIVO_TEST_DATA_DIR "/hardening/");
const QString parsing = QStringLiteral("\"PXC parsing failure '%1'\"");
const QByteArray bottom = "<VariableDef variableName=\"p\"><DataItem type=\"IPv4\"/></VariableDef>"
                          "<MUnitDef id=\"u\"><Label>L</Label></MUnitDef>";

// A dictionary and measurement file whose deepest elements (DataItem, Label) are at level levels,
// the document element being level 1; the levels made by entity references, perEntity each,
// when perEntity is given.
QByteArray nested(int levels, const QByteArray& prolog = {}, const QByteArray& first = {},
    const QByteArray& separator = {}, int perEntity = 0)
{
    if (perEntity == 0) {
        return prolog + "<D>" + first + QByteArray("<a>" + separator).repeated(levels - 3) + bottom
            + QByteArray("</a>").repeated(levels - 3) + "</D>";
    }
    const int uses = (levels - 3) / perEntity;
    return "<!DOCTYPE D [\n<!ENTITY o \"" + QByteArray("<a>").repeated(perEntity)
        + "\">\n<!ENTITY c \"" + QByteArray("</a>").repeated(perEntity) + "\">\n]>\n<D>"
        + QByteArray("&o;").repeated(uses) + bottom + QByteArray("&c;").repeated(uses) + "</D>";
}

// The document re-encoded as UTF-16 with a byte-order mark, with CR LF line ends if asked.
QByteArray asUtf16(const QByteArray& utf8, bool bigEndian, bool crlf = false)
{
    QString text = QString::fromUtf8(utf8).replace("encoding=\"UTF-8\"", "encoding=\"UTF-16\"");
    if (crlf)
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QByteArray bytes(bigEndian ? "\xFE\xFF" : "\xFF\xFE");
    for (const QChar c : qAsConst(text)) {
        bytes += char(bigEndian ? c.unicode() >> 8 : c.unicode() & 0xFF);
        bytes += char(bigEndian ? c.unicode() & 0xFF : c.unicode() >> 8);
    }
    return bytes;
}

// An ASCII document in UTF-7 with every '<' after the declaration encoded: no markup in bytes.
QByteArray hideMarkup(QByteArray xml)
{
    const int body = xml.indexOf("?>") + 2;
    return xml.left(body) + xml.mid(body).replace("<", "+ADw-");
}

struct Loads
{
    std::unique_ptr<DPointDictionary> dictionary;
    QStringList errors;
    std::unique_ptr<MeasurementRegistry> registry;
};

// Loads path with both loaders on a thread with a 1 MiB stack.
Loads loadBoth(const QString& path)
{
    Loads loads;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        DPDictLoader loader(nullptr, nullptr, nullptr);
        QObject::connect(
            &loader, &DPDictLoader::error, [&](const QString& e) { loads.errors << e; });
        loads.dictionary.reset(loader.load(path, QStringLiteral("hostile")));
        loads.registry.reset(MeasurementLoader::loadMeasurementRegistry(path));
    }));
    thread->setStackSize(1024 * 1024);
    thread->start();
    if (!thread->wait(300000))
        qFatal("a load on a 1 MiB stack did not end");
    return loads;
}

// Every text of a dictionary: each definition's JSON, then its non-empty text properties.
QString describe(DPointDictionary* dictionary)
{
    QStringList lines;
    for (DPointDef* def : dictionary->getAllDefs()) {
        lines << def->getTypeJson();
        for (const QByteArray& name : def->dynamicPropertyNames()) {
            if (!def->property(name).toString().isEmpty())
                lines.last() += ' ' + name + '=' + def->property(name).toString();
        }
    }
    return lines.join('\n');
}

// The systems and units of a registry.
QString describe(MeasurementRegistry* registry)
{
    QStringList texts;
    const QMap<QString, QString> systems = registry->getSystems();
    for (auto it = systems.constBegin(); it != systems.constEnd(); ++it)
        texts << it.key() + '=' + it.value();
    for (const QString& id : registry->getUnitIds())
        texts << id + '=' + registry->getUnits(id)->m_label;
    return texts.join(' ');
}

} // namespace

class TstHostileFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refused_data();
    void refused();
    void loaded_data();
    void loaded();
    void largeFiles();

private:
    QString write(const QString& name, const QByteArray& content);
    static QByteArray read(const QString& name);

    QTemporaryDir m_dir;
};

QByteArray TstHostileFiles::read(const QString& name)
{
    QFile file(dataDir + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString TstHostileFiles::write(const QString& name, const QByteArray& content)
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        ? file.fileName()
        : QString();
}

void TstHostileFiles::refused_data()
{
    QTest::addColumn<QString>("name"); // of the file written, or a path to load as it is
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // from the dictionary loader; empty when it loads
    QTest::addColumn<QString>("critical"); // from the measurement loader
    const auto row = [](const QString& tag, const QByteArray& content, const QString& error,
                         const QString& name = "h.xml", const QString& critical = parsing) {
        QTest::newRow(qPrintable(tag))
            << name << content << error << (error.isEmpty() ? QString() : critical);
    };
    const QString failed = QStringLiteral("Failed to parse %1, error: ");
    const QString deep = failed + "document nested deeper than 1024 levels, errLine: ";
    row("nested 100,000 levels", nested(100000), deep + '1');
    row("invalid UTF-8, then 100,000 levels", nested(100000, {}, "<x>\xFF</x>"), deep + '1');
    row("NUL, then 100,000 levels", nested(100000, {}, QByteArray("<x>\0</x>", 8)), deep + '1');
    row("200,000 levels, one per line", nested(200000, {}, {}, "\n"), deep + "1024");
    row("UTF-16, 200,000 levels", asUtf16(nested(200000, {}, {}, "\n"), false), deep + "1024");
    row("1024 levels", nested(1024), {});
    row("1025 levels", nested(1025), deep + '1');
    row("1024 levels, read by the DOM", nested(1024, "<!DOCTYPE D>\n"), {});
    row("1025 levels, read by the DOM", nested(1025, "<!DOCTYPE D>\n"), deep + '2');
    row("1024 levels by entity expansion", nested(1024, {}, {}, {}, 1021), {});
    row("100,003 levels by entity expansion, 7 KB", nested(100003, {}, {}, {}, 100), deep + '5');
    // The parser reads the file in the encoding its declaration names, where the codec is known;
    // an unknown name leaves it reading UTF-8.
    for (const QByteArray encoding : { "UTF-8", "UTF-7", "ISO-8859-1", "windows-1252", "x-none" }) {
        for (const int levels : { 1024, 1025 }) {
            const QByteArray xml
                = nested(levels, "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>");
            row(encoding + ", " + QString::number(levels) + " levels",
                encoding == "UTF-7" ? hideMarkup(xml) : xml,
                levels == 1024 ? QString() : deep + '1');
        }
    }
    QByteArray attributes;
    for (int i = 0; i < 20000; ++i)
        attributes += " a" + QByteArray::number(i) + "=''";
    row("20,000 attributes on one element", "<D><E" + attributes + "/>" + bottom + "</D>", {});
    row("unclosed root", "<D>\n<E/>\n", failed + "unexpected end of file, errLine: 3");
    row("tag mismatch on line 12, CR LF",
        "<D>\r\n" + QByteArray("<E/>\r\n").repeated(10) + "<V></D>\r\n",
        failed + "tag mismatch, errLine: 12");
    row("text after the root", "<D/>\njunk\n", failed + "unexpected character, errLine: 2");
    row("empty file", "", failed + "unexpected end of file, errLine: 1");
    row("empty device file", {}, failed + "unexpected end of file, errLine: 1", "/dev/null");
    // Qt's DOM parser refuses an entity whose replacement text would exceed 4096 characters;
    // "lol4" (30,000) is the first, declared on line 7 and first used in "lol5" on line 8.
    row("billion laughs", read("laughs.xml"),
        failed
            + "The XML entity \"lol4\" expands to a string that is too large to process "
              "(30000 characters > 4096)., errLine: 8");
    row("directory", {}, "Could not open '%1'", ".",
        "\"PXC open failure '%1': file to open is a directory\"");
}

void TstHostileFiles::refused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QFETCH(QString, critical);

    const QString path = name.startsWith('/') ? name
        : content.isNull()                    ? QDir::cleanPath(m_dir.filePath(name))
                                              : write(name, content);
    QVERIFY(!path.isEmpty());
    if (!critical.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, qPrintable(critical.arg(path)));
    const Loads loads = loadBoth(path);
    QCOMPARE(loads.errors.join('\n'), error.isEmpty() ? error : error.arg(path));
    QCOMPARE(
        loads.dictionary ? loads.dictionary->getAllDefs().size() : -1, error.isEmpty() ? 1 : -1);
    QCOMPARE(loads.registry && loads.registry->getUnits(QStringLiteral("u")), critical.isEmpty());
}

void TstHostileFiles::loaded_data()
{
    QTest::addColumn<QString>("name"); // of the file in tests/data/hardening, described in .txt
    QTest::addColumn<QByteArray>("content"); // when not the file's own
    for (const char* name : { "small", "entities", "external", "invalid-utf8", "nul" })
        QTest::newRow(name) << name << QByteArray();
    for (const bool bigEndian : { false, true }) {
        for (const bool crlf : { false, true }) {
            QTest::addRow("small, UTF-16%s%s", bigEndian ? "BE" : "LE", crlf ? ", CR LF" : "")
                << "small" << asUtf16(read("small.xml"), bigEndian, crlf);
        }
    }
}

void TstHostileFiles::loaded()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString path = content.isNull() ? dataDir + name + ".xml" : write("utf16.xml", content);
    const Loads loads = loadBoth(path);
    QCOMPARE(loads.errors, QStringList());
    QVERIFY(loads.dictionary && loads.registry);
    const QByteArray expected = read(name + ".txt");
    QCOMPARE(describe(loads.dictionary.get()) + '\n' + describe(loads.registry.get()) + '\n',
        QString::fromUtf8(expected.constData(), expected.size()));
}

// 50 MB of ordinary definitions and units load completely, a text node of 10 MB whole.
void TstHostileFiles::largeFiles()
{
    const QByteArray text(10 * 1024 * 1024, 'x');
    QByteArray xml = "<D><VariableDef variableName=\"E\"><DataItem type=\"Event\"><EventType>"
                     "Alarm</EventType><AckType>MA</AckType><ResetType>MR</ResetType></DataItem>"
                     "<Description>"
        + text + "</Description></VariableDef><MSystemDef id=\"s\"><Label>" + text
        + "</Label></MSystemDef>\n";
    int count = 0;
    for (; xml.size() < 50 * 1024 * 1024; ++count) {
        xml += QByteArray(
            "<VariableDef variableName=\"P%1\"><DataItem type=\"Int16\"><RawValueDflt>"
            "%1</RawValueDflt><RawValueMax>1000</RawValueMax><UomId>degC_x10</UomId>"
            "<UnitsOfMeasure>0.1 degC</UnitsOfMeasure></DataItem><ExternalName>"
            "Point %1</ExternalName><LineID>L%1</LineID><PxcId>%1</PxcId><Worksheet>"
            "<Name>Sheet</Name></Worksheet><DisplayHints><DisplayHint grpid=\"g\" "
            "rowid=\"%1\"/></DisplayHints><Access>R</Access></VariableDef>\n"
            "<MUnitDef id=\"u%1\"><Label>Unit</Label><Scale>0.1</Scale></MUnitDef>\n")
                   .replace("%1", QByteArray::number(count));
    }
    const Loads loads = loadBoth(write(QStringLiteral("large.xml"), xml + "</D>"));
    xml.clear();
    QVERIFY(loads.dictionary && loads.registry && count > 50000);
    QCOMPARE(loads.dictionary->getAllDefs().size(), count + 1);
    QCOMPARE(loads.registry->getUnitIds().size(), count);
    QCOMPARE(loads.registry->getSystems().value("s"), QLatin1String(text));
    const QString last = QString::number(count - 1);
    QCOMPARE(loads.dictionary->getDPointDefByName('P' + last)->m_externalName, "Point " + last);
    QVERIFY(loads.dictionary->getDPointDefByName("E")->getTypeJson().contains(
        "\"desc\":\"" + QLatin1String(text) + "\", \"expl\":\"\""));
}

QTEST_GUILESS_MAIN(TstHostileFiles)
#include "tst_hostilefiles.moc"
