#include <kivo/core/TopicLogger.h>
#include <kivo/loader/DPDictLoader.h>

#include <QDomDocument>
#include <QProcess>
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
