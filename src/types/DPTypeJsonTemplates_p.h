#pragma once

#include <QString>

namespace kivo {

// The fixed JSON member templates of the type descriptors. Each is built on its first use
// (thread-safe static initialisation) and shared by every later rendering.
namespace DPTypeJsonTemplates {

inline const QString& number()
{
    static const QString text = QStringLiteral(
        "\"type\":\"int\", \"default\":%1, \"min\":%2, \"max\":%3, \"resolution\":%4, "
        "\"unitsLabel\":\"%5\"");
    return text;
}

inline const QString& real()
{
    static const QString text = QStringLiteral(
        "\"type\":\"qreal\", \"default\":%1, \"min\":%2, \"max\":%3, \"resolution\":%4, "
        "\"unitsLabel\":\"%5\"");
    return text;
}

inline const QString& enumeration()
{
    static const QString text
        = QStringLiteral("\"type\":\"enum\", \"default\":%1, \"values\":[%2]");
    return text;
}

inline const QString& enumerationEntry()
{
    static const QString text = QStringLiteral("{\"id\":%1 ,\"name\":\"%2\"}");
    return text;
}

inline const QString& event()
{
    static const QString text = QStringLiteral(
        "\"type\":\"event\", \"id\":%1, \"desc\":\"%2\", \"expl\":\"%3\", \"etype\":%4, "
        "\"atype\":%5, \"rtype\":%6, \"avs\":%7");
    return text;
}

inline const QString& associatedVariable()
{
    static const QString text
        = QStringLiteral("{ \"type\":\"%1\", \"id\":\"%2\", \"access\":\"%3\" }");
    return text;
}

inline const QString& text()
{
    static const QString text = QStringLiteral(
        "\"type\":\"text\", \"default\":\"%1\", \"charSet\":\"%2\", \"format\":\"%3\", "
        "\"maxLen\":%4");
    return text;
}

inline const QString& ipv4()
{
    static const QString text = QStringLiteral("\"type\":\"ipv4\", \"default\":\"%1\"");
    return text;
}

inline const QString& time()
{
    static const QString text = QStringLiteral("\"type\":\"time\", \"epoch\":%1");
    return text;
}

} // namespace DPTypeJsonTemplates

} // namespace kivo
