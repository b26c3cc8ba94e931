#include "remote/RemotePayload_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include "../TestTables.h"

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
    return v.isUndefined() ? QStringLiteral("undefined")
                           : QString::fromUtf8(QJsonDocument(QJsonArray { v }).toJson(
                                 QJsonDocument::Compact))
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
        QTest::newRow("value of an integer point")
            << Payload::encodeValue(850, "185.0 °F", ts)
            << QByteArray("{\"v\":850,\"text\":\"185.0 °F\",\"ts\":1700000000123}");
        QTest::newRow("no value is null with an empty text")
            << Payload::encodeValue(QVariant(), QString(), 0)
            << QByteArray("{\"v\":null,\"text\":\"\",\"ts\":0}");
        QTest::newRow("real in its shortest form")
            << Payload::encodeValue(0.1, "0.1 %", ts)
            << QByteArray("{\"v\":0.1,\"text\":\"0.1 %\",\"ts\":1700000000123}");
        QTest::newRow("NaN is null") << Payload::encodeRawRequest(qQNaN())
                                     << QByteArray("{\"v\":null}");
        QTest::newRow("infinity is null")
            << Payload::encodeRawRequest(std::numeric_limits<double>::infinity())
            << QByteArray("{\"v\":null}");
        QTest::newRow("large real with exponent")
            << Payload::encodeRawRequest(1e300) << QByteArray("{\"v\":1e+300}");
        QTest::newRow("unsigned above 31 bits")
            << Payload::encodeRawRequest(4294967295u) << QByteArray("{\"v\":4294967295}");
        QTest::newRow("negative 64 bits")
            << Payload::encodeRawRequest(std::numeric_limits<qint64>::min())
            << QByteArray("{\"v\":-9223372036854775808}");
        QTest::newRow("boolean") << Payload::encodeRawRequest(true) << QByteArray("{\"v\":true}");
        QTest::newRow("text with quote, backslash and control characters")
            << Payload::encodeRawRequest(QString("a\"b\\c\nd\re\tf\x01g\x1fh\x7f"))
            << QByteArray("{\"v\":\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\\u001fh\x7f\"}");
        QTest::newRow("text beyond ASCII as UTF-8")
            << Payload::encodeRawRequest(QString("m³/h 😀")) << QByteArray("{\"v\":\"m³/h 😀\"}");
        QTest::newRow("answer confirmed")
            << Payload::encodeAnswer(true, 850, "185.0 °F", QString(), QString())
            << QByteArray(
                   "{\"status\":\"confirmed\",\"v\":850,\"text\":\"185.0 °F\",\"code\":\"\",\"message\":\"\"}");
        QTest::newRow("answer refused with code and message")
            << Payload::encodeAnswer(false, "BLR-1", "BLR-1", "E\"1", "Not \"now\"")
            << QByteArray(
                   "{\"status\":\"refused\",\"v\":\"BLR-1\",\"text\":\"BLR-1\",\"code\":\"E\\\"1\",\"message\":\"Not \\\"now\\\"\"}");
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
