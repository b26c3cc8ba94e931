#pragma once

#include "types/JsonTemplate_p.h"

#include <QString>

namespace kivo {

// The fixed JSON member templates of the type descriptors. Each is built on its first use
// (thread-safe static initialisation), split at its markers once, and shared by every later
// rendering.
namespace DPTypeJsonTemplates {

inline const JsonTemplate& number()
{
    static const JsonTemplate text(QStringLiteral(
        "\"type\":\"int\", \"default\":%1, \"min\":%2, \"max\":%3, \"resolution\":%4, "
        "\"unitsLabel\":\"%5\""));
    return text;
}

inline const JsonTemplate& real()
{
    static const JsonTemplate text(QStringLiteral(
        "\"type\":\"qreal\", \"default\":%1, \"min\":%2, \"max\":%3, \"resolution\":%4, "
        "\"unitsLabel\":\"%5\""));
    return text;
}

inline const JsonTemplate& enumeration()
{
    static const JsonTemplate text(
        QStringLiteral("\"type\":\"enum\", \"default\":%1, \"values\":[%2]"));
    return text;
}

inline const JsonTemplate& enumerationEntry()
{
    static const JsonTemplate text(QStringLiteral("{\"id\":%1 ,\"name\":\"%2\"}"));
    return text;
}

inline const JsonTemplate& event()
{
    static const JsonTemplate text(QStringLiteral(
        "\"type\":\"event\", \"id\":%1, \"desc\":\"%2\", \"expl\":\"%3\", \"etype\":%4, "
        "\"atype\":%5, \"rtype\":%6, \"avs\":%7"));
    return text;
}

inline const JsonTemplate& associatedVariable()
{
    static const JsonTemplate text(
        QStringLiteral("{ \"type\":\"%1\", \"id\":\"%2\", \"access\":\"%3\" }"));
    return text;
}

inline const JsonTemplate& text()
{
    static const JsonTemplate text(QStringLiteral(
        "\"type\":\"text\", \"default\":\"%1\", \"charSet\":\"%2\", \"format\":\"%3\", "
        "\"maxLen\":%4"));
    return text;
}

inline const JsonTemplate& ipv4()
{
    static const JsonTemplate text(QStringLiteral("\"type\":\"ipv4\", \"default\":\"%1\""));
    return text;
}

inline const JsonTemplate& time()
{
    static const JsonTemplate text(QStringLiteral("\"type\":\"time\", \"epoch\":%1"));
    return text;
}

} // namespace DPTypeJsonTemplates

} // namespace kivo
