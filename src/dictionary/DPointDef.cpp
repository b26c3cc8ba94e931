#include <kivo/dictionary/DPointDef.h>

#include <kivo/types/DPTypeBase.h>
#include <kivo/types/DPTypeNumber.h>

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
    static const QString definitionTemplate
        = QStringLiteral("\"variableName\":\"%1\", \"externalName\":\"%2\", \"lineId\":\"%3\", "
                         "\"access\":\"%4%5\"");
    static const QString readPart = QStringLiteral("R");
    static const QString writePart = QStringLiteral("W");

    QString typeText;
    if (m_type) {
        // Only integer types render in display units here; reals always render raw.
        if (const auto* number = qobject_cast<const DPTypeNumber*>(m_type)) {
            typeText = number->toJson(m_registry);
        } else {
            typeText = m_type->toJson();
        }
    }
    if (!typeText.isEmpty()) {
        typeText += QLatin1String(", ");
    }
    const QString members = definitionTemplate.arg(m_variableName)
                                .arg(m_externalName)
                                .arg(m_lineId)
                                .arg(m_readable ? readPart : QString())
                                .arg(m_writable ? writePart : QString());
    return QLatin1Char('{') + typeText + members + QLatin1Char('}');
}

} // namespace kivo
