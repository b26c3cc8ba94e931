#pragma once

#include <kivo/kivodpoints_export.h>

#include <QObject>
#include <QString>
#include <QVariant>

namespace kivo {

/// Turns raw values of one unit into display values of the display system and back.
/// Built and owned by a MeasurementRegistry; immutable after _init, so const calls may run
/// in several threads at once.
class KIVODPOINTS_EXPORT MeasurementConverter : public QObject
{
    Q_OBJECT
public:
    /// An empty converter; registries build them (see MeasurementRegistry::getConverter).
    explicit MeasurementConverter(QObject* parent = nullptr);
    ~MeasurementConverter() override;

    /// Sets unit scale, conversion scale, offset, resolution and label; returns this converter.
    virtual MeasurementConverter* _init(
        double unitScale, double scale, int offset, double resolution, QString label);

    /// Display text of a raw value, in display units at the display resolution.
    QString toString(QVariant value) const;
    /// Raw value of a display value (the inverse arithmetic of toString, without rounding).
    double fromValue(QVariant value) const;

    /// The source unit's scale (raw value to unit value).
    double getUnitScale() const { return m_unitScale; }
    /// The conversion's multiplier.
    double getScale() const { return m_scale; }
    /// The conversion's addend.
    int getOffset() const { return m_offset; }

    double m_resolution = 0.0; ///< the display resolution

private:
    double m_unitScale = 0.0;
    double m_scale = 0.0;
    int m_offset = 0;

public:
    QString m_label; ///< the units label of display values
};

} // namespace kivo
