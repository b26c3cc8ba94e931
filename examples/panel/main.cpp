// kivo-panel: the sample dictionary's points as a live table, fed by a simulated device.
//
//   kivo-panel [--measurements FILE] [--dictionary FILE] [--trace TOPICS] [--screenshot PNG]
//
// With --screenshot the panel requests one write by itself, saves a picture of its window
// while the device is still answering, and quits.

#include "PanelWindow.h"
#include "SimulatedDevice.h"

#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivo-panel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Live data points of a simulated boiler controller."));
    parser.addHelpOption();
    const QCommandLineOption measurementsOption(QStringLiteral("measurements"),
        QStringLiteral("The measurement file."), QStringLiteral("file"),
        QStringLiteral(KIVO_SAMPLE_DIR "/measurements.xml"));
    const QCommandLineOption dictionaryOption(QStringLiteral("dictionary"),
        QStringLiteral("The point dictionary."), QStringLiteral("file"),
        QStringLiteral(KIVO_SAMPLE_DIR "/boiler.xml"));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to a PNG file and quit."),
        QStringLiteral("png"));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
        QStringLiteral("Trace topics to switch on, e.g. +DPointTrace,+DPointCoVs."),
        QStringLiteral("topics"));
    parser.addOptions({ measurementsOption, dictionaryOption, traceOption, screenshotOption });
    parser.process(app);

    // The library traces reported changes from the start; the panel shows them anyway.
    kivo::TopicLogger::disableAllTopics();
    if (parser.isSet(traceOption))
        kivo::TopicLogger::setTopicListString(parser.value(traceOption));

    // The registry and the dictionary belong to us and must outlive the points and the window.
    std::unique_ptr<kivo::MeasurementRegistry> registry(
        kivo::MeasurementLoader::loadMeasurementRegistry(parser.value(measurementsOption)));
    if (!registry)
        return 1;
    kivo::DPDictLoader loader(nullptr, nullptr, registry.get());
    QObject::connect(&loader, &kivo::DPDictLoader::error,
        [](const QString& message) { std::fprintf(stderr, "%s\n", qPrintable(message)); });
    const QString dictionaryFile = parser.value(dictionaryOption);
    std::unique_ptr<kivo::DPointDictionary> dictionary(
        loader.load(dictionaryFile, QFileInfo(dictionaryFile).baseName()));
    if (!dictionary)
        return 1;

    // One live point per definition, owned by the provider. The dictionary lists definitions by
    // name; the rows follow the device's numbering (PXC id), which groups related points.
    QList<kivo::DPointDef*> defs = dictionary->getAllDefs();
    std::stable_sort(defs.begin(), defs.end(),
        [](const kivo::DPointDef* a, const kivo::DPointDef* b) { return a->m_pxcId < b->m_pxcId; });
    kivo::DPointProvider provider;
    provider.addDict(dictionary.get());
    QList<kivo::DPointObject*> points;
    for (kivo::DPointDef* def : defs) {
        auto* point = new kivo::DPointObject;
        point->setObjectName(def->objectName());
        point->setDPointDef(def);
        provider.addPoint(point);
        points.append(point);
    }

    SimulatedDevice device(points);
    PanelWindow window(
        points, QStringLiteral("kivo-panel: %1").arg(QFileInfo(dictionaryFile).fileName()));
    QObject::connect(&device, &SimulatedDevice::ticked, &window, &PanelWindow::showDeviceState);
    device.start();
    window.show();

    const QString screenshot = parser.value(screenshotOption);
    if (!screenshot.isEmpty()) {
        // Pump mode Off is refused by the device (answered at 1.1 s); 185 degF = 85.0 degC is
        // committed at 1.6 s, answered at 2.1 s and pictured in between, on the selected row.
        QTimer::singleShot(500, &window,
            [&window] { window.requestWrite(QStringLiteral("PumpMode"), QStringLiteral("Off")); });
        QTimer::singleShot(1500, &window, [&window] {
            window.requestWrite(QStringLiteral("SupplySetpoint"), QStringLiteral("185"));
        });
        QTimer::singleShot(1900, &window, [&window, &app, screenshot] {
            if (!window.grab().save(screenshot)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshot));
                app.exit(1);
                return;
            }
            app.quit();
        });
    }
    return app.exec();
}
