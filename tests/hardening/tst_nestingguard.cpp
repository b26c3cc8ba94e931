// The nesting guard of both loaders, on a thread with a 1 MiB stack (the default of some
// platforms): nesting up to the limit loads, also where the DOM reads it and where entity
// expansion makes it; deeper nesting, also nesting made only by entity expansion, is refused
// through the ordinary failure report. (The hostile files and the fuzz corpora are replayed with
// a 1 MiB main-thread stack: see tests/hardening/CMakeLists.txt and fuzz/CMakeLists.txt.)

#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

using namespace kivo;

namespace {

bool onSmallStack(const std::function<void()>& work)
{
    const std::unique_ptr<QThread> thread(QThread::create(work));
    thread->setStackSize(1024 * 1024);
    thread->start();
    return thread->wait(300000);
}

// Both a dictionary and a measurement file: its deepest elements (DataItem, Label) sit at level
// levels, the document element being level 1.
QByteArray nested(int levels, const QByteArray& prolog = QByteArray(), int perEntity = 0)
{
    const QByteArray bottom = "<VariableDef variableName=\"p\"><DataItem type=\"IPv4\"/>"
                              "</VariableDef><MUnitDef id=\"u\"><Label>L</Label></MUnitDef>";
    if (perEntity == 0) {
        return prolog + "<D>" + QByteArray("<a>").repeated(levels - 3) + bottom
            + QByteArray("</a>").repeated(levels - 3) + "</D>";
    }
    const int uses = (levels - 3) / perEntity;
    return "<!DOCTYPE D [\n<!ENTITY o \"" + QByteArray("<a>").repeated(perEntity)
        + "\">\n<!ENTITY c \"" + QByteArray("</a>").repeated(perEntity) + "\">\n]>\n<D>"
        + QByteArray("&o;").repeated(uses) + bottom + QByteArray("&c;").repeated(uses) + "</D>";
}

} // namespace

class TstNestingGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nesting_data();
    void nesting();

private:
    QTemporaryDir m_dir;
};

void TstNestingGuard::nesting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("errorLine"); // 0: loads

    QTest::newRow("1024 levels, streamed") << nested(1024) << 0;
    QTest::newRow("1024 levels, read by the DOM") << nested(1024, "<!DOCTYPE D>\n") << 0;
    QTest::newRow("1024 levels by entity expansion") << nested(1024, {}, 1021) << 0;
    QTest::newRow("1025 levels") << nested(1025) << 1;
    QTest::newRow("1025 levels, read by the DOM") << nested(1025, "<!DOCTYPE D>\n") << 2;
    QTest::newRow("100,003 levels by entity expansion, 7 KB") << nested(100003, {}, 100) << 5;
}

void TstNestingGuard::nesting()
{
    QFETCH(QByteArray, content);
    QFETCH(int, errorLine);
    const QString path = m_dir.filePath(QStringLiteral("nested.xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    QStringList errors;
    int points = -1;
    bool unit = false;
    if (errorLine > 0) {
        QTest::ignoreMessage(QtCriticalMsg, qPrintable("\"PXC parsing failure '" + path + "'\""));
    }
    QVERIFY(onSmallStack([&] {
        DPDictLoader loader(nullptr, nullptr, nullptr);
        QObject::connect(&loader, &DPDictLoader::error, [&](const QString& e) { errors << e; });
        const std::unique_ptr<DPointDictionary> dictionary(loader.load(path, QStringLiteral("d")));
        points = dictionary ? dictionary->getAllDefs().size() : -1;
        const std::unique_ptr<MeasurementRegistry> registry(
            MeasurementLoader::loadMeasurementRegistry(path));
        unit = registry && registry->getUnits(QStringLiteral("u"));
    }));
    QCOMPARE(errors.join(QString()),
        errorLine ? "Failed to parse " + path
                + ", error: document nested deeper than 1024 levels, errLine: "
                + QString::number(errorLine)
                  : QString());
    QCOMPARE(points, errorLine ? -1 : 1);
    QCOMPARE(unit, errorLine == 0);
}

QTEST_GUILESS_MAIN(TstNestingGuard)
#include "tst_nestingguard.moc"
