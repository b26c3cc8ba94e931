// Fuzz target: MeasurementLoader::loadMeasurementRegistry on a file holding the input bytes.
//
// Every loaded registry is then used the way the dictionary types use it: a converter for every
// unit id (and for one id that names no unit), values converted both ways, and every
// conversion looked up by id and by unit pair.

#include "FuzzSupport.h"

#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QVariant>

#include <limits>
#include <memory>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    const QString path = fuzz::writeScratchFile(data, size);
    const std::unique_ptr<MeasurementRegistry> registry(
        MeasurementLoader::loadMeasurementRegistry(path));
    if (!registry)
        return 0;
    if (registry->parent())
        fuzz::fail("a loaded registry has a parent");

    const QVariant samples[] = { QVariant(0), QVariant(-32768), QVariant(1234),
        QVariant(std::numeric_limits<int>::max()), QVariant(std::numeric_limits<int>::min()),
        QVariant(0.5), QVariant(-1e300) };
    QStringList unitIds = registry->getUnitIds();
    unitIds.append(QStringLiteral("no such unit"));
    for (const QString& unitId : qAsConst(unitIds)) {
        MeasurementConverter* converter = registry->getConverter(unitId);
        if (!converter || registry->getConverter(unitId) != converter)
            fuzz::fail("getConverter gave null or did not cache");
        for (const QVariant& value : samples) {
            converter->toString(value);
            converter->fromValue(value);
        }
        registry->getConversion(unitId, MeasurementRegistry::displaySystemId);
    }
    for (const QString& id : registry->getConversionIds()) {
        const MeasurementConversion* conversion = registry->getConversionById(id);
        if (!conversion || conversion->m_id != id || conversion->parent() != registry.get())
            fuzz::fail("a conversion is not filed under its id or not owned by the registry");
        for (const MeasurementConversion::ApplicableDef& def : conversion->m_applicableDefs)
            registry->getConversion(def.srcUnitId, def.dstUnitId);
    }
    registry->getSystems();
    return 0;
}
