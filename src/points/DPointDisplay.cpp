#include <kivo/points/DPointDisplay.h>

#include "core/NumberText_p.h"
#include "core/Qt5Values_p.h"
#include "measurement/MeasurementConverter_p.h"
#include "points/ValueTypeCheck_p.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kivo {

namespace {

constexpr qint64 secondsPerDay = 86400;

// What the display needs of an integer or real type.
struct Numeric
{
    bool real = false;
    QString units;
    QString unitsLabel;
    double min = 0.0;
    double max = 0.0;
};

bool numericOf(const DPTypeBase* type, Numeric* numeric)
{
    if (const auto* number = qobject_cast<const DPTypeNumber*>(type)) {
        *numeric = { false, number->m_units, number->m_unitsLabel, double(number->m_min),
            double(number->m_max) };
        return true;
    }
    if (const auto* real = qobject_cast<const DPTypeReal*>(type)) {
        *numeric = { true, real->m_units, real->m_unitsLabel, real->m_min, real->m_max };
        return true;
    }
    return false;
}

// Limits of 0 and 0 are what a dictionary entry without limits loads as: no limits.
bool hasLimits(const Numeric& numeric)
{
    return !(numeric.min == 0.0 && numeric.max == 0.0);
}

const MeasurementConverter* converterOf(const DPointDef* def, const Numeric& numeric)
{
    return def->m_registry ? def->m_registry->getConverter(numeric.units) : nullptr;
}

// The display number of raw and its decimals; -1 decimals for a real shown without registry.
bool displayNumberOf(const DPointDef* def, const Numeric& numeric, const QVariant& raw,
    double* number, int* decimals)
{
    bool ok = false;
    const double x = raw.toDouble(&ok);
    if (!ok)
        return false;
    if (const MeasurementConverter* converter = converterOf(def, numeric)) {
        const DisplayFormat format(*converter);
        *number = displayNumber(format, x);
        *decimals = format.decimals;
    } else {
        *number = numeric.real ? x : std::round(x);
        *decimals = numeric.real ? -1 : 0;
    }
    return true;
}

QString numberText(double number, int decimals)
{
    return decimals < 0 ? QString::number(number)
                        : NumberText::FixedText(number, decimals).toString();
}

QString withLabel(const QString& text, const QString& label)
{
    return label.isEmpty() ? text : text + QLatin1Char(' ') + label;
}

QString clockText(quint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString timeText(DPTypeTime::Epoch epoch, qint64 seconds)
{
    switch (epoch) {
    case DPTypeTime::Jan_01_1970_local_time:
        // Counted in the device's local time: shown as that wall-clock time, unconverted.
        return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    case DPTypeTime::Jan_01_1970_GMT:
        return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss 'UTC'"));
    case DPTypeTime::January_1:
    case DPTypeTime::First_Of_Month:
        if (seconds < 0)
            break;
        return QStringLiteral("day %1 ").arg(seconds / secondsPerDay + 1) + clockText(seconds);
    case DPTypeTime::SysUpTime:
    case DPTypeTime::Midnight: {
        const QString sign = seconds < 0 ? QStringLiteral("-") : QString();
        // Unsigned, so that the smallest qint64 has a magnitude too.
        const quint64 magnitude = seconds < 0 ? 0 - quint64(seconds) : quint64(seconds);
        const quint64 days = magnitude / secondsPerDay;
        return sign + (days ? QStringLiteral("%1d ").arg(days) : QString()) + clockText(magnitude);
    }
    default:
        break;
    }
    return QString::number(seconds);
}

// Seconds for a time typed as timeText shows it, or as a plain number of seconds; -1 when the
// text is neither.
qint64 parseTime(DPTypeTime::Epoch epoch, QString text)
{
    bool ok = false;
    const qint64 plain = text.toLongLong(&ok);
    if (ok)
        return plain;
    if (epoch == DPTypeTime::Jan_01_1970_local_time || epoch == DPTypeTime::Jan_01_1970_GMT) {
        if (text.endsWith(QLatin1String(" UTC")))
            text.chop(4);
        const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QDate date = QDate::fromString(parts.value(0), QStringLiteral("yyyy-MM-dd"));
        QTime time(0, 0);
        if (parts.size() == 2) {
            time = QTime::fromString(parts.at(1), QStringLiteral("hh:mm:ss"));
            if (!time.isValid())
                time = QTime::fromString(parts.at(1), QStringLiteral("hh:mm"));
        }
        if (!date.isValid() || !time.isValid() || parts.size() > 2)
            return -1;
        return QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    }
    static const QRegularExpression clock(QStringLiteral(
        "^(?:day\\s*(\\d{1,5})\\s+|(\\d{1,5})\\s*d\\s+)?(\\d{1,2}):([0-5]\\d)(?::([0-5]\\d))?$"));
    const QRegularExpressionMatch match = clock.match(text);
    if (!match.hasMatch())
        return -1;
    // "day 1" is the first day: no whole day has passed yet.
    const qint64 days = match.captured(1).isEmpty() ? match.captured(2).toLongLong()
                                                    : match.captured(1).toLongLong() - 1;
    const qint64 hours = match.captured(3).toLongLong();
    if (days < 0 || hours > 23)
        return -1;
    return days * secondsPerDay + hours * 3600 + match.captured(4).toLongLong() * 60
        + match.captured(5).toLongLong();
}

QString eventText(int value)
{
    const int state = value & 7;
    QStringList parts;
    if (state == 0)
        return DPointDisplay::tr("Normal");
    parts << (state & DPointDisplay::EventActive ? DPointDisplay::tr("Active")
                                                 : DPointDisplay::tr("Cleared"));
    if (state & DPointDisplay::EventUnacknowledged)
        parts << DPointDisplay::tr("unacknowledged");
    if (state & DPointDisplay::EventResetNeeded)
        parts << DPointDisplay::tr("reset needed");
    return parts.join(QStringLiteral(", "));
}

QString addressText(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xff)
        .arg((address >> 8) & 0xff)
        .arg(address & 0xff);
}

// The address of dotted text or of an integer (negative for addresses from 128.0.0.0 on, as
// 32-bit device values carry them); invalid when it is neither.
QVariant parseAddress(const QVariant& input)
{
    bool ok = false;
    qint64 number = Qt5Values::toLongLong(input, &ok);
    if (!ok && input.userType() == QMetaType::QString) {
        const QStringList parts = input.toString().trimmed().split(QLatin1Char('.'));
        if (parts.size() != 4)
            return QVariant();
        number = 0;
        for (const QString& part : parts) {
            const uint byte = part.toUInt(&ok);
            if (!ok || byte > 255 || part.startsWith(QLatin1Char('+')))
                return QVariant();
            number = (number << 8) | byte;
        }
    }
    if (!ok || number < std::numeric_limits<qint32>::min()
        || number > std::numeric_limits<quint32>::max())
        return QVariant();
    return QVariant(int(quint32(number)));
}

// Text typed for a number, with or without the units label.
bool parseNumber(QString text, const QString& label, double* number)
{
    text = text.trimmed();
    if (!label.isEmpty() && text.endsWith(label))
        text = text.left(text.size() - label.size()).trimmed();
    bool ok = false;
    *number = QLocale().toDouble(text, &ok);
    if (!ok)
        *number = QLocale::c().toDouble(text, &ok);
    return ok;
}

QVariant numericRaw(const DPointDef* def, const Numeric& numeric, const QVariant& input,
    const QString& inputText, QString* reason)
{
    double number = 0.0;
    bool ok = false;
    if (input.userType() == QMetaType::QString)
        ok = parseNumber(input.toString(), DPointDisplay::unitsLabel(def), &number);
    else
        number = input.toDouble(&ok);
    if (!ok || !std::isfinite(number)) {
        *reason = DPointDisplay::tr("\"%1\" is not a number").arg(inputText);
        return QVariant();
    }
    const MeasurementConverter* converter = converterOf(def, numeric);
    double raw = converter ? converter->fromValue(QVariant(number)) : number;
    if (numeric.real) {
        // To the raw unit's resolution, the same way the display snaps to its resolution.
        const MeasurementUnits* units
            = def->m_registry ? def->m_registry->getUnits(numeric.units) : nullptr;
        if (units && units->m_resolution > 0.0 && units->m_scale > 0.0) {
            const double perStep = units->m_scale / units->m_resolution;
            raw = std::round(raw * perStep) / perStep;
        }
        if (std::isfinite(raw))
            return QVariant(raw);
    } else {
        raw = std::round(raw);
        if (raw >= std::numeric_limits<qint32>::min() && raw <= std::numeric_limits<qint32>::max())
            return QVariant(int(raw));
    }
    *reason = DPointDisplay::tr("\"%1\" is out of range").arg(inputText);
    return QVariant();
}

} // namespace

