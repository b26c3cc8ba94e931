#include <kivo/dictionary/DPointDictionary.h>

#include "core/AnnotatedLockers_p.h"

#include <kivo/dictionary/DPointDef.h>

namespace kivo {

DPointDictionary::DPointDictionary(QObject* parent)
{
    setParent(parent);
}

DPointDictionary::~DPointDictionary() = default;

void DPointDictionary::addDef(DPointDef* def)
{
    if (!def)
        return;
    WriteLocker locker(&m_lock);
    m_defs.insert(def->objectName(), def);
    def->setParent(this);
}

int DPointDictionary::removeDef(QString name)
{
    WriteLocker locker(&m_lock);
    return m_defs.remove(name);
}

DPointDef* DPointDictionary::getDPointDefByName(QString name)
{
    ReadLocker locker(&m_lock);
    return m_defs.value(name, nullptr);
}

QList<DPointDef*> DPointDictionary::getAllDefs()
{
    ReadLocker locker(&m_lock);
    return m_defs.values();
}

} // namespace kivo
