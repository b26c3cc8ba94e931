#include <kivo/dictionary/DPointDictionary.h>

#include "dictionary/DPointDefFiling_p.h"

#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
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
    // A former parent hears of the departure before the lock is taken; the dictionary's own
    // ChildAdded handling runs under it and may read the dictionary on this thread.
    if (def->parent() != this && def->parent())
        def->setParent(nullptr);
    ReentrantWriteLocker locker(&m_lock);
    m_defs.insert(def->objectName(), def);
    def->setParent(this);
}

void DPointDictionary::addDefs(const QList<DPointDef*>& defs)
{
    DPointDefFiling filing;
    filing.reserve(defs.size());
    for (DPointDef* def : defs) {
        if (!def)
            continue;
        if (def->parent() != this && def->parent())
            def->setParent(nullptr);
        filing.add(def, def->objectName());
    }
    filing.fileInto(this);
    for (DPointDef* def : defs) {
        if (def)
            def->setParent(this);
    }
}

int DPointDictionary::removeDef(QString name)
{
    ReentrantWriteLocker locker(&m_lock);
    return m_defs.remove(name);
}

DPointDef* DPointDictionary::getDPointDefByName(QString name)
{
    ReentrantReadLocker locker(&m_lock);
    return m_defs.value(name, nullptr);
}

QList<DPointDef*> DPointDictionary::getAllDefs()
{
    ReentrantReadLocker locker(&m_lock);
    return m_defs.values();
}

} // namespace kivo
