// Fuzz target: DPDictLoader::load on a file holding the input bytes.
//
// Checked for every input, besides the absence of crashes, leaks and sanitizer reports: a load
// returns null exactly when it emitted one error, a dictionary is named as asked and owns its
// definitions, each definition owns a type descriptor and renders its JSON text, and only
// integer and real definitions carry the registry.

#include "FuzzSupport.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeBase.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <memory>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    // Integer and real definitions render in display units through a real registry.
    static const std::unique_ptr<MeasurementRegistry> registry(
        MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
    if (!registry)
        fuzz::fail("the sample measurement file does not load");

    const QString path = fuzz::writeScratchFile(data, size);
    DPDictLoader loader(nullptr, nullptr, registry.get());
    int errors = 0;
    QObject::connect(&loader, &DPDictLoader::error, [&errors](const QString&) { ++errors; });

    std::unique_ptr<DPointDictionary> dictionary(loader.load(path, QStringLiteral("fuzz")));
    if (!dictionary) {
        if (errors != 1)
            fuzz::fail("a failed load did not emit exactly one error");
        return 0;
    }
    if (errors != 0)
        fuzz::fail("a successful load emitted an error");
    if (dictionary->objectName() != QLatin1String("fuzz") || dictionary->parent())
        fuzz::fail("the dictionary is not named as asked or has a parent");

    for (DPointDef* def : dictionary->getAllDefs()) {
        if (!def || def->parent() != dictionary.get())
            fuzz::fail("a definition is not owned by its dictionary");
        if (!def->m_type || def->m_type->parent() != def)
            fuzz::fail("a definition does not own its type descriptor");
        const bool measured = qobject_cast<const DPTypeNumber*>(def->m_type)
            || qobject_cast<const DPTypeReal*>(def->m_type);
        if (def->m_registry != (measured ? registry.get() : nullptr))
            fuzz::fail("the registry went to the wrong definitions");
        const QString json = def->getTypeJson();
        if (!json.startsWith(QLatin1Char('{')) || !json.endsWith(QLatin1Char('}')))
            fuzz::fail("a definition's JSON text is not one object");
        def->m_type->getDefaultValue();
    }
    loader.getEnumDef(QStringLiteral("enum.onOff"));
    loader.getIndexEnumDef(QString());
    return 0;
}
