#pragma once

namespace kivo {

class DPTypeBase;
class DPTypeEnum;
class DPTypeEvent;
class DPTypeIPv4;
class DPTypeNumber;
class DPTypeReal;
class DPTypeString;
class DPTypeTime;
class JsonBuffer;
class MeasurementRegistry;

// The JSON member texts of the library's type descriptors, appended to a text being built, so
// that a definition's JSON is written into one buffer. Each gives the text of the descriptor's
// toJson (toJson(registry) for the numeric types).
namespace DPTypeJson {

void appendNumber(JsonBuffer& out, const DPTypeNumber& type, MeasurementRegistry* registry);
void appendReal(JsonBuffer& out, const DPTypeReal& type, MeasurementRegistry* registry);
void appendEnum(JsonBuffer& out, const DPTypeEnum& type);
void appendEvent(JsonBuffer& out, const DPTypeEvent& type);
void appendString(JsonBuffer& out, const DPTypeString& type);
void appendIPv4(JsonBuffer& out, const DPTypeIPv4& type);
void appendTime(JsonBuffer& out, const DPTypeTime& type);

// Appends the type text a definition renders: DPTypeNumber::toJson(registry) for an integer
// type (a subclass included), type.toJson() for every other. Returns false, and appends
// nothing, for a descriptor of a class outside the library, whose toJson may be overridden.
bool appendForDefinition(JsonBuffer& out, const DPTypeBase& type, MeasurementRegistry* registry);

} // namespace DPTypeJson

} // namespace kivo
