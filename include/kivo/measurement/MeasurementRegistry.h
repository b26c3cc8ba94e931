#pragma once

#include <kivo/kivodpoints_export.h>

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

namespace kivo {

class MeasurementConversion;
class MeasurementConverter;
class MeasurementUnits;

/// Measurement systems, units, conversions and a cache of converters into the display
/// system "msys.us". Owns its units and conversions (QObject children) and its converters.
/// The caller of the loader owns the registry. All operations are thread-safe.
class KIVODPOINTS_EXPORT MeasurementRegistry : public QObject
{
    Q_OBJECT
public:
    /// An empty registry; the loader passes no parent and hands it to its caller.
    explicit MeasurementRegistry(QObject* parent = nullptr);
    ~MeasurementRegistry() override;

    /// Sets the label of system id, replacing an earlier one.
    void addSystem(const QString& id, const QString& label);
    /// Takes ownership of units; a unit already filed under the same id is deleted later.
    void addUnits(MeasurementUnits* units);
    /// Takes ownership of conversion; one already filed under the same id is deleted later.
    void addConversion(MeasurementConversion* conversion);

    /// The first conversion (by id) applicable from srcId to dstId, else the first applicable
    /// the other way; null when none applies.
    MeasurementConversion* getConversion(const QString& srcId, const QString& dstId) const;
    /// The conversion with that id; null when there is none.
    MeasurementConversion* getConversionById(const QString& id) const;
    /// The converter of unitId into "msys.us", built on first request; never null, owned by
    /// the registry. May be called from several threads at once.
    MeasurementConverter* getConverter(const QString& unitId);

    /// The unit with that id; null when there is none.
    MeasurementUnits* getUnits(const QString& unitId) const;
    /// Ids of all units, in ascending order.
    QStringList getUnitIds() const;
    /// Ids of all conversions, in ascending order.
    QStringList getConversionIds() const;
    /// System id to label.
    QMap<QString, QString> getSystems() const;

    /// The id of the display measurement system.
    static const QString displaySystemId;

private:
    QMap<QString, QString> m_systems;
    QMap<QString, MeasurementUnits*> m_units;
    QMap<QString, MeasurementConversion*> m_conversions;
    QMap<QString, MeasurementConverter*> m_converters;
    mutable QReadWriteLock m_lock { QReadWriteLock::Recursive };
    // Guards m_converters only; never held together with m_lock.
    QMutex m_convertersMutex;
};

} // namespace kivo
