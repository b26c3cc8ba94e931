#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVariant>

namespace kivo {

class DPointDef;

// The JSON payloads of the remote link, written and read in one place: values ("p/<point>"),
// write requests ("p/<point>/set") and their answers. Decoding never trusts its input: every
// function returns false, with a reason, for what it cannot use.
namespace RemotePayload {

/// A raw value as JSON: numbers, true/false, strings escaped; null for an invalid value and for
/// numbers JSON cannot carry (NaN, infinities).
QByteArray jsonValue(const QVariant& raw);
/// Whether a and b travel as the same raw value (an int and a double of equal value do).
bool sameValue(const QVariant& a, const QVariant& b);
/// text as a JSON string, quotes included.
QByteArray jsonString(const QString& text);

/// {"v":<raw>,"text":"<text>","ts":<ms>}
QByteArray encodeValue(const QVariant& raw, const QString& text, qint64 msecsSinceEpoch);
/// {"v":<raw>}
QByteArray encodeRawRequest(const QVariant& raw);
/// {"status":"confirmed"|"refused","v":<raw>,"text":"<text>","code":"…","message":"…"}
QByteArray encodeAnswer(bool confirmed, const QVariant& raw, const QString& text,
    const QString& code, const QString& message);

struct Value
{
    QJsonValue v;
    QString text;
    qint64 ts = 0;
};
/// Reads a value payload: an object with "v" (any JSON value); "text" and "ts" optional.
bool decodeValue(const QByteArray& payload, Value* value, QString* reason);

struct Request
{
    QJsonValue v; ///< the raw value, when byText is false
    QString text; ///< the display input, when byText is true
    bool byText = false;
};
/// Reads a write request: an object with either "v" or "text" (a string).
bool decodeRequest(const QByteArray& payload, Request* request, QString* reason);

struct Answer
{
    bool confirmed = false;
    QJsonValue v;
    QString text;
    QString code;
    QString message;
};
/// Reads an answer: "status" "confirmed" or "refused", the rest optional.
bool decodeAnswer(const QByteArray& payload, Answer* answer, QString* reason);

/// The raw value that v stands for as a value of def's type: a whole number within 32 bits for
/// integer points (not converted: raw units), a number for real points, the types' own raw
/// forms for the others (DPointDisplay::rawValue); invalid, with the reason, when v does not
/// fit. JSON null gives an invalid value without a reason.
QVariant rawFromJson(const DPointDef* def, const QJsonValue& v, QString* reason);

} // namespace RemotePayload

} // namespace kivo
