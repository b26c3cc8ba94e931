#include "RemoteFixtures.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/types/DPTypeBase.h>

#include <QFile>

namespace kivo::test {

QByteArray sampleFile(const char* name)
{
    QFile file(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", name);
    return file.readAll();
}

BoilerDevice::BoilerDevice(const QString& url, const QString& device)
    : registry(MeasurementLoader::loadMeasurementRegistry(
        QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")))
    , publisher(&connection, &provider, device)
{
    DPDictLoader loader(nullptr, nullptr, registry.get());
    dictionary.reset(loader.load(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"), "boiler"));
    if (!registry || !dictionary)
        qFatal("cannot load the sample files");
    provider.addDict(dictionary.get());
    const QList<DPointDef*> defs = dictionary->getAllDefs();
    for (DPointDef* def : defs) {
        auto* point = new DPointObject;
        point->setObjectName(def->objectName());
        point->setDPointDef(def);
        point->setCurrentValue(def->m_type->getDefaultValue());
        QObject::connect(point, &DPointObject::updatePending, &provider,
            [this, point] { onUpdatePending(point); });
        provider.addPoint(point);
    }
    connection.setBrokerUrl(url);
    connection.setReconnectDelay(50, 200);
    publisher.setUnitsFile(sampleFile("measurements.xml"));
    publisher.addDictionaryFile(QStringLiteral("boiler"), sampleFile("boiler.xml"));
}

BoilerDevice::~BoilerDevice()
{
    publisher.stop();
}

DPointObject* BoilerDevice::point(const QString& name)
{
    return provider.getDPointByName(name);
}

void BoilerDevice::onUpdatePending(DPointObject* point)
{
    if (!point->isPending() || answer == Silent)
        return;
    if (answer == Confirm)
        point->setUpdateComplete(point->getPendingValue(), StatRef());
    else
        point->setUpdateComplete(point->getDPointDef()->m_type->getDefaultValue(),
            StatRef(new StatBase(refusalCode, refusalMessage)));
}

Panel::Panel(const QString& url, const QString& device)
    : mirror(&connection, &provider, device)
{
    connection.setBrokerUrl(url);
    connection.setReconnectDelay(50, 200);
}

} // namespace kivo::test