QString DPointDisplay::displayText(const DPointDef* def, const QVariant& raw)
{
    if (!raw.isValid())
        return QString();
    const DPTypeBase* type = def ? def->m_type : nullptr;
    Numeric numeric;
    if (numericOf(type, &numeric)) {
        double number = 0.0;
        int decimals = 0;
        if (!displayNumberOf(def, numeric, raw, &number, &decimals))
            return raw.toString();
        return withLabel(numberText(number, decimals), unitsLabel(def));
    }
    bool isInteger = false;
    const int integer = Qt5Values::toInt(raw, &isInteger);
    if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(type))
        return isInteger ? enumeration->m_values.value(integer, raw.toString()) : raw.toString();
    if (qobject_cast<const DPTypeEvent*>(type))
        return isInteger ? eventText(integer) : raw.toString();
    if (qobject_cast<const DPTypeIPv4*>(type)) {
        const QVariant address = parseAddress(raw);
        return address.isValid() ? addressText(address.toUInt()) : raw.toString();
    }
    if (const auto* time = qobject_cast<const DPTypeTime*>(type)) {
        bool ok = false;
        const qint64 seconds = Qt5Values::toLongLong(raw, &ok);
        return ok ? timeText(time->m_epoch, seconds) : raw.toString();
    }
    return raw.toString();
}

