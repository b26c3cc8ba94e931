// The dictionary loader. The format's rules are pinned by fixtures, loader/*-rules.xml, and the
// descriptions of their loads, loader/rules-*.txt (in the test data). The
// streaming and the DOM reading give the same result for every dictionary at hand: the samples,
// the test data, the fuzz corpora (stream-* files must be read by the stream reader, dom-* files
// by the DOM alone) and generated ones; the loader succeeds exactly when the DOM parse does.

#include "DictionaryGenerator.h"
#include "LoadDescription.h"
#include "core/NestingGuard_p.h"
#include "loader/DPDictDomReader_p.h"
#include "loader/DPDictStreamReader_p.h"

#include <kivo/dictionary/DictRef.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QAtomicPointer>
#include <QDirIterator>
#include <QDomDocument>
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
    void initTestCase();
    void formatRules_data();
    void formatRules();
    void enumTablesOfTheLastLoad();
    void loadDPointDef();
    void selectType_data();
    void selectType();
    void identity_data();
    void identity();
    void threadBodyIsObsolete();
    void handleTravelsThroughQueuedConnection();

private:
    QString write(const QString& name, const QByteArray& content);

    std::unique_ptr<MeasurementRegistry> m_registry;
    QTemporaryDir m_dir;
};

QString TstDPDictLoader::write(const QString& name, const QByteArray& content)
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        ? file.fileName()
        : QString();
}

