#include "remote/RemotePayload_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>

#include <cmath>
#include <cstring>
#include <limits>

namespace kivo {

namespace RemotePayload {

namespace {

QString translated(const char* text)
{
    return QCoreApplication::translate("kivo::RemotePayload", text);
}

bool parseObject(const QByteArray& payload, QJsonObject* object, QString* reason)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError) {
        *reason
            = translated("not JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset);
        return false;
    }
    if (!document.isObject()) {
        *reason = translated("not a JSON object");
        return false;
    }
    *object = document.object();
    return true;
}

QString stringMember(const QJsonObject& object, const char* name, bool* ok)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined())
        return QString();
    if (!value.isString())
        *ok = false;
    return value.toString();
}

// The fast reading of a value payload in the layout encodeValue writes. Each scanner returns
// false, having changed nothing the caller keeps, as soon as the input is anything else or
// anything it is not sure of; the JSON parser then reads the payload and decides.

bool scanLiteral(const char** p, const char* end, const char* literal, size_t length)
{
    if (size_t(end - *p) < length || std::memcmp(*p, literal, length) != 0)
        return false;
    *p += length;
    return true;
}

// A whole number of at most 15 digits (exact as a double), without a sign on zero.
bool scanInteger(const char** p, const char* end, qint64* number)
{
    const char* c = *p;
    const bool negative = c != end && *c == '-';
    if (negative)
        ++c;
    const char* digits = c;
    qint64 n = 0;
    while (c != end && *c >= '0' && *c <= '9' && c - digits < 16)
        n = n * 10 + (*c++ - '0');
    const long count = c - digits;
    if (count == 0 || count > 15 || (*digits == '0' && (count > 1 || negative)))
        return false;
    if (c != end && (*c == '.' || *c == 'e' || *c == 'E'))
        return false;
    *number = negative ? -n : n;
    *p = c;
    return true;
}

// A string without escapes and without control characters, as valid UTF-8 without
// noncharacters; *p is left after its closing quote.
bool scanPlainString(const char** p, const char* end, QString* text)
{
    const char* start = *p;
    bool ascii = true;
    const char* c = start;
    for (; c != end && *c != '"'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == '\\')
            return false;
        ascii = ascii && byte < 0x80;
    }
    if (c == end)
        return false;
    if (ascii) {
        *text = QString::fromLatin1(start, int(c - start));
    } else {
        *text = QString::fromUtf8(start, int(c - start));
        for (const QChar ch : qAsConst(*text)) {
            if (ch == QChar::ReplacementCharacter || ch.isNonCharacter())
                return false;
        }
    }
    *p = c + 1;
    return true;
}

bool scanValue(const char** p, const char* end, QJsonValue* value)
{
    qint64 number = 0;
    QString text;
    if (scanLiteral(p, end, "\"", 1)) {
        if (!scanPlainString(p, end, &text))
            return false;
        *value = QJsonValue(text);
    } else if (scanLiteral(p, end, "true", 4)) {
        *value = QJsonValue(true);
    } else if (scanLiteral(p, end, "false", 5)) {
        *value = QJsonValue(false);
    } else if (scanLiteral(p, end, "null", 4)) {
        *value = QJsonValue(QJsonValue::Null);
    } else if (scanInteger(p, end, &number)) {
        *value = QJsonValue(number);
    } else {
        return false;
    }
    return true;
}

// {"v":<v>,"text":"<text>","ts":<ms>} exactly as encodeValue writes it, with v a whole number,
// true, false, null or a plain string: what a panel receives all day long, read without building
// a JSON document.
bool scanEncodedValue(const QByteArray& payload, Value* value)
{
    const char* p = payload.constData();
    const char* const end = p + payload.size();
    QJsonValue v;
    QString text;
    qint64 ts = 0;
    if (!scanLiteral(&p, end, "{\"v\":", 5) || !scanValue(&p, end, &v)
        || !scanLiteral(&p, end, ",\"text\":\"", 9) || !scanPlainString(&p, end, &text)
        || !scanLiteral(&p, end, ",\"ts\":", 6) || !scanInteger(&p, end, &ts)
        || !scanLiteral(&p, end, "}", 1) || p != end)
        return false;
    value->v = v;
    value->text = text;
    value->ts = ts;
    return true;
}

// v as JSON text for messages; jsonValue alone would write an array or object as "".
QString jsonText(const QJsonValue& v)
{
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isObject())
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(jsonValue(v.toVariant()));
}

} // namespace

QByteArray jsonString(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out.append('"');
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out.append("\\u00");
                out.append(hex[(c >> 4) & 0xF]);
                out.append(hex[c & 0xF]);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
    return out;
}

QByteArray jsonValue(const QVariant& raw)
{
    switch (raw.userType()) {
    case QMetaType::UnknownType:
        return QByteArrayLiteral("null");
    case QMetaType::Bool:
        return raw.toBool() ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QByteArray::number(raw.toLongLong());
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return QByteArray::number(raw.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double value = raw.toDouble();
        if (!std::isfinite(value))
            return QByteArrayLiteral("null");
        return QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
    }
    default:
        return jsonString(raw.toString());
    }
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    return a.isValid() == b.isValid() && jsonValue(a) == jsonValue(b);
}

