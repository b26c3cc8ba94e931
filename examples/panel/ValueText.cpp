#include "ValueText.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/measurement/MeasurementUnits.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeTime.h>

#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QTime>

namespace panel {

namespace {

// A unit without a conversion into the display system has no display label of its own; its
// values are then shown in the unit itself, under the unit's label.
QString unitLabel(const QString& unitId, const QString& typeLabel,
    const kivo::MeasurementConverter* converter, kivo::MeasurementRegistry* registry)
{
    if (!converter->m_label.isEmpty())
        return converter->m_label;
    if (const kivo::MeasurementUnits* units = registry->getUnits(unitId))
        return units->m_label;
    return typeLabel;
}

QString withLabel(const QString& text, const QString& label, bool withUnit)
{
    return withUnit && !label.isEmpty() ? text + QLatin1Char(' ') + label : text;
}

} // namespace

QString displayText(const kivo::DPointDef* def, const QVariant& raw,
    kivo::MeasurementRegistry* registry, bool withUnit)
{
    if (!raw.isValid())
        return QString();
    const kivo::DPTypeBase* type = def ? def->m_type : nullptr;
    if (const auto* number = qobject_cast<const kivo::DPTypeNumber*>(type)) {
        if (!registry)
            return withLabel(raw.toString(), number->m_unitsLabel, withUnit);
        const kivo::MeasurementConverter* converter = registry->getConverter(number->m_units);
        return withLabel(converter->toString(raw),
            unitLabel(number->m_units, number->m_unitsLabel, converter, registry), withUnit);
    }
    if (const auto* real = qobject_cast<const kivo::DPTypeReal*>(type)) {
        if (!registry)
            return withLabel(QLocale().toString(raw.toDouble()), real->m_unitsLabel, withUnit);
        const kivo::MeasurementConverter* converter = registry->getConverter(real->m_units);
        return withLabel(converter->toString(raw),
            unitLabel(real->m_units, real->m_unitsLabel, converter, registry), withUnit);
    }
    if (const auto* enumeration = qobject_cast<const kivo::DPTypeEnum*>(type))
        return enumeration->m_values.value(raw.toInt(), raw.toString());
    if (qobject_cast<const kivo::DPTypeIPv4*>(type)) {
        const quint32 address = raw.toUInt();
        return QStringLiteral("%1.%2.%3.%4")
            .arg(address >> 24)
            .arg((address >> 16) & 0xff)
            .arg((address >> 8) & 0xff)
            .arg(address & 0xff);
    }
    if (const auto* time = qobject_cast<const kivo::DPTypeTime*>(type)) {
        const qint64 seconds = raw.toLongLong();
        switch (time->m_epoch) {
        case kivo::DPTypeTime::Jan_01_1970_local_time:
            return QDateTime::fromSecsSinceEpoch(seconds).toString(
                QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        case kivo::DPTypeTime::Jan_01_1970_GMT:
            return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss 'UTC'"));
        case kivo::DPTypeTime::Midnight:
            return QTime(0, 0).addSecs(int(seconds % 86400)).toString(QStringLiteral("hh:mm"));
        default:
            return withLabel(raw.toString(), QStringLiteral("s"), withUnit);
        }
    }
    return raw.toString();
}

QVariant rawFromText(
    const kivo::DPointDef* def, const QString& text, kivo::MeasurementRegistry* registry)
{
    const kivo::DPTypeBase* type = def ? def->m_type : nullptr;
    bool ok = false;
    const double shown = QLocale().toDouble(text.trimmed(), &ok);
    if (const auto* number = qobject_cast<const kivo::DPTypeNumber*>(type)) {
        if (ok && registry)
            return qRound(registry->getConverter(number->m_units)->fromValue(shown));
    }
    if (const auto* real = qobject_cast<const kivo::DPTypeReal*>(type)) {
        if (ok && registry)
            return registry->getConverter(real->m_units)->fromValue(shown);
    }
    if (qobject_cast<const kivo::DPTypeIPv4*>(type)) {
        const QStringList parts = text.trimmed().split(QLatin1Char('.'));
        quint32 address = 0;
        bool ok = parts.size() == 4;
        for (const QString& part : parts) {
            const uint byte = part.toUInt(&ok);
            if (!ok || byte > 255)
                return text;
            address = (address << 8) | byte;
        }
        if (ok)
            return int(address);
    }
    return text;
}

} // namespace panel