void TstDPDictLoader::initTestCase()
{
    m_registry.reset(MeasurementLoader::loadMeasurementRegistry(
        QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
    QVERIFY(m_registry);
    const QString generated = m_dir.filePath(QStringLiteral("generated.xml"));
    QVERIFY(bench::writeDictionary(
        generated, 3000, bench::readUnits(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")))
                .points);
    // The same again with comments, CDATA sections and blanks in texts, and CR LF line ends.
    QFile file(generated);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!write(QStringLiteral("stream-varied-crlf.xml"),
        file.readAll()
            .replace("<ExternalName>", "<ExternalName> <!--c-->")
            .replace("</Name>", "<![CDATA[ ]]></Name>")
            .replace("<Access>R", "<Access><!---->R")
            .replace("</RawValueDflt>", "\xC2\xA0</RawValueDflt>")
            .replace("\n", "\r\n"))
                 .isEmpty());
    // A VariableDef as the document element is no point.
    QVERIFY(!write(QStringLiteral("stream-root.xml"),
        "<VariableDef variableName=\"r\"><DataItem type=\"Int16\"/></VariableDef>")
                 .isEmpty());
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
    if (reader == QLatin1String("stream")) { // the later of two definitions named Temp wins
        QCOMPARE(dictionary->getDPointDefByName("Temp")->m_externalName, QStringLiteral("second"));
        QCOMPARE(dictionary->getAllDefs().size() + 1, dictionary->children().size());
    }
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
    QVERIFY(!loader.load(write(QStringLiteral("broken.xml"), "<Dictionary><EnumDef/>"), "b"));
    QVERIFY(!loader.load(m_dir.filePath(QStringLiteral("absent.xml")), QStringLiteral("a")));
    QCOMPARE(loader.getEnumDef(QStringLiteral("mode")), mode);
    const Dictionary empty(loader.load(write(QStringLiteral("e.xml"), "<D><EnumDef/></D>"), "e"));
    QVERIFY(empty && empty->getAllDefs().isEmpty());
    QVERIFY(loader.getIndexEnumDef(QStringLiteral("mode")).isEmpty());
}

void TstDPDictLoader::loadDPointDef()
{
    QDomDocument document;
    QVERIFY(document.setContent(QByteArray("<VariableDef variableName=\"p\"><PxcId>9</PxcId>"
                                           "<Access>R</Access><UomId>x</UomId></VariableDef>")));
    DPDictLoader loader(nullptr, nullptr, m_registry.get());
    auto* number = new DPTypeNumber;
    const std::unique_ptr<DPointDef> def(loader.loadDPointDef(document.documentElement(), *number));
    QVERIFY(!def->parent());
    QCOMPARE(number->parent(), def.get());
    QCOMPARE(def->m_registry, m_registry.get());
    QCOMPARE(def->m_pxcId, 9);
    QCOMPARE(def->getTypeJson(),
        QStringLiteral("{\"type\":\"int\", \"default\":0, \"min\":0, \"max\":0, \"resolution\":1, "
                       "\"unitsLabel\":\"\", \"variableName\":\"p\", \"externalName\":\"\", "
                       "\"lineId\":\"\", \"access\":\"R\"}"));
    // A null element gives empty fields; only numbers and reals get the registry.
    const std::unique_ptr<DPointDef> text(loader.loadDPointDef(QDomElement(), *new DPTypeString));
    QCOMPARE(text->m_registry, nullptr);
    QCOMPARE(text->getTypeJson(),
        QStringLiteral("{\"type\":\"text\", \"default\":\"\", \"charSet\":\"\", \"format\":\"\", "
                       "\"maxLen\":0, \"variableName\":\"\", \"externalName\":\"\", "
                       "\"lineId\":\"\", \"access\":\"\"}"));
}

void TstDPDictLoader::selectType_data()
{
    QTest::addColumn<QByteArray>("dataItem");
    QTest::addColumn<QString>("selection"); // kind, event, changeable, ack, reset, epoch, reason
    const QByteArray alarm = "<DataItem type=\"Event\"><EventType>Alarm</EventType>";
    QTest::newRow("null element") << QByteArray()
                                  << "0 0 0 0 0 0 the DataItem type selects "
                                     "no point type";
    QTest::newRow("RealTime") << QByteArray("<DataItem type=\"RealTime\"/>") << "6 0 0 0 0 0 ";
    QTest::newRow("event") << QByteArray("<DataItem type=\"Event\"><EventType changeable=\"true\">"
                                         "Warning</EventType><AckType>AA</AckType><ResetType>"
                                         "AR</ResetType></DataItem>")
                           << "1 1 1 1 1 0 ";
    QTest::newRow("event class") << QByteArray("<DataItem type=\"Event\"><EventType>Fault"
                                               "</EventType></DataItem>")
                                 << "1 0 0 0 0 0 the EventType text is not Alarm, Warning or "
                                    "Message";
    QTest::newRow("ack") << alarm + "<AckType>NONE</AckType></DataItem>"
                         << "1 2 0 0 0 0 the AckType text contains none of MA, AA, NA";
    QTest::newRow("reset") << alarm + "<AckType>NA</AckType><ResetType>r</ResetType></DataItem>"
                           << "1 2 0 2 0 0 the ResetType text contains neither MR nor AR";
    QTest::newRow("epoch") << QByteArray("<DataItem type=\"Time\"><Epoch>Noon</Epoch></DataItem>")
                           << "7 0 0 0 0 0 the Epoch text names no known epoch";
    QTest::newRow("time") << QByteArray("<DataItem type=\"Time\"><Epoch>January_1</Epoch>"
                                        "</DataItem>")
                          << "7 0 0 0 0 3 ";
}

void TstDPDictLoader::selectType()
{
    QFETCH(QByteArray, dataItem);
    QFETCH(QString, selection);
    QDomDocument document;
    document.setContent(dataItem);
    const DPDictFormat::Selection s = DPDictFormat::selectType(document.documentElement());
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 ")
                 .arg(s.kind)
                 .arg(s.eventType)
                 .arg(s.eventChangeable)
                 .arg(s.ackType)
                 .arg(s.resetType)
                 .arg(s.epoch)
            + DPDictFormat::skipReasonText(s.skipReason),
        selection);
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
    if (name.startsWith(QLatin1String("stream-")) || name.startsWith(QLatin1String("dom-"))) {
        QCOMPARE(streamed, name.startsWith(QLatin1String("stream-")));
    }
    DPDictBuilder dom(m_registry.get());
    QDomDocument document;
    QString message;
    int line = 0;
    const bool parsed = parseGuarded(content, &document, &message, &line);
    if (parsed) {
        readDomDocument(document, dom);
    }
    if (streamed) {
        QVERIFY2(parsed, qPrintable(message));
        const Dictionary streamDictionary(stream.takeDictionary("d"));
        const Dictionary domDictionary(dom.takeDictionary("d"));
        QCOMPARE(test::describeLoad(streamDictionary.get(), stream.enumDefs()),
            test::describeLoad(domDictionary.get(), dom.enumDefs()));
    }
    DPDictLoader loader(nullptr, nullptr, m_registry.get());
    QCOMPARE(bool(Dictionary(loader.load(path, QStringLiteral("d")))), parsed);
}

void TstDPDictLoader::threadBodyIsObsolete()
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
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(obsolete));
    loader.start();
    QVERIFY(loader.wait(10000));
    QVERIFY(reported);
    QCOMPARE(errors, QList<QVariantList>({ { obsolete } }));
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

QTEST_GUILESS_MAIN(TstDPDictLoader)
#include "tst_dpdictloader.moc"
