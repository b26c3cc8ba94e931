#pragma once

#include <kivo/kivodpoints_export.h>

#include <QObject>
#include <QVariant>

namespace kivo {

/// Follower of the points a derived value depends on: emits valueChanged() for every change of
/// any of them. Holds no value; its dependencies exist only as signal connections.
class KIVODPOINTS_EXPORT VirtualDPointObject : public QObject
{
    Q_OBJECT
public:
    /// A follower of no point yet.
    explicit VirtualDPointObject(QObject* parent = nullptr);
    ~VirtualDPointObject() override;

    /// Follows the DPointObject held in dependency; does nothing when it holds none.
    Q_INVOKABLE void addDependency(QVariant dependency);

Q_SIGNALS:
    /// One of the points followed changed its value.
    void valueChanged();
};

} // namespace kivo
