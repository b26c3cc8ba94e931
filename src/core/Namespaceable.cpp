#include <kivo/core/Namespaceable.h>

#include <QReadLocker>

namespace kivo {

namespace {

// Same visiting order as QObject::findChild with Qt::FindChildrenRecursively: all direct
// children first, then each child's subtree. Written out so that a null name (no filter) and
// an empty name (matches unnamed objects) keep their distinct meanings whatever toLower returns.
QObject* findDescendant(const QObject* parent, const QString& name, bool anyName)
{
    const QObjectList& children = parent->children();
    for (QObject* child : children) {
        if (anyName || child->objectName() == name) {
            return child;
        }
    }
    for (QObject* child : children) {
        if (QObject* found = findDescendant(child, name, anyName)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

Namespaceable::Namespaceable()
    : QObject(nullptr)
{ }

Namespaceable::~Namespaceable()
{
    delete m_namespaceLock.load(std::memory_order_acquire);
}

QReadWriteLock* Namespaceable::getNamespaceLock() const
{
    QReadWriteLock* lock = m_namespaceLock.load(std::memory_order_acquire);
    if (Q_LIKELY(lock)) {
        return lock;
    }
    // Several threads may get here at once: one lock wins, the others are discarded.
    auto* created = new QReadWriteLock(QReadWriteLock::Recursive);
    if (m_namespaceLock.compare_exchange_strong(
            lock, created, std::memory_order_acq_rel, std::memory_order_acquire)) {
        return created;
    }
    delete created;
    return lock;
}

QObject* Namespaceable::getNamespaceItem(const QString& name) const
{
    QReadLocker locker(getNamespaceLock());
    if (name.isNull()) {
        return findDescendant(this, QString(), true);
    }
    return findDescendant(this, name.toLower(), false);
}

QObject* Namespaceable::getNamespaceIndex(int index) const
{
    QReadLocker locker(getNamespaceLock());
    const QObjectList& items = children();
    if (index < 0 || index >= items.size()) {
        return nullptr;
    }
    return items.at(index);
}

int Namespaceable::getNamespaceSize() const
{
    return children().size();
}

QStringList Namespaceable::getNamespaceNames() const
{
    QReadLocker locker(getNamespaceLock());
    QStringList names;
    for (const QObject* child : children()) {
        const QString name = child->objectName();
        if (!name.isEmpty()) {
            names.append(name);
        }
    }
    return names;
}

int Namespaceable::getPropertyCount()
{
    return dynamicPropertyNames().size();
}

QString Namespaceable::getPropertyName(int i)
{
    const QList<QByteArray> names = dynamicPropertyNames();
    if (i < 0 || i >= names.size()) {
        return QString();
    }
    return QString::fromUtf8(names.at(i));
}

QVariant Namespaceable::getProperty(QByteArray name)
{
    return property(name.constData());
}

} // namespace kivo