QVariant DPointDisplay::displayValue(const DPointDef* def, const QVariant& raw)
{
    if (!raw.isValid())
        return QVariant();
    Numeric numeric;
    if (numericOf(def ? def->m_type : nullptr, &numeric)) {
        double number = 0.0;
        int decimals = 0;
        if (!displayNumberOf(def, numeric, raw, &number, &decimals))
            return raw;
        if (decimals == 0 && std::abs(number) <= std::numeric_limits<qint32>::max())
            return QVariant(int(number));
        return QVariant(decimals < 0 ? number : numberText(number, decimals).toDouble());
    }
    return QVariant(displayText(def, raw));
}

QString DPointDisplay::unitsLabel(const DPointDef* def)
{
    Numeric numeric;
    if (!def || !numericOf(def->m_type, &numeric))
        return QString();
    if (const MeasurementConverter* converter = converterOf(def, numeric)) {
        if (!converter->m_label.isEmpty())
            return converter->m_label;
        // Without a conversion the value is shown in the unit itself, scaled from raw.
        if (const MeasurementUnits* units = def->m_registry->getUnits(numeric.units))
            return units->m_label;
    }
    return numeric.unitsLabel;
}

QString DPointDisplay::limitsText(const DPointDef* def)
{
    const DPTypeBase* type = def ? def->m_type : nullptr;
    Numeric numeric;
    if (numericOf(type, &numeric)) {
        if (!hasLimits(numeric) || std::isnan(numeric.min) || std::isnan(numeric.max))
            return QString();
        double min = 0.0;
        double max = 0.0;
        int decimals = 0;
        displayNumberOf(def, numeric, QVariant(numeric.min), &min, &decimals);
        QString text = numberText(min, decimals);
        displayNumberOf(def, numeric, QVariant(numeric.max), &max, &decimals);
        return text + QString::fromUtf8(" \u2013 ") + numberText(max, decimals);
    }
    if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(type)) {
        QList<int> keys = enumeration->m_values.keys();
        std::sort(keys.begin(), keys.end());
        QStringList labels;
        for (int key : qAsConst(keys))
            labels << enumeration->m_values.value(key);
        return labels.join(QStringLiteral(", "));
    }
    if (const auto* text = qobject_cast<const DPTypeString*>(type)) {
        if (text->m_maxLen > 0)
            return tr("up to %n characters", nullptr, text->m_maxLen);
    }
    return QString();
}

