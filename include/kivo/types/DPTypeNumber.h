#pragma once

#include <kivo/types/DPTypeBase.h>

namespace kivo {

class MeasurementRegistry;

/// Integer point type: raw default, bounds, unit id and units label. Rendered raw, or in
/// display units through a MeasurementRegistry.
class KIVODPOINTS_EXPORT DPTypeNumber : public DPTypeBase
{
    Q_OBJECT
public:
    /// A descriptor without default, bounds 0 and no unit.
    explicit DPTypeNumber(QObject* parent = nullptr);
    ~DPTypeNumber() override;

    /// A copy of the stored default (invalid when the point has none).
    QVariant getDefaultValue() const override;
    /// The raw rendering, toJson(nullptr).
    QString toJson() const override;
    /// Assigns default, bounds, unit id and units label; returns this descriptor.
    virtual DPTypeNumber* _init(
        QVariant defaultValue, int min, int max, const QString& units, const QString& unitsLabel);

    /// The JSON member text; with a registry, bounds, resolution and label in display units
    /// (the default stays raw).
    QString toJson(MeasurementRegistry* registry) const;

    QVariant m_default; ///< the raw default; invalid for none
    int m_min = 0; ///< the raw minimum
    int m_max = 0; ///< the raw maximum
    QString m_units; ///< the unit id in the measurement file
    QString m_unitsLabel; ///< the units label of raw values
};

} // namespace kivo
