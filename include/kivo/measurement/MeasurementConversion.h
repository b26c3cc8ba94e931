#pragma once

#include <kivo/kivodpoints_export.h>

#include <QObject>
#include <QString>
#include <QVector>

namespace kivo {

/// A conversion between units (value * scale + offset) with the units label of converted
/// values and the (source, destination) pairs it applies to. Owned by its MeasurementRegistry.
class KIVODPOINTS_EXPORT MeasurementConversion : public QObject
{
    Q_OBJECT
public:
    /// One applicability entry: the conversion is used from srcUnitId to dstUnitId.
    struct ApplicableDef
    {
        QString srcUnitId; ///< the source unit id
        QString dstUnitId; ///< the destination: a unit id or a measurement system id
        double resolution = 0.0; ///< the display resolution from this source to that destination
    };

    /// An empty conversion; the loader passes no parent and adds it to a registry.
    explicit MeasurementConversion(QObject* parent = nullptr);
    ~MeasurementConversion() override;

    /// Sets id, label, scale and offset; returns this conversion.
    virtual MeasurementConversion* _init(
        const QString& id, const QString& label, const double& scale, int offset);

    /// Appends one applicability entry; equal entries may coexist.
    void addApplicableDefs(const QString& srcUnitId, const QString& dstUnitId, double resolution);
    /// Whether some entry runs exactly from srcUnitId to dstUnitId (case-sensitive, directional).
    bool isApplicable(const QString& srcUnitId, const QString& dstUnitId) const;

    QString m_id; ///< the conversion's id, its key in the registry
    QString m_label; ///< the units label of converted values
    double m_scale = 0.0; ///< the multiplier
    int m_offset = 0; ///< the addend
    QVector<ApplicableDef> m_applicableDefs; ///< the applicability entries, in the order added
};

} // namespace kivo

Q_DECLARE_TYPEINFO(kivo::MeasurementConversion::ApplicableDef, Q_MOVABLE_TYPE);
