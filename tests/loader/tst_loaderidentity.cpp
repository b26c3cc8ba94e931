// The streaming and the DOM reading of a dictionary give the same result. For every dictionary
// among the samples, the test data, the fuzz corpora (fuzz_loaderidentity's files name the
// reading they must get: stream-* the stream reader, dom-* the DOM alone) and generated ones,
// whenever the stream reader takes a document the DOM takes it too and every observable part of
// the two loads is equal; the loader succeeds exactly when the DOM parse does.

#include "DictionaryGenerator.h"
#include "LoadDescription.h"
#include "core/NestingGuard_p.h"
#include "loader/DPDictDomReader_p.h"
#include "loader/DPDictStreamReader_p.h"

#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QDirIterator>
#include <QDomDocument>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kivo;

class TstLoaderIdentity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void identity_data();
    void identity();
    void cleanupTestCase() { qInfo("%d documents read by both readers", m_streamed); }

private:
    std::unique_ptr<MeasurementRegistry> m_registry;
    QTemporaryDir m_dir;
    int m_streamed = 0;
};

void TstLoaderIdentity::initTestCase()
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
    QFile varied(m_dir.filePath(QStringLiteral("stream-varied-crlf.xml")));
    QVERIFY(file.open(QIODevice::ReadOnly) && varied.open(QIODevice::WriteOnly));
    varied.write(file.readAll()
                     .replace("<ExternalName>", "<ExternalName> <!--c-->")
                     .replace("</Name>", "<![CDATA[ ]]></Name>")
                     .replace("<Access>R", "<Access><!---->R")
                     .replace("</RawValueDflt>", "\xC2\xA0</RawValueDflt>")
                     .replace("\n", "\r\n"));
}

void TstLoaderIdentity::identity_data()
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

void TstLoaderIdentity::identity()
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
        ++m_streamed;
        QVERIFY2(parsed, qPrintable(message));
        const std::unique_ptr<DPointDictionary> streamDictionary(stream.takeDictionary("d"));
        const std::unique_ptr<DPointDictionary> domDictionary(dom.takeDictionary("d"));
        QCOMPARE(test::describeLoad(streamDictionary.get(), stream.enumDefs()),
            test::describeLoad(domDictionary.get(), dom.enumDefs()));
    }

    DPDictLoader loader(nullptr, nullptr, m_registry.get());
    QCOMPARE(
        bool(std::unique_ptr<DPointDictionary>(loader.load(path, QStringLiteral("d")))), parsed);
}

QTEST_GUILESS_MAIN(TstLoaderIdentity)
#include "tst_loaderidentity.moc"
