#pragma once

#include <kivo/types/DPTypeBase.h>

#include <QtNumeric>

namespace kivo {

class MeasurementRegistry;

/// Real (floating-point) point type: default (kept as loaded, often text), bounds, unit id and
/// units label. Rendered raw, or in display units through a MeasurementRegistry.
class KIVODPOINTS_EXPORT DPTypeReal : public DPTypeBase
{
    Q_OBJECT
public:
    /// A descriptor without default, bounds NaN and no unit.
    explicit DPTypeReal(QObject* parent = nullptr);
    ~DPTypeReal() override;

    /// A copy of the stored default, unconverted.
    QVariant getDefaultValue() const override;
    /// The raw rendering, toJson(nullptr).
    QString toJson() const override;
    /// Assigns default, bounds, unit id and units label; returns this descriptor.
    virtual DPTypeReal* _init(const QVariant& defaultValue, double min, double max,
        const QString& units, const QString& unitsLabel);

    /// The default as a number; NaN when it does not convert (see getResultState).
    double getDefaultNumber() const;
    /// Whether the last conversion of the default to a number succeeded.
    bool getResultState() const;
    /// The minimum (m_min).
    double getMinNumber() const;
    /// The maximum (m_max).
    double getMaxNumber() const;
    /// The unit id (m_units).
    const QString& getUnits() const;
    /// The units label (m_unitsLabel).
    const QString& getUnitsLabel() const;
    /// Sets the unit id; not synchronised with renderings in other threads.
    void setUnits(QString& units);
    /// Sets the units label; not synchronised with renderings in other threads.
    void setUnitsLabel(QString& label);

    /// The JSON member text; with a registry, bounds, resolution and label in display units.
    QString toJson(MeasurementRegistry* registry) const;

    QVariant m_default; ///< the default as loaded, often text; invalid for none
    double m_min = qSNaN(); ///< the minimum; NaN for none
    double m_max = qSNaN(); ///< the maximum; NaN for none
    QString m_units; ///< the unit id in the measurement file
    QString m_unitsLabel; ///< the units label; JSON "unitsLabel"
    mutable bool m_resultState = false; ///< see getResultState
};

} // namespace kivo
