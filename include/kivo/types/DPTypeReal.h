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
    double getMinNumber() const;
    double getMaxNumber() const;
    const QString& getUnits() const;
    const QString& getUnitsLabel() const;
    void setUnits(QString& units);
    void setUnitsLabel(QString& label);

    /// The JSON member text; with a registry, bounds, resolution and label in display units.
    QString toJson(MeasurementRegistry* registry) const;

    QVariant m_default;
    double m_min = qSNaN();
    double m_max = qSNaN();
    QString m_units;
    QString m_unitsLabel;
    mutable bool m_resultState = false;
};

} // namespace kivo
