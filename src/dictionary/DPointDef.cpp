#include <kivo/dictionary/DPointDef.h>

#include <kivo/types/DPTypeBase.h>

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
    // The text is built in a buffer kept by the thread and copied out at its exact size: one
    // allocation per call, and none of the slack that growing a text leaves.
    static thread_local QString buffer;
    constexpr int keptCapacity = 16 * 1024;

    buffer.resize(0);
    buffer += QLatin1Char('{');
    if (m_type && !DPTypeJson::appendForDefinition(buffer, *m_type, m_registry)) {
        // A descriptor class of the application's renders through its own toJson, which may
        // run any code, this function included: the buffer is filled again afterwards.
        const QString typeText = m_type->toJson();
        buffer.resize(0);
        buffer += QLatin1Char('{');
        buffer += typeText;
    }
    if (buffer.size() > 1) {
        buffer += QLatin1String(", ");
    }
    definitionTemplate.appendFilled(buffer,
        { m_variableName, m_externalName, m_lineId, m_readable ? readPart : QString(),
            m_writable ? writePart : QString() });
    buffer += QLatin1Char('}');
    QString json(buffer.constData(), buffer.size());
    if (buffer.capacity() > keptCapacity) {
        buffer = QString();
    }
    return json;
}

} // namespace kivo
