#include <kivo/points/DPointProvider.h>

#include "points/ReentrantLockers_p.h"

#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/points/DPointObject.h>

#include <QDebug>

namespace kivo {

DPointProvider::DPointProvider(QObject* parent)
{
    setParent(parent);
}

DPointProvider::~DPointProvider() = default;

void DPointProvider::start() { }

void DPointProvider::addPoint(DPointObject* point)
{
    if (!point) {
        qCritical("NULL POINT");
        return;
    }
    // Renaming and adoption may call out (objectNameChanged, ChildAdded); the re-entrant locker
    // lets such callers look points up on this thread.
    ReentrantWriteLocker locker(&m_lock);
    const QString name = point->objectName().toLower();
    point->setObjectName(name);
    point->setParent(this);
    if (m_points.contains(name))
        qDebug() << "Duplicate point name detected.  Point overwritten: " << name;
    m_points.insert(name, point);
}

int DPointProvider::removePoint(QString const& name)
{
    ReentrantWriteLocker locker(&m_lock);
    return m_points.remove(name.toLower());
}

void DPointProvider::addDict(DPointDictionary* dict)
{
    if (!dict)
        return;
    ReentrantWriteLocker locker(&m_lock);
    m_dicts.insert(dict->objectName().toLower(), dict);
}

int DPointProvider::removeDict(QString const& name)
{
    ReentrantWriteLocker locker(&m_lock);
    return m_dicts.remove(name.toLower());
}

DPointObject* DPointProvider::getDPointByName(QString const& name)
{
    ReentrantReadLocker locker(&m_lock);
    return m_points.value(name.toLower(), nullptr);
}

DPointDictionary* DPointProvider::getDictByName(const QString& name)
{
    ReentrantReadLocker locker(&m_lock);
    return m_dicts.value(name.toLower(), nullptr);
}

QList<DPointDictionary*> DPointProvider::getAllDicts()
{
    ReentrantReadLocker locker(&m_lock);
    return m_dicts.values();
}

void DPointProvider::setConnectStatus(bool connected)
{
    if (connected == m_connected)
        return;
    m_connected = connected;
    Q_EMIT connectStatusChanged(connected);
}

bool DPointProvider::isConnected() const
{
    return m_connected;
}

} // namespace kivo
