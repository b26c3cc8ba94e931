// Fuzz target: the remote link's payload decoding. The first input byte picks a point of the
// sample boiler dictionary (an integer, a real, a text, an enumeration, an address, a time, an
// event, or no definition); the rest is a payload as it arrives from the broker, read as a value,
// a write request and an answer, and its "v" turned into a raw value for the point.
//
// Properties: a refusal always has a reason and an acceptance none; a raw value is valid exactly
// when no reason is given (null aside); what the link writes back from anything it read is JSON
// that it reads again to the same texts; a raw value of an integer, real, text or enumeration
// point survives a request written and read.

#include "FuzzSupport.h"

#include "remote/RemotePayload_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QJsonDocument>
#include <QVariant>

#include <memory>

using namespace kivo;
namespace Payload = kivo::RemotePayload;

namespace {

const char* const pointNames[] = { "SupplySetpoint", "HeatOutput", "O2Trim", "BoilerTag",
    "PumpMode", "ControllerAddress", "NightSetbackStart", "HighLimitAlarm" };
const int pointCount = int(sizeof(pointNames) / sizeof(pointNames[0]));
// The points whose raw values JSON carries unchanged.
const int roundTripCount = 5;

DPointDictionary* dictionary()
{
    static std::unique_ptr<MeasurementRegistry> registry(MeasurementLoader::loadMeasurementRegistry(
        QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
    static std::unique_ptr<DPointDictionary> dictionary([] {
        DPDictLoader loader(nullptr, nullptr, registry.get());
        return loader.load(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"), QStringLiteral("boiler"));
    }());
    if (!dictionary)
        fuzz::fail("the sample files do not load");
    return dictionary.get();
}

void checkDecoded(bool ok, const QString& reason)
{
    if (ok != reason.isEmpty())
        fuzz::fail("a refusal without a reason, or an acceptance with one");
}

// A text the link writes reads back as the same text: JSON strings carry any valid UTF-16.
void checkWrittenText(const QString& text)
{
    if (!text.isValidUtf16())
        return;
    Payload::Value value;
    QString reason;
    const QByteArray written = Payload::encodeValue(QVariant(), text, 0);
    if (!Payload::decodeValue(written, &value, &reason) || value.text != text)
        fuzz::fail("a written text does not read back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    if (size == 0)
        return 0;
    const int selector = data[0] % (pointCount + 1);
    const DPointDef* def = selector < pointCount
        ? dictionary()->getDPointDefByName(QString::fromLatin1(pointNames[selector]))
        : nullptr;
    if (selector < pointCount && !def)
        fuzz::fail("a sample point is missing");
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), int(size - 1));

    QString reason;
    Payload::Value value;
    const bool isValue = Payload::decodeValue(payload, &value, &reason);
    checkDecoded(isValue, reason);
    reason.clear();
    Payload::Request request;
    const bool isRequest = Payload::decodeRequest(payload, &request, &reason);
    checkDecoded(isRequest, reason);
    reason.clear();
    Payload::Answer answer;
    const bool isAnswer = Payload::decodeAnswer(payload, &answer, &reason);
    checkDecoded(isAnswer, reason);

    for (const QJsonValue& v : { value.v, request.v, answer.v }) {
        const QVariant raw = Payload::rawFromJson(def, v, &reason);
        const bool none = v.isNull() || v.isUndefined();
        if (raw.isValid() == (none || !reason.isEmpty()))
            fuzz::fail("a raw value with a reason, or an invalid one without");
        if (!raw.isValid())
            continue;
        // What the panel sends for a raw value, the device reads as the same raw value.
        Payload::Request sent;
        QString sentReason;
        if (!Payload::decodeRequest(Payload::encodeRawRequest(raw), &sent, &sentReason))
            fuzz::fail("a written request does not read back");
        const bool plainText
            = raw.userType() != QMetaType::QString || raw.toString().isValidUtf16();
        if (selector < roundTripCount && plainText
            && Payload::rawFromJson(def, sent.v, &sentReason) != raw)
            fuzz::fail("a raw value changes on its way through a request");
    }

    checkWrittenText(value.text);
    checkWrittenText(request.text);
    const QByteArray written = Payload::encodeAnswer(
        answer.confirmed, QVariant(), answer.text, answer.code, answer.message);
    if (!QJsonDocument::fromJson(written).isObject())
        fuzz::fail("a written answer is not JSON");
    return 0;
}
