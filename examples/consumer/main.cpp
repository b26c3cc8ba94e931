// kivo-consumer: the road of a typical kivodpoints application, as a console program.
//
//   kivo-consumer [MEASUREMENT_FILE [DICTIONARY_FILE]]
//
// Loads the measurement file and a point dictionary (by default the samples installed with the
// library), registers live points, and plays both sides of a device user interface: the UI
// reads and writes points, the "device" reports values and answers writes, once accepting and
// once refusing. Prints what happens and quits by itself (exit code 0 when all went as planned).

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/points/VirtualDPointObject.h>
#include <kivo/types/DPTypeNumber.h>

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <memory>

#ifndef KIVO_SAMPLE_DIR
#define KIVO_SAMPLE_DIR "." // the CMake package sets it to its installed sample directory
#endif

static QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// A raw integer value with its display text: the registry converts it into the units of the
// display system ("msys.us") with the display resolution of the point's unit.
static QString describe(kivo::DPointObject* point, kivo::MeasurementRegistry* registry)
{
    const QVariant raw = point->getCurrentValue();
    const auto* number = qobject_cast<const kivo::DPTypeNumber*>(point->getDPointDef()->m_type);
    if (!raw.isValid() || !number)
        return raw.isValid() ? raw.toString() : QStringLiteral("(no value)");
    const kivo::MeasurementConverter* converter = registry->getConverter(number->m_units);
    return QStringLiteral("%1 (%2 %3)")
        .arg(raw.toString(), converter->toString(raw), converter->m_label);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Unit labels such as "°F" are not ASCII, whatever the locale (Qt 6 always writes UTF-8).
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out().setCodec("UTF-8");
#endif
    // The library traces by topic to Qt's debug output; reported changes ("DPointCoVs") are
    // traced from the start. Keep the console quiet; setTopicListString("+DPointTrace") would
    // trace the write cycle instead.
    kivo::TopicLogger::disableAllTopics();
    const QStringList args = app.arguments();
    const QString measurementFile
        = args.value(1, QStringLiteral(KIVO_SAMPLE_DIR "/measurements.xml"));
    const QString dictionaryFile = args.value(2, QStringLiteral(KIVO_SAMPLE_DIR "/boiler.xml"));

    // 1. Units and conversions. The caller owns what the loaders return; declaring the
    //    registry and the dictionary before the provider makes them outlive the points.
    std::unique_ptr<kivo::MeasurementRegistry> registry(
        kivo::MeasurementLoader::loadMeasurementRegistry(measurementFile));
    if (!registry)
        return 1; // the loader has logged why

    // 2. The point dictionary. Integer and real definitions keep the registry for their JSON.
    kivo::DPDictLoader loader(nullptr, nullptr, registry.get());
    QObject::connect(&loader, &kivo::DPDictLoader::error,
        [](const QString& message) { out() << "error: " << message << Qt::endl; });
    std::unique_ptr<kivo::DPointDictionary> dictionary(loader.load(dictionaryFile, "boiler"));
    if (!dictionary)
        return 1;
    out() << "Loaded " << dictionary->getAllDefs().size() << " point definitions" << Qt::endl;

    // 3. What UI code learns about a point before it shows it: one JSON object per definition.
    for (const char* name : { "SupplySetpoint", "PumpMode" }) {
        if (kivo::DPointDef* def = dictionary->getDPointDefByName(name))
            out() << name << " JSON: " << def->getTypeJson() << Qt::endl;
    }

    // 4. Live points, registered by name. The provider owns them from here on.
    kivo::DPointProvider provider;
    provider.addDict(dictionary.get());
    for (const char* name : { "SupplyTemp", "SupplySetpoint" }) {
        kivo::DPointDef* def = dictionary->getDPointDefByName(name);
        if (!def) {
            out() << "error: the dictionary has no point " << name << Qt::endl;
            return 1;
        }
        auto* point = new kivo::DPointObject;
        point->setObjectName(def->objectName());
        point->setDPointDef(def);
        provider.addPoint(point); // files it under its lower-cased name
    }
    kivo::DPointObject* supply = provider.getDPointByName("SupplyTemp");
    kivo::DPointObject* setpoint = provider.getDPointByName("supplysetpoint"); // any case

    // 5. The device side. It starts reporting a point when the point is first read
    //    (covEnabled), and carries writes to the device when told (updatePending).
    int writes = 0;
    for (kivo::DPointObject* point : { supply, setpoint }) {
        // covEnabled arrives while the point holds its own lock: take note here, and report
        // values later from the device's own loop (a queued connection does that too).
        QObject::connect(point, &kivo::DPointObject::covEnabled, [point](bool on) {
            out() << "device: " << (on ? "start" : "stop") << " reporting "
                  << point->getDPointDef()->objectName() << Qt::endl;
        });
        QObject::connect(point, &kivo::DPointObject::valueChanged, [&](kivo::DPointObject* p) {
            out() << "valueChanged: " << p->getDPointDef()->objectName() << " = "
                  << describe(p, registry.get()) << Qt::endl;
        });
    }
    QObject::connect(setpoint, &kivo::DPointObject::updatePending, [&] {
        const QVariant requested = setpoint->getPendingValue();
        out() << "device: writing " << requested.toString() << " to the controller" << Qt::endl;
        // A real device answers later, from its own I/O; so does this one.
        QTimer::singleShot(200, [&, requested] {
            if (++writes == 1) {
                setpoint->setUpdateComplete(requested, kivo::StatRef()); // empty: success
            } else {
                // The value the device really holds goes back with the refusal; the StatRef
                // takes the new status object and deletes it when the last reference goes.
                setpoint->setUpdateComplete(QVariant(850),
                    kivo::StatRef(new kivo::StatBase("E42", "Device refused the value")));
            }
        });
    });

    // 6. A derived value that depends on two points: one signal whenever either changes.
    kivo::VirtualDPointObject difference;
    difference.addDependency(QVariant::fromValue(supply));
    difference.addDependency(QVariant::fromValue(setpoint));
    QObject::connect(&difference, &kivo::VirtualDPointObject::valueChanged, [&] {
        if (!supply->isAvailable() || !setpoint->isAvailable())
            return; // nothing to derive before both points have a value
        const int delta = setpoint->getCurrentValue().toInt() - supply->getCurrentValue().toInt();
        out() << "derived: setpoint - supply = " << delta << " (raw units)" << Qt::endl;
    });

    // 7. The write cycle as the UI sees it: request, automatic commit 100 ms later, then the
    //    device's answer. The first write is accepted, the second refused; then we are done.
    int exitCode = 2;
    QObject::connect(setpoint, &kivo::DPointObject::updateCompleted, [&](bool success) {
        kivo::StatRef status = setpoint->getUpdateStatus();
        out() << "updateCompleted: " << (success ? "success" : "failure");
        if (status.m_stat)
            out() << " [" << status.m_stat->getCode() << "] " << status.m_stat->getMsg();
        out() << "; value now " << describe(setpoint, registry.get()) << Qt::endl;
        if (success) {
            // Next write once this cycle has finished (valueChanged still follows this signal).
            // 99.0 °C is above the point's maximum (950): the device will refuse it.
            QTimer::singleShot(0, [&] {
                out() << "UI: requesting 990" << Qt::endl;
                setpoint->setUpdatePending(990);
            });
        } else {
            exitCode = 0;
            app.quit();
        }
    });

    QTimer::singleShot(0, [&] {
        // The UI's first reads switch reporting on; the device then reports current values.
        for (kivo::DPointObject* point : { supply, setpoint }) {
            const QString text = describe(point, registry.get()); // may emit covEnabled
            out() << "UI: " << point->getDPointDef()->objectName() << " is " << text << Qt::endl;
        }
        supply->setCurrentValue(785);
        setpoint->setCurrentValue(820);
        out() << "UI: requesting 850" << Qt::endl;
        setpoint->setUpdatePending(850); // autoCommit: committed 100 ms later
    });
    QTimer::singleShot(5000, [&] {
        out() << "error: the write cycle did not finish" << Qt::endl;
        app.quit();
    });

    app.exec();
    return exitCode;
}
