#pragma once

#include <kivo/kivodpoints_export.h>

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

#include <map>

namespace kivo {

class MeasurementConversion;
class MeasurementConverter;
class MeasurementUnits;

/// Measurement systems, units, conversions and a cache of converters into the display system,
/// "msys.us" unless the application chooses another at run time. Owns its units and conversions
/// (QObject children) and its converters. The caller of the loader owns the registry. All
/// operations are thread-safe.
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
    /// The converter of unitId into the current display system, built on first request; never
    /// null, owned by the registry and valid as long as it lives (also after the display system
    /// changes). May be called from several threads at once.
    MeasurementConverter* getConverter(const QString& unitId);

    /// The unit with that id; null when there is none.
    MeasurementUnits* getUnits(const QString& unitId) const;
    /// Ids of all units, in ascending order.
    QStringList getUnitIds() const;
    /// Ids of all conversions, in ascending order.
    QStringList getConversionIds() const;
    /// System id to label.
    QMap<QString, QString> getSystems() const;

    /// The id of the display measurement system a registry starts with, "msys.us".
    static const QString displaySystemId;

    /// The id of the current display measurement system; displaySystemId until changed.
    QString getDisplaySystemId() const;
    /// Makes id (empty: displaySystemId) the display system: getConverter answers with
    /// converters into it from now on, so display texts, limits, JSON and input conversion of
    /// every definition loaded with this registry follow at once. A unit without a conversion
    /// into that system shows in its own scale. Any id is taken, also one no MSystemDef
    /// declares (see getSystems). Emits displaySystemIdChanged when the id changes.
    void setDisplaySystemId(const QString& id);

Q_SIGNALS:
    /// The display system is now id; views of points in display units show them again.
    void displaySystemIdChanged(const QString& id);

private:
    QMap<QString, QString> m_systems;
    QMap<QString, MeasurementUnits*> m_units;
    QMap<QString, MeasurementConversion*> m_conversions;
    mutable QReadWriteLock m_lock { QReadWriteLock::Recursive };
    // The converters built, per display system and unit id; kept for the registry's life, so
    // that a converter handed out before a change of display system stays valid.
    std::map<QString, QMap<QString, MeasurementConverter*>> m_converters;
    // The converters of the current display system, an entry of m_converters.
    QMap<QString, MeasurementConverter*>* m_displayConverters = nullptr;
    QString m_displaySystemId;
    // Guards m_converters, m_displayConverters and m_displaySystemId; never held together
    // with m_lock.
    mutable QMutex m_convertersMutex;
};

} // namespace kivo
