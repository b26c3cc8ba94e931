#include <kivo/measurement/MeasurementRegistry.h>

#include "core/AnnotatedLockers_p.h"

#include <kivo/measurement/MeasurementConversion.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementUnits.h>

namespace kivo {

const QString MeasurementRegistry::displaySystemId = QStringLiteral("msys.us");

namespace {

// Files object under its id in map and adopts it; a different object under the same id is
// released through the event loop so that pointers handed out earlier stay valid for now.
template<typename T> void fileUnderId(QMap<QString, T*>& map, T* object, QObject* owner)
{
    T*& slot = map[object->m_id];
    if (slot == object)
        return;
    if (slot)
        slot->deleteLater();
    slot = object;
    object->setParent(owner);
}

} // namespace

MeasurementRegistry::MeasurementRegistry(QObject* parent)
    : QObject(parent)
    , m_displayConverters(&m_converters[displaySystemId])
    , m_displaySystemId(displaySystemId)
{ }

MeasurementRegistry::~MeasurementRegistry()
{
    for (const auto& system : m_converters)
        qDeleteAll(system.second);
}

void MeasurementRegistry::addSystem(const QString& id, const QString& label)
{
    WriteLocker locker(&m_lock);
    m_systems.insert(id, label);
}

void MeasurementRegistry::addUnits(MeasurementUnits* units)
{
    if (!units)
        return;
    WriteLocker locker(&m_lock);
    fileUnderId(m_units, units, this);
}

void MeasurementRegistry::addConversion(MeasurementConversion* conversion)
{
    if (!conversion)
        return;
    WriteLocker locker(&m_lock);
    fileUnderId(m_conversions, conversion, this);
}

MeasurementConversion* MeasurementRegistry::getConversion(
    const QString& srcId, const QString& dstId) const
{
    ReadLocker locker(&m_lock);
    for (MeasurementConversion* conversion : m_conversions) {
        if (conversion->isApplicable(srcId, dstId))
            return conversion;
    }
    for (MeasurementConversion* conversion : m_conversions) {
        if (conversion->isApplicable(dstId, srcId))
            return conversion;
    }
    return nullptr;
}

MeasurementConversion* MeasurementRegistry::getConversionById(const QString& id) const
{
    ReadLocker locker(&m_lock);
    return m_conversions.value(id, nullptr);
}

MeasurementConverter* MeasurementRegistry::getConverter(const QString& unitId)
{
    QString systemId;
    {
        MutexLocker locker(&m_convertersMutex);
        if (MeasurementConverter* cached = m_displayConverters->value(unitId, nullptr))
            return cached;
        systemId = m_displaySystemId;
    }

    // Built without holding m_convertersMutex: getConversion takes m_lock, and the two locks
    // are never held together. Concurrent first requests may build twice; the first stored wins.
    MeasurementConversion* conversion = getConversion(unitId, systemId);
    double unitScale = 1.0;
    double unitResolution = 1.0;
    {
        ReadLocker locker(&m_lock);
        if (const MeasurementUnits* units = m_units.value(unitId, nullptr)) {
            unitScale = units->m_scale;
            unitResolution = units->m_resolution;
        }
    }

    auto* built = new MeasurementConverter();
    if (!conversion) {
        built->_init(unitScale, 1.0, 0, unitResolution, QString());
    } else {
        double resolution = 0.0;
        for (const MeasurementConversion::ApplicableDef& def : conversion->m_applicableDefs) {
            if (def.srcUnitId == unitId && def.dstUnitId == systemId) {
                resolution = def.resolution;
                break;
            }
        }
        built->_init(
            unitScale, conversion->m_scale, conversion->m_offset, resolution, conversion->m_label);
    }

    // Filed under the system it was built for, which a change meanwhile leaves untouched.
    MeasurementConverter* stored = nullptr;
    {
        MutexLocker locker(&m_convertersMutex);
        MeasurementConverter*& slot = m_converters[systemId][unitId];
        if (!slot)
            slot = built;
        stored = slot;
    }
    if (stored != built)
        delete built;
    return stored;
}

QString MeasurementRegistry::getDisplaySystemId() const
{
    MutexLocker locker(&m_convertersMutex);
    return m_displaySystemId;
}

void MeasurementRegistry::setDisplaySystemId(const QString& id)
{
    const QString systemId = id.isEmpty() ? displaySystemId : id;
    // The previous id is released after the lock, by the inline destructor: a reader may still
    // hold a copy, and the reference count that decides who frees it is then counted in code a
    // thread sanitizer sees (Qt's out-of-line assignment is not instrumented).
    QString previous = systemId;
    {
        MutexLocker locker(&m_convertersMutex);
        if (systemId == m_displaySystemId)
            return;
        m_displaySystemId.swap(previous);
        m_displayConverters = &m_converters[systemId];
    }
    Q_EMIT displaySystemIdChanged(systemId);
}

MeasurementUnits* MeasurementRegistry::getUnits(const QString& unitId) const
{
    ReadLocker locker(&m_lock);
    return m_units.value(unitId, nullptr);
}

QStringList MeasurementRegistry::getUnitIds() const
{
    ReadLocker locker(&m_lock);
    return m_units.keys();
}

QStringList MeasurementRegistry::getConversionIds() const
{
    ReadLocker locker(&m_lock);
    return m_conversions.keys();
}

QMap<QString, QString> MeasurementRegistry::getSystems() const
{
    ReadLocker locker(&m_lock);
    return m_systems;
}

} // namespace kivo
