#pragma once

#include <QObject>
#include <QReadLocker>
#include <QReadWriteLock>
#include <QVariant>
#include <QWriteLocker>

namespace kivo {
namespace bench {

/// The least a locked, notifying value holder does: a recursive read-write lock, a QVariant
/// compared and assigned under the write lock, one signal emitted after it. The floor of the
/// point benchmarks.
class FloorPoint : public QObject
{
    Q_OBJECT
public:
    void setValue(const QVariant& value)
    {
        {
            QWriteLocker locker(&m_lock);
            if (value == m_value)
                return;
            m_value = value;
        }
        Q_EMIT valueChanged(this);
    }

    QVariant value()
    {
        QReadLocker locker(&m_lock);
        return m_value;
    }

Q_SIGNALS:
    void valueChanged(kivo::bench::FloorPoint* point);

private:
    QReadWriteLock m_lock { QReadWriteLock::Recursive };
    QVariant m_value;
};

/// Counts the notifications it receives through a direct connection.
class ChangeCounter : public QObject
{
    Q_OBJECT
public:
    quint64 count() const { return m_count; }

public Q_SLOTS:
    void onChanged() { ++m_count; }

private:
    quint64 m_count = 0;
};

} // namespace bench
} // namespace kivo
