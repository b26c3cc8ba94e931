// kivo-quickpanel: the sample dictionary's points in a Qt Quick panel (main.qml) through the QML
// module Kivo.Points, fed by a device that main.qml simulates.
//
//   kivo-quickpanel [--samples DIR] [--broker URL --device NAME] [--screenshot PNG [--after MS]]
//
// The module is found in the build tree, or wherever QML2_IMPORT_PATH (Qt 5) or QML_IMPORT_PATH
// (Qt 6) says. With --screenshot the panel makes two writes by itself, saves a picture of its
// window while the device is still answering the second, and quits. With --broker and
// --device it shows that remote device instead of the bundled files and a simulation.

#include <kivo/core/TopicLogger.h>

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("kivo-quickpanel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Live data points of a simulated boiler controller, in Qt Quick."));
    parser.addHelpOption();
    const QCommandLineOption samplesOption(QStringLiteral("samples"),
        QStringLiteral("The folder holding measurements.xml and boiler.xml."),
        QStringLiteral("dir"), QStringLiteral(KIVO_SAMPLE_DIR));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to a PNG file and quit."),
        QStringLiteral("png"));
    const QCommandLineOption brokerOption(QStringLiteral("broker"),
        QStringLiteral("Show a remote device through this MQTT broker (mqtt://host:port)."),
        QStringLiteral("url"));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
        QStringLiteral("The remote device's name, as kivo-dpoints publish --device gives it."),
        QStringLiteral("name"));
    const QCommandLineOption afterOption(QStringLiteral("after"),
        QStringLiteral("With --screenshot: milliseconds before the picture (default 2300)."),
        QStringLiteral("ms"), QStringLiteral("2300"));
    parser.addOptions({ samplesOption, screenshotOption, brokerOption, deviceOption, afterOption });
    parser.process(app);
    const QString screenshot = parser.value(screenshotOption);
    // The library traces reported changes from the start; the panel shows them anyway.
    kivo::TopicLogger::disableAllTopics();
    // The picture is taken without a display (QT_QPA_PLATFORM=offscreen) and without OpenGL.
    if (!screenshot.isEmpty())
        QQuickWindow::setSceneGraphBackend(QStringLiteral("software"));

    QQuickView view;
    // Appended: an import path given in the environment comes first.
    view.engine()->addImportPath(QStringLiteral(KIVO_QML_IMPORT_DIR));
    view.setInitialProperties(
        { { QStringLiteral("samples"),
              QUrl::fromLocalFile(
                  QDir(parser.value(samplesOption)).absolutePath() + QLatin1Char('/')) },
            { QStringLiteral("scripted"), !screenshot.isEmpty() },
            { QStringLiteral("broker"), parser.value(brokerOption) },
            { QStringLiteral("device"), parser.value(deviceOption) } });
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl(QStringLiteral("qrc:/main.qml")));
    if (view.status() != QQuickView::Ready)
        return 1;
    view.setTitle(QStringLiteral("kivo-quickpanel: boiler.xml"));
    view.show();

    if (!screenshot.isEmpty()) {
        QTimer::singleShot(parser.value(afterOption).toInt(), &view, [&view, &app, screenshot] {
            QImage image = view.grabWindow();
            // Qt 5's software renderer grabs nothing from an offscreen window; the platform's
            // screen has what it drew.
            if (image.isNull())
                image = view.screen()->grabWindow(view.winId()).toImage();
            if (!image.save(screenshot)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshot));
                app.exit(1);
                return;
            }
            app.quit();
        });
    }
    return app.exec();
}
