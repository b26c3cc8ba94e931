// Fuzz target: checkDPointType. The first input byte picks the point's type (the seven types, a
// definition without type, no definition) and how the value travels (as text, or as a value of
// another kind that must pass unchanged); the rest is the value's UTF-8 text.
//
// Properties: the result has the type's value kind or is invalid, an enumeration result names a
// label equal to the text apart from case, non-text values and text points pass unchanged, and
// the converted value can be stored in the point.

#include "FuzzSupport.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QVariant>
#include <QtNumeric>

using namespace kivo;

namespace {

enum Kind { Number, Real, Enum, IPv4, Time, Text, Event, Untyped, KindCount };

DPTypeBase* makeType(Kind kind)
{
    switch (kind) {
    case Number:
        return (new DPTypeNumber)->_init(QVariant(5), -100, 100, QString(), QString());
    case Real:
        return (new DPTypeReal)->_init(QStringLiteral("1.5"), -1.0, 1.0, QString(), QString());
    case Enum:
        return (new DPTypeEnum)
            ->_init(0,
                { { 0, QStringLiteral("Off") }, { 1, QStringLiteral("On") },
                    { -7, QStringLiteral("Stra\u00dfe") }, { 9, QString() },
                    { 42, QStringLiteral("\u0130stanbul") } });
    case IPv4:
        return (new DPTypeIPv4)->_init(QStringLiteral("10.0.0.1"));
    case Time:
        return (new DPTypeTime)->_init(0, DPTypeTime::Jan_01_1970_GMT);
    case Text:
        return (new DPTypeString)->_init(QString(), QString(), QString(), 32);
    case Event:
        return new DPTypeEvent;
    case Untyped:
    case KindCount:
        break;
    }
    return nullptr;
}

int expectedType(Kind kind)
{
    switch (kind) {
    case Number:
    case Enum:
    case IPv4:
        return QMetaType::Int;
    case Real:
        return QMetaType::Double;
    case Time:
        return QMetaType::UInt;
    default:
        return QMetaType::QString;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceQtMessages();
    if (size == 0)
        return 0;
    const int selector = data[0];
    const bool withDefinition = selector % 9 != 8;
    const Kind kind = withDefinition ? Kind(selector % 9) : Untyped;
    const bool asText = selector / 9 % 2 == 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), int(size - 1));

    DPointDef def;
    if (DPTypeBase* type = makeType(kind)) {
        type->setParent(&def);
        def.m_type = type;
    }
    DPointObject point;
    if (withDefinition)
        point.setDPointDef(&def);

    const QVariant value = asText ? QVariant(text) : QVariant(text.toUtf8());
    const QVariant result = checkDPointType(value, point);

    const bool passesUnchanged = !asText || !withDefinition || kind == Untyped || kind == Text;
    if (passesUnchanged || kind == Event) {
        // A type the check does not know keeps the value as given too.
        if (result != value || result.userType() != value.userType())
            fuzz::fail("a value that needs no conversion was changed");
    } else if (result.isValid() && result.userType() != expectedType(kind)) {
        fuzz::fail("a converted value has the wrong kind");
    }
    if (kind == Enum && asText && result.isValid()) {
        const auto* type = static_cast<const DPTypeEnum*>(def.m_type);
        if (!type->m_values.contains(result.toInt())
            || type->m_values.value(result.toInt()).toLower() != text.toLower()) {
            fuzz::fail("an enumeration result names no label equal to the text");
        }
    }

    point.setCurrentValue(result);
    const QVariant stored = point.getCurrentValue();
    const bool bothNaN = stored.userType() == QMetaType::Double
        && result.userType() == QMetaType::Double && qIsNaN(stored.toDouble())
        && qIsNaN(result.toDouble());
    if (stored.isValid() && stored != result && !bothNaN)
        fuzz::fail("the point holds a value other than the one stored");
    return 0;
}
