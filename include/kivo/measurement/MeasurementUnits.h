#pragma once

#include <kivo/kivodpoints_export.h>

#include <QObject>
#include <QString>

namespace kivo {

/// One unit of measure: id, label, the scale from raw value to unit value and the display
/// resolution. Owned by the MeasurementRegistry it is added to.
class KIVODPOINTS_EXPORT MeasurementUnits : public QObject
{
    Q_OBJECT
public:
    /// An empty unit (scale and resolution 1); the loader passes no parent.
    explicit MeasurementUnits(QObject* parent = nullptr);
    ~MeasurementUnits() override;

    /// Sets id, label, scale and resolution; returns this unit.
    virtual MeasurementUnits* _init(
        const QString& id, const QString& label, double scale, double resolution);

    QString m_id; ///< the unit's id, its key in the registry
    QString m_label; ///< the unit's label
    double m_scale = 1.0; ///< the factor from raw value to the unit's value
    double m_resolution = 1.0; ///< the unit's display resolution
};

} // namespace kivo
