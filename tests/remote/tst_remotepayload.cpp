#include "remote/RemotePayload_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include "TestTables.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <limits>
#include <memory>

using namespace kivo;
namespace Payload = kivo::RemotePayload;

namespace {

// One JSON value written as in a payload: "850", "\"Hand\"", "[1]".
QJsonValue json(const QByteArray& text)
{
    return QJsonDocument::fromJson('[' + text + ']').array().at(0);
}

QString describe(const QJsonValue& v)
{
    return v.isUndefined()
        ? QStringLiteral("undefined")
        : QString::fromUtf8(QJsonDocument(QJsonArray { v }).toJson(QJsonDocument::Compact))
              .mid(1)
              .chopped(1);
}

QString describe(const QVariant& raw)
{
    return raw.isValid() ? QString::fromLatin1(raw.typeName()) + ':' + raw.toString()
                         : QStringLiteral("invalid");
}

// A decoded payload as "kind field=value ...", or "refused: <reason>".
QString decode(const QString& kind, const QByteArray& payload)
{
    QString reason;
    if (kind == "value") {
        Payload::Value value;
        if (!Payload::decodeValue(payload, &value, &reason))
            return "refused: " + reason;
        return QString("v=%1 text=%2 ts=%3").arg(describe(value.v), value.text).arg(value.ts);
    }
    if (kind == "request") {
        Payload::Request request;
        if (!Payload::decodeRequest(payload, &request, &reason))
            return "refused: " + reason;
        return request.byText ? "text=" + request.text : "v=" + describe(request.v);
    }
    Payload::Answer answer;
    if (!Payload::decodeAnswer(payload, &answer, &reason))
        return "refused: " + reason;
    return QString("%1 v=%2 text=%3 code=%4 message=%5")
        .arg(answer.confirmed ? "confirmed" : "refused", describe(answer.v), answer.text,
            answer.code, answer.message);
}

} // namespace

class TestRemotePayload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_registry.reset(MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")));
        QVERIFY(m_registry);
        DPDictLoader loader(nullptr, nullptr, m_registry.get());
        m_dictionary.reset(loader.load(KIVO_SAMPLE_DATA_DIR "/boiler.xml", "boiler"));
        QVERIFY(m_dictionary);
    }

    void encode_data()
    {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("expected");
        const qint64 ts = 1700000000123;
        const auto row = [](const char* name, const QByteArray& encoded, const char* expected) {
            QTest::newRow(name) << encoded << QByteArray(expected);
        };
        row("value of an integer point", Payload::encodeValue(850, "185.0 °F", ts),
            "{\"v\":850,\"text\":\"185.0 °F\",\"ts\":1700000000123}");
        row("no value is null with an empty text", Payload::encodeValue(QVariant(), QString(), 0),
            "{\"v\":null,\"text\":\"\",\"ts\":0}");
        row("real in its shortest form", Payload::encodeValue(0.1, "0.1 %", ts),
            "{\"v\":0.1,\"text\":\"0.1 %\",\"ts\":1700000000123}");
        row("NaN is null", Payload::encodeRawRequest(qQNaN()), "{\"v\":null}");
        row("infinity is null", Payload::encodeRawRequest(std::numeric_limits<double>::infinity()),
            "{\"v\":null}");
        row("large real with exponent", Payload::encodeRawRequest(1e300), "{\"v\":1e+300}");
        row("unsigned above 31 bits", Payload::encodeRawRequest(4294967295u), "{\"v\":4294967295}");
        row("negative 64 bits", Payload::encodeRawRequest(std::numeric_limits<qint64>::min()),
            "{\"v\":-9223372036854775808}");
        row("boolean", Payload::encodeRawRequest(true), "{\"v\":true}");
        row("text with quote, backslash and control characters",
            Payload::encodeRawRequest(QString("a\"b\\c\nd\re\tf\x01g\x1fh\x7f")),
            "{\"v\":\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\\u001fh\x7f\"}");
        row("text beyond ASCII as UTF-8", Payload::encodeRawRequest(QString("m³/h 😀")),
            "{\"v\":\"m³/h 😀\"}");
        row("answer confirmed", Payload::encodeAnswer(true, 850, "185.0 °F", QString(), QString()),
            "{\"status\":\"confirmed\",\"v\":850,\"text\":\"185.0 "
            "°F\",\"code\":\"\",\"message\":\"\"}");
        row("answer refused with code and message",
            Payload::encodeAnswer(false, "BLR-1", "BLR-1", "E\"1", "Not \"now\""),
            "{\"status\":\"refused\",\"v\":\"BLR-1\",\"text\":\"BLR-1\",\"code\":\"E\\\"1\","
            "\"message\":\"Not \\\"now\\\"\"}");
    }

    // Every payload written is JSON that Qt reads back.
    void encode()
    {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded, expected);
        QJsonParseError error;
        QVERIFY(QJsonDocument::fromJson(encoded, &error).isObject());
    }

    // Each row: name|kind (value, request or answer)|payload|what it decodes to.
    void decode_data() { addTableRows("remote/decode.txt"); }

    void decode()
    {
        QFETCH(QStringList, row);
        QCOMPARE(::decode(row[1], row[2].toUtf8()), row[3]);
    }

    // Each row: name|point ("-" for none)|JSON value|the raw value and the reason.
    void rawFromJson_data() { addTableRows("remote/rawfromjson.txt"); }

    void rawFromJson()
    {
        QFETCH(QStringList, row);
        const DPointDef* def = row[1] == "-" ? nullptr : m_dictionary->getDPointDefByName(row[1]);
        QVERIFY(row[1] == "-" || def);
        QString reason = "stale";
        const QVariant raw = Payload::rawFromJson(def, json(row[2].toUtf8()), &reason);
        QCOMPARE(describe(raw) + (reason.isEmpty() ? "" : ' ' + reason), row[3]);
        QCOMPARE(raw.isValid(), reason.isEmpty() && row[2] != "null");
    }

private:
    std::unique_ptr<MeasurementRegistry> m_registry;
    std::unique_ptr<DPointDictionary> m_dictionary;
};

QTEST_GUILESS_MAIN(TestRemotePayload)
#include "tst_remotepayload.moc"
