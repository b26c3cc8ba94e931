#include <kivo/dictionary/DPointDictionary.h>

#include <kivo/dictionary/DPointDef.h>

#include <QReadLocker>
#include <QWriteLocker>

namespace kivo {

DPointDictionary::DPointDictionary(QObject* parent)
{
    setParent(parent);
}

DPointDictionary::~DPointDictionary() = default;

void DPointDictionary::addDef(DPointDef* def)
{
    QWriteLocker locker(&m_lock);
    m_defs.insert(def->objectName(), def);
    def->setParent(this);
}

int DPointDictionary::removeDef(QString name)
{
    QWriteLocker locker(&m_lock);
    return m_defs.remove(name);
}

DPointDef* DPointDictionary::getDPointDefByName(QString name)
{
    QReadLocker locker(&m_lock);
    return m_defs.value(name, nullptr);
}

QList<DPointDef*> DPointDictionary::getAllDefs()
{
    QReadLocker locker(&m_lock);
    return m_defs.values();
}

} // namespace kivo
