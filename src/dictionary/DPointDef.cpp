#include <kivo/dictionary/DPointDef.h>

#include <kivo/types/DPTypeBase.h>

#include "core/Prefetch_p.h"
#include "types/DPTypeJson_p.h"
#include "types/JsonTemplate_p.h"

namespace kivo {

DPointDef::DPointDef(QObject* parent)
{
    setParent(parent);
}

DPointDef::~DPointDef() = default;

DPointDef* DPointDef::_init(const QString& name, const QString& variableName,
    const QString& externalName, const QString& lineId, int pxcId, const DPTypeBase* type)
{
    setObjectName(name);
    m_variableName = variableName;
    m_externalName = externalName;
    m_lineId = lineId;
    m_pxcId = pxcId;
    m_type = type;
    return this;
}

QString DPointDef::getTypeJson() const
{
    static const JsonTemplate definitionTemplate(
        QStringLiteral("\"variableName\":\"%1\", \"externalName\":\"%2\", \"lineId\":\"%3\", "
                       "\"access\":\"%4%5\""));
    static const QString readPart = QStringLiteral("R");
    static const QString writePart = QStringLiteral("W");

    // A dictionary's definitions, their descriptors and texts lie all over the heap: everything
    // this definition renders is asked for at once, so that the cache misses overlap.
    prefetch(m_type);
    prefetchText(m_variableName);
    prefetchText(m_externalName);
    prefetchText(m_lineId);

    // Written into one buffer (on the stack for the usual lengths), copied out once.
    JsonBuffer out;
    out.append(QLatin1Char('{'));
    if (m_type && !DPTypeJson::appendForDefinition(out, *m_type, m_registry)) {
        // A descriptor class of the application's renders through its own toJson.
        out.append(m_type->toJson());
    }
    if (out.size() > 1) {
        out.append(QLatin1String(", "));
    }
    definitionTemplate.appendFilled(out,
        { m_variableName, m_externalName, m_lineId,
            JsonArg::markerFree(m_readable ? readPart : QString()),
            JsonArg::markerFree(m_writable ? writePart : QString()) });
    out.append(QLatin1Char('}'));
    return out.toString();
}

} // namespace kivo
