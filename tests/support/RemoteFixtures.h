#pragma once

// Both ends of a remote link for the tests: the sample boiler controller as a device whose
// points a DPointPublisher shares, and a panel that mirrors them.

#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/remote/DPointMirror.h>
#include <kivo/remote/DPointPublisher.h>
#include <kivo/remote/MqttConnection.h>

#include <QByteArray>
#include <QString>

#include <memory>

namespace kivo::test {

// The sample files' bytes (examples/data).
QByteArray sampleFile(const char* name);

// The device side: one point per definition of examples/data/boiler.xml, holding its default,
// published as device over the broker at url. Its device side answers every write as answer
// says; a refusal gives back the definition's default, the value every test starts from.
class BoilerDevice
{
public:
    enum Answer { Confirm, Refuse, Silent };

    BoilerDevice(const QString& url, const QString& device);
    ~BoilerDevice();

    // The point registered under name.
    DPointObject* point(const QString& name);

    Answer answer = Confirm;
    QString refusalCode = QStringLiteral("E_BURNER");
    QString refusalMessage = QStringLiteral("Not while the burner runs");

    std::unique_ptr<MeasurementRegistry> registry;
    std::unique_ptr<DPointDictionary> dictionary;
    MqttConnection connection;
    DPointProvider provider;
    DPointPublisher publisher;

private:
    void onUpdatePending(DPointObject* point);
};

// The panel side: a mirror of device over its own connection to url, with a short first
// reconnection delay.
class Panel
{
public:
    Panel(const QString& url, const QString& device);

    DPointObject* point(const QString& name) { return provider.getDPointByName(name); }

    MqttConnection connection;
    DPointProvider provider;
    DPointMirror mirror;
};

} // namespace kivo::test
