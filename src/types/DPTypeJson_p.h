#pragma once

#include <QString>

namespace kivo {

class DPTypeBase;
class DPTypeEnum;
class DPTypeEvent;
class DPTypeIPv4;
class DPTypeNumber;
class DPTypeReal;
class DPTypeString;
class DPTypeTime;
class MeasurementRegistry;

// The JSON member texts of the library's type descriptors, appended to a text being built, so
// that a definition's JSON is written into one buffer. Each gives the text of the descriptor's
// toJson (toJson(registry) for the numeric types).
namespace DPTypeJson {

void appendNumber(QString& out, const DPTypeNumber& type, MeasurementRegistry* registry);
void appendReal(QString& out, const DPTypeReal& type, MeasurementRegistry* registry);
void appendEnum(QString& out, const DPTypeEnum& type);
void appendEvent(QString& out, const DPTypeEvent& type);
void appendString(QString& out, const DPTypeString& type);
void appendIPv4(QString& out, const DPTypeIPv4& type);
void appendTime(QString& out, const DPTypeTime& type);

// Appends the type text a definition renders: DPTypeNumber::toJson(registry) for an integer
// type (a subclass included), type.toJson() for every other. Returns false, and appends
// nothing, for a descriptor of a class outside the library, whose toJson may be overridden.
bool appendForDefinition(QString& out, const DPTypeBase& type, MeasurementRegistry* registry);

} // namespace DPTypeJson

} // namespace kivo
