#pragma once

// Everything a dictionary load produces, as one text in which a null text reads "null" and any
// other text is quoted: two loads agree exactly when their descriptions are equal.

#include "loader/DPDictBuilder_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QDateTime>
#include <QStringList>

namespace kivo::test {

inline QString q(const QString& text)
{
    return text.isNull() ? QStringLiteral("null") : QLatin1Char('"') + text + QLatin1Char('"');
}

inline QString q(const QVariant& value)
{
    return QString::fromLatin1(value.typeName()) + QLatin1Char(':')
        + (value.userType() == QMetaType::QString ? q(value.toString()) : value.toString());
}

inline QStringList typeFields(const DPTypeBase* type)
{
    QStringList f { QString::fromLatin1(type->metaObject()->className()), type->toJson() };
    const auto measured
        = [&f](const auto* t) { f << q(t->m_default) << q(t->m_units) << q(t->m_unitsLabel); };
    if (const auto* t = qobject_cast<const DPTypeString*>(type)) {
        f << q(t->m_default) << q(t->m_charSet) << q(t->m_format);
    } else if (const auto* t = qobject_cast<const DPTypeNumber*>(type)) {
        measured(t);
    } else if (const auto* t = qobject_cast<const DPTypeReal*>(type)) {
        measured(t);
    } else if (const auto* t = qobject_cast<const DPTypeTime*>(type)) {
        f << QString::number(t->m_default);
    } else if (const auto* t = qobject_cast<const DPTypeEvent*>(type)) {
        f << q(t->m_description) << q(t->m_explanation) << QString::number(t->m_changeable);
        for (auto it = t->m_associatedVariables.cbegin(); it != t->m_associatedVariables.cend();
             ++it)
            f << q(it.key()) + '=' + q(it.value()->names) + QString::number(it.value()->changeable);
    } else if (const auto* t = qobject_cast<const DPTypeEnum*>(type)) {
        QStringList values;
        for (auto it = t->m_values.cbegin(); it != t->m_values.cend(); ++it)
            values << QString::number(it.key()) + '=' + q(it.value());
        values.sort();
        f += values;
    }
    return f;
}

// One definition as one line of fields.
inline QString describeDef(const DPointDef* def)
{
    QStringList f { q(def->objectName()), q(def->m_variableName), q(def->m_externalName),
        q(def->m_lineId), QString::number(def->m_pxcId), QString::number(def->m_readable),
        QString::number(def->m_writable), QString::number(def->m_registry != nullptr),
        def->getTypeJson() };
    f += typeFields(def->m_type);
    for (const QByteArray& name : def->dynamicPropertyNames()) {
        const QVariant value = def->property(name.constData());
        f << QString::fromLatin1(name) + '=' + q(value);
        const auto hints = value.value<QMap<QString, QString>>();
        for (auto it = hints.cbegin(); it != hints.cend(); ++it)
            f << q(it.key()) + '=' + q(it.value());
    }
    QString line = f.join(QLatin1Char('|'));
    // A default taken at the moment of loading may differ between two loads by a second.
    const auto* time = qobject_cast<const DPTypeTime*>(def->m_type);
    if (time && qAbs(QDateTime::currentSecsSinceEpoch() - time->m_default) < 60)
        line.replace(QString::number(time->m_default), QStringLiteral("now"));
    return line;
}

// The findings of a builder, one per line, in line order.
inline QString describeFindings(const QVector<LoadFinding>& findings)
{
    QStringList lines;
    for (const LoadFinding& finding : sortedByLine(findings))
        lines << finding.toString();
    return lines.join(QLatin1Char('\n'));
}

inline QString describeLoad(DPointDictionary* dictionary, const QVector<DPDictEnumDef>& enumDefs)
{
    QStringList lines { q(dictionary->objectName()) };
    // Every definition ever added, in order (a later one of a name replaces the earlier one in
    // the look-up, and both stay children of the dictionary).
    for (const QObject* child : dictionary->children())
        lines << describeDef(qobject_cast<const DPointDef*>(child));
    for (const DPDictEnumDef& enumDef : enumDefs) {
        lines << QStringLiteral("EnumDef ") + q(enumDef.id);
        for (const auto& item : enumDef.items)
            lines << QString::number(item.first) + '=' + q(item.second);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace kivo::test
