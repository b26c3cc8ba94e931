// Fuzz target: the streaming and the DOM reading of the input bytes agree. Whenever the stream
// reader takes a document, the guarded DOM parse takes it too and the two loads are equal in
// every observable part (tests/loader/LoadDescription.h), their findings and lines included; the
// same bytes read through a small window, whose size the input's length picks, give the same load;
// DPDictLoader::load succeeds exactly when the guarded DOM parse does.

#include "FuzzSupport.h"
#include "LoadDescription.h"
#include "core/NestingGuard_p.h"
#include "loader/DPDictDomReader_p.h"
#include "loader/DPDictStreamReader_p.h"

#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QBuffer>
#include <QDomDocument>

#include <memory>

using namespace kivo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    static const std::unique_ptr<MeasurementRegistry> registry(
        MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
    const QByteArray content(reinterpret_cast<const char*>(data), int(size));

    DPDictBuilder stream(registry.get());
    const bool streamed = readStream(content, stream);
    DPDictBuilder dom(registry.get());
    QDomDocument document;
    QString message;
    int line = 0;
    const bool parsed = parseGuarded(content, &document, &message, &line);
    if (parsed) {
        readDomDocument(document, dom);
    }
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    DPDictBuilder windowed(registry.get());
    if (readStream(&buffer, windowed, 1 + int(size % 61)) != streamed)
        fuzz::fail("the reading through a window and the whole reading disagree on success");
    if (streamed) {
        if (!parsed)
            fuzz::fail("the stream reader took a document the DOM parser refuses");
        const std::unique_ptr<DPointDictionary> a(stream.takeDictionary(QStringLiteral("d")));
        const std::unique_ptr<DPointDictionary> b(dom.takeDictionary(QStringLiteral("d")));
        const std::unique_ptr<DPointDictionary> c(windowed.takeDictionary(QStringLiteral("d")));
        const QString description = test::describeLoad(a.get(), stream.enumDefs()) + '\n'
            + test::describeFindings(stream.findings());
        if (description
            != test::describeLoad(b.get(), dom.enumDefs()) + '\n'
                + test::describeFindings(dom.findings()))
            fuzz::fail("the streaming and the DOM reading differ");
        if (description
            != test::describeLoad(c.get(), windowed.enumDefs()) + '\n'
                + test::describeFindings(windowed.findings()))
            fuzz::fail("the reading through a window and the whole reading differ");
    }

    DPDictLoader loader(nullptr, nullptr, registry.get());
    const std::unique_ptr<DPointDictionary> loaded(
        loader.load(fuzz::writeScratchFile(data, size), QStringLiteral("d")));
    if (bool(loaded) != parsed)
        fuzz::fail("the loader and the guarded DOM parse disagree on success");
    return 0;
}
