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
    explicit MeasurementUnits(QObject* parent = nullptr);
    ~MeasurementUnits() override;

    /// Sets id, label, scale and resolution; returns this unit.
    virtual MeasurementUnits* _init(
        const QString& id, const QString& label, double scale, double resolution);

    QString m_id;
    QString m_label;
    double m_scale = 1.0;
    double m_resolution = 1.0;
};

} // namespace kivo
