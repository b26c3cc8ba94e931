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
        QString srcUnitId;
        QString dstUnitId;
        double resolution = 0.0;
    };

    explicit MeasurementConversion(QObject* parent = nullptr);
    ~MeasurementConversion() override;

    /// Sets id, label, scale and offset; returns this conversion.
    virtual MeasurementConversion* _init(
        const QString& id, const QString& label, const double& scale, int offset);

    /// Appends one applicability entry; equal entries may coexist.
    void addApplicableDefs(const QString& srcUnitId, const QString& dstUnitId, double resolution);
    /// Whether some entry runs exactly from srcUnitId to dstUnitId (case-sensitive, directional).
    bool isApplicable(const QString& srcUnitId, const QString& dstUnitId) const;

    QString m_id;
    QString m_label;
    double m_scale = 0.0;
    int m_offset = 0;
    QVector<ApplicableDef> m_applicableDefs;
};

} // namespace kivo

Q_DECLARE_TYPEINFO(kivo::MeasurementConversion::ApplicableDef, Q_MOVABLE_TYPE);
