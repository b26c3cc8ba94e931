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
    /// An empty definition; the loaders pass no parent and file it with a dictionary.
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

    QString m_variableName; ///< the point's name; JSON "variableName"
    QString m_externalName; ///< the name shown to people; JSON "externalName"
    QString m_lineId; ///< the line id text; JSON "lineId"
    int m_pxcId = 0; ///< the point's PXC identifier
    bool m_readable = false; ///< read right; JSON "access" R
    bool m_writable = false; ///< write right; JSON "access" W
    const DPTypeBase* m_type = nullptr; ///< the type descriptor, a child of the definition
    /// The registry that renders integer types in display units (not owned); null for none.
    MeasurementRegistry* m_registry = nullptr;
};

} // namespace kivo
