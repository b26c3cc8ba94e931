#include <kivo/points/checkDPointType.h>

#include "points/ValueTypeCheck_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QLocale>

#include <utility>

namespace kivo {

namespace {

template<typename T> QVariant convertedOrInvalid(T converted, bool ok)
{
    return ok ? QVariant(converted) : QVariant();
}

} // namespace

QVariant checkDPointType(QVariant value, DPointObject const& point)
{
    const DPointDef* def = point.getDPointDef();
    return checkValueType(std::move(value), def ? def->m_type : nullptr);
}

QVariant checkValueType(QVariant value, const DPTypeBase* type)
{
    if (!type || value.userType() != QMetaType::QString)
        return value;
    if (qobject_cast<const DPTypeString*>(type))
        return value;

    const QString text = value.toString();
    const QLocale locale;
    bool ok = false;
    if (qobject_cast<const DPTypeNumber*>(type)) {
        const int converted = locale.toInt(text, &ok);
        return convertedOrInvalid(converted, ok);
    }
    if (qobject_cast<const DPTypeReal*>(type)) {
        const double converted = locale.toDouble(text, &ok);
        return convertedOrInvalid(converted, ok);
    }
    if (const auto* enumType = qobject_cast<const DPTypeEnum*>(type)) {
        const QString wanted = text.toLower();
        for (auto it = enumType->m_values.constBegin(); it != enumType->m_values.constEnd(); ++it) {
            if (it.value().toLower() == wanted)
                return QVariant(it.key());
        }
        return QVariant();
    }
    if (qobject_cast<const DPTypeIPv4*>(type)) {
        const int converted = locale.toInt(text, &ok);
        return convertedOrInvalid(converted, ok);
    }
    if (qobject_cast<const DPTypeTime*>(type)) {
        const uint converted = locale.toUInt(text, &ok);
        return convertedOrInvalid(converted, ok);
    }
    return value;
}

} // namespace kivo