QVariant DPointDisplay::rawValue(const DPointDef* def, const QVariant& input, QString* reason)
{
    QString ignored;
    if (!reason)
        reason = &ignored;
    reason->clear();
    const DPTypeBase* type = def ? def->m_type : nullptr;
    if (!input.isValid()) {
        *reason = tr("No value given");
        return QVariant();
    }
    if (!type)
        return input;
    const QString inputText = input.toString();
    const bool isText = input.userType() == QMetaType::QString;

    Numeric numeric;
    if (numericOf(type, &numeric))
        return numericRaw(def, numeric, input, inputText, reason);
    if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(type)) {
        if (isText) {
            const QVariant key = checkValueType(QVariant(inputText.trimmed()), type);
            if (key.isValid())
                return key;
        }
        bool ok = false;
        const int key = Qt5Values::toInt(input, &ok);
        if (ok && enumeration->m_values.contains(key))
            return QVariant(key);
        *reason = tr("No choice is labelled \"%1\"").arg(inputText);
        return QVariant();
    }
    if (qobject_cast<const DPTypeIPv4*>(type)) {
        const QVariant address = parseAddress(input);
        if (!address.isValid())
            *reason = tr("\"%1\" is not an IPv4 address").arg(inputText);
        return address;
    }
    if (const auto* time = qobject_cast<const DPTypeTime*>(type)) {
        bool ok = true;
        const qint64 seconds = isText ? parseTime(time->m_epoch, inputText.trimmed())
                                      : Qt5Values::toLongLong(input, &ok);
        if (!ok || seconds < 0 || seconds > std::numeric_limits<quint32>::max()) {
            *reason = tr("\"%1\" is not a time").arg(inputText);
            return QVariant();
        }
        return QVariant(uint(seconds));
    }
    if (qobject_cast<const DPTypeEvent*>(type)) {
        bool ok = false;
        const int value = Qt5Values::toInt(input, &ok);
        if (!ok)
            *reason = tr("\"%1\" is not an event value").arg(inputText);
        return ok ? QVariant(value) : QVariant();
    }
    return QVariant(inputText);
}

QString DPointDisplay::checkLimits(const DPointDef* def, const QVariant& raw)
{
    const DPTypeBase* type = def ? def->m_type : nullptr;
    Numeric numeric;
    if (numericOf(type, &numeric)) {
        bool ok = false;
        const double value = raw.toDouble(&ok);
        if (!ok || !hasLimits(numeric))
            return QString();
        if (value < numeric.min)
            return tr("Below the lower limit %1").arg(displayText(def, QVariant(numeric.min)));
        if (value > numeric.max)
            return tr("Above the upper limit %1").arg(displayText(def, QVariant(numeric.max)));
        return QString();
    }
    if (const auto* textType = qobject_cast<const DPTypeString*>(type)) {
        const QString text = raw.toString();
        if (textType->m_maxLen > 0 && text.size() > textType->m_maxLen)
            return tr("Longer than %n characters", nullptr, textType->m_maxLen);
        const QRegularExpression allowed(QRegularExpression::anchoredPattern(textType->m_charSet));
        if (textType->m_charSet.isEmpty() || !allowed.isValid() || allowed.match(text).hasMatch())
            return QString();
        // A pattern may also describe one allowed character rather than the whole text.
        const bool eachAllowed = std::all_of(text.cbegin(), text.cend(),
            [&allowed](QChar c) { return allowed.match(QString(c)).hasMatch(); });
        return eachAllowed ? QString() : tr("Has characters that are not allowed");
    }
    return QString();
}

QString DPointDisplay::checkWrite(const DPointDef* def, const QVariant& raw)
{
    if (!def)
        return tr("The point is not available");
    if (!def->m_writable)
        return tr("The point is read-only");
    if (!raw.isValid())
        return tr("The value does not fit the point's type");
    return checkLimits(def, raw);
}

QString DPointDisplay::statusText(const StatRef& status)
{
    QStringList texts;
    for (const StatRef* link = &status; link; link = link->m_next) {
        if (!link->m_stat)
            continue;
        const QString& message = link->m_stat->getMsg();
        const QString& text = message.isEmpty() ? link->m_stat->getCode() : message;
        if (!text.isEmpty())
            texts << text;
    }
    return texts.join(QStringLiteral("; "));
}

} // namespace kivo
