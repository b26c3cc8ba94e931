#include "types/DPTypeJson_p.h"

#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <typeinfo>

namespace kivo {

namespace DPTypeJson {

bool appendForDefinition(JsonBuffer& out, const DPTypeBase& type, MeasurementRegistry* registry)
{
    // Told by the dynamic type rather than by qobject_cast, which reaches the meta-object
    // through the descriptor's private data: one more memory access per definition rendered.
    // The library's classes have their type information in the library alone, so comparing
    // its address is enough (and a miss only takes the general path below).
    const std::type_info* kind = &typeid(type);
    if (kind == &typeid(DPTypeNumber)) {
        appendNumber(out, static_cast<const DPTypeNumber&>(type), registry);
    } else if (kind == &typeid(DPTypeReal)) {
        appendReal(out, static_cast<const DPTypeReal&>(type), nullptr);
    } else if (kind == &typeid(DPTypeEnum)) {
        appendEnum(out, static_cast<const DPTypeEnum&>(type));
    } else if (kind == &typeid(DPTypeEvent)) {
        appendEvent(out, static_cast<const DPTypeEvent&>(type));
    } else if (kind == &typeid(DPTypeString)) {
        appendString(out, static_cast<const DPTypeString&>(type));
    } else if (kind == &typeid(DPTypeTime)) {
        appendTime(out, static_cast<const DPTypeTime&>(type));
    } else if (kind == &typeid(DPTypeIPv4)) {
        appendIPv4(out, static_cast<const DPTypeIPv4&>(type));
    } else if (const auto* number = dynamic_cast<const DPTypeNumber*>(&type)) {
        // toJson(registry) is not virtual: a subclass renders as its base does.
        appendNumber(out, *number, registry);
    } else {
        return false;
    }
    return true;
}

} // namespace DPTypeJson

} // namespace kivo
