#pragma once

#include <kivo/core/Namespaceable.h>

#include <QMap>
#include <QMetaType>
#include <QString>

namespace kivo {

class DPTypeBase;
class MeasurementRegistry;

/// Static description of one data point: names, line id, PXC id, access rights and type.
/// Owns its type descriptor (a QObject child); owned by the dictionary that adopted it.
/// Dynamic properties set by the loader: "DisplayHints" (QMap<QString,QString>), "Worksheet",
/// and, when the dictionary gives them, "LargeDisplay" and "ShowVar".
class KIVODPOINTS_EXPORT DPointDef : public Namespaceable
{
    Q_OBJECT
public:
    explicit DPointDef(QObject* parent = nullptr);
    ~DPointDef() override;

    /// Sets the object name to name and stores the other fields; returns this definition.
    /// type is stored as given; the caller makes it a child of the definition.
    virtual DPointDef* _init(const QString& name, const QString& variableName,
        const QString& externalName, const QString& lineId, int pxcId, const DPTypeBase* type);

    /// The definition as one JSON object text: the type's members, then "variableName",
    /// "externalName", "lineId" and "access". Integer types render in display units when the
    /// definition has a registry. Values are inserted unescaped.
    Q_INVOKABLE QString getTypeJson() const;

    QString m_variableName;
    QString m_externalName;
    QString m_lineId;
    int m_pxcId = 0;
    bool m_readable = false;
    bool m_writable = false;
    const DPTypeBase* m_type = nullptr;
    MeasurementRegistry* m_registry = nullptr;
};

} // namespace kivo
