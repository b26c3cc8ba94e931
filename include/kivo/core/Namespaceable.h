#pragma once

#include <kivo/kivodpoints_export.h>

#include <QByteArray>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <atomic>

namespace kivo {

/// Base of the library's named objects: the object's QObject children form its namespace,
/// each known by its objectName. Children are owned as QObject children.
class KIVODPOINTS_EXPORT Namespaceable : public QObject
{
    Q_OBJECT
public:
    /// Constructs an object without parent; concrete subclasses set the parent last.
    Namespaceable();
    ~Namespaceable() override;

    /// The first descendant (direct children first) whose objectName equals name lower-cased;
    /// null when none does. A null name matches the first direct child.
    virtual QObject* getNamespaceItem(const QString& name) const;
    /// The direct child at index in adoption order; null when index is out of range.
    virtual QObject* getNamespaceIndex(int index) const;
    /// Number of direct children, named or not.
    virtual int getNamespaceSize() const;
    /// Names of the direct children that have a non-empty objectName, in child order.
    virtual QStringList getNamespaceNames() const;

    /// Number of dynamic properties.
    Q_INVOKABLE int getPropertyCount();
    /// Name of dynamic property i; an empty string when i is out of range.
    Q_INVOKABLE QString getPropertyName(int i);
    /// Value of the declared or dynamic property name; invalid when there is none.
    Q_INVOKABLE QVariant getProperty(QByteArray name);

Q_SIGNALS:
    /// The set of children changed; emitted by subclasses that announce it (none in this library).
    void namespaceInventoryChanged();

protected:
    /// The recursive lock that guards the namespace reads, created on first use (once, also when
    /// several threads ask at the same time); never null.
    QReadWriteLock* getNamespaceLock() const;

    /// The lock of getNamespaceLock; null until first asked for.
    // Most named objects (a dictionary's definitions above all) are never locked after loading,
    // and a recursive QReadWriteLock costs about 300 heap bytes; so it is made when needed.
    mutable std::atomic<QReadWriteLock*> m_namespaceLock { nullptr };
};

} // namespace kivo