QByteArray encodeValue(const QVariant& raw, const QString& text, qint64 msecsSinceEpoch)
{
    return QByteArrayLiteral("{\"v\":") + jsonValue(raw) + QByteArrayLiteral(",\"text\":")
        + jsonString(text) + QByteArrayLiteral(",\"ts\":") + QByteArray::number(msecsSinceEpoch)
        + '}';
}

QByteArray encodeRawRequest(const QVariant& raw)
{
    return QByteArrayLiteral("{\"v\":") + jsonValue(raw) + '}';
}

QByteArray encodeAnswer(bool confirmed, const QVariant& raw, const QString& text,
    const QString& code, const QString& message)
{
    return QByteArrayLiteral("{\"status\":")
        + (confirmed ? QByteArrayLiteral("\"confirmed\"") : QByteArrayLiteral("\"refused\""))
        + QByteArrayLiteral(",\"v\":") + jsonValue(raw) + QByteArrayLiteral(",\"text\":")
        + jsonString(text) + QByteArrayLiteral(",\"code\":") + jsonString(code)
        + QByteArrayLiteral(",\"message\":") + jsonString(message) + '}';
}

bool decodeValue(const QByteArray& payload, Value* value, QString* reason)
{
    if (scanEncodedValue(payload, value))
        return true;
    QJsonObject object;
    if (!parseObject(payload, &object, reason))
        return false;
    if (!object.contains(QLatin1String("v"))) {
        *reason = translated("no \"v\" member");
        return false;
    }
    bool ok = true;
    value->v = object.value(QLatin1String("v"));
    value->text = stringMember(object, "text", &ok);
    const QJsonValue ts = object.value(QLatin1String("ts"));
    const double msecs = ts.toDouble();
    // A number beyond 64 bits has no qint64 to convert to.
    if (!ts.isUndefined()
        && (!ts.isDouble() || !(std::abs(msecs) < double(std::numeric_limits<qint64>::max()))))
        ok = false;
    else
        value->ts = qint64(msecs);
    if (!ok)
        *reason = translated("\"text\" is not a string or \"ts\" not a number");
    return ok;
}

bool decodeRequest(const QByteArray& payload, Request* request, QString* reason)
{
    QJsonObject object;
    if (!parseObject(payload, &object, reason))
        return false;
    const bool hasValue = object.contains(QLatin1String("v"));
    const bool hasText = object.contains(QLatin1String("text"));
    if (hasValue == hasText) {
        *reason = translated("a request has either \"v\" or \"text\"");
        return false;
    }
    request->byText = hasText;
    if (hasText) {
        const QJsonValue text = object.value(QLatin1String("text"));
        if (!text.isString()) {
            *reason = translated("\"text\" is not a string");
            return false;
        }
        request->text = text.toString();
    } else {
        request->v = object.value(QLatin1String("v"));
    }
    return true;
}

bool decodeAnswer(const QByteArray& payload, Answer* answer, QString* reason)
{
    QJsonObject object;
    if (!parseObject(payload, &object, reason))
        return false;
    const QString status = object.value(QLatin1String("status")).toString();
    if (status != QLatin1String("confirmed") && status != QLatin1String("refused")) {
        *reason = translated("\"status\" is neither \"confirmed\" nor \"refused\"");
        return false;
    }
    bool ok = true;
    answer->confirmed = status == QLatin1String("confirmed");
    answer->v = object.value(QLatin1String("v"));
    answer->text = stringMember(object, "text", &ok);
    answer->code = stringMember(object, "code", &ok);
    answer->message = stringMember(object, "message", &ok);
    if (!ok)
        *reason = translated("\"text\", \"code\" or \"message\" is not a string");
    return ok;
}

QVariant rawFromJson(const DPointDef* def, const QJsonValue& v, QString* reason)
{
    reason->clear();
    if (v.isNull() || v.isUndefined())
        return QVariant();
    const DPTypeBase* type = def ? def->m_type : nullptr;
    if (qobject_cast<const DPTypeNumber*>(type)) {
        const double number = v.toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!v.isDouble() || std::trunc(number) != number
            || number < std::numeric_limits<qint32>::min()
            || number > std::numeric_limits<qint32>::max()) {
            *reason = translated("%1 is not a whole number of 32 bits").arg(jsonText(v));
            return QVariant();
        }
        return QVariant(int(number));
    }
    if (qobject_cast<const DPTypeReal*>(type)) {
        if (!v.isDouble()) {
            *reason = translated("%1 is not a number").arg(jsonText(v));
            return QVariant();
        }
        return QVariant(v.toDouble());
    }
    if (qobject_cast<const DPTypeString*>(type) && !v.isString()) {
        *reason = translated("%1 is not a text").arg(jsonText(v));
        return QVariant();
    }
    if (v.isArray() || v.isObject()) {
        *reason = translated("%1 is an array or object, not a value").arg(jsonText(v));
        return QVariant();
    }
    QVariant input = v.toVariant();
    if (v.isDouble() && std::trunc(v.toDouble()) == v.toDouble()
        && std::abs(v.toDouble()) <= double(std::numeric_limits<qint64>::max() / 2))
        input = QVariant(qint64(v.toDouble()));
    if (!type)
        return input;
    return DPointDisplay::rawValue(def, input, reason);
}

} // namespace RemotePayload

} // namespace kivo
