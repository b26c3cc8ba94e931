#pragma once

#include <kivo/kivodpoints_export.h>

#include <QReadWriteLock>

namespace kivo {

/// Scoped read lock that re-enters a lock this thread already holds through a
/// ReentrantWriteLocker (taking it for writing once more) instead of deadlocking. A thread that
/// holds a lock for reading must not ask for it for writing: Qt's lock cannot upgrade, and that
/// request deadlocks. A null lock is no lock.
class KIVODPOINTS_EXPORT ReentrantReadLocker
{
public:
    /// Locks lock for reading, or for writing when this thread writes it already (nothing when
    /// lock is null), until unlock() or destruction.
    explicit ReentrantReadLocker(QReadWriteLock* lock);
    ~ReentrantReadLocker() { unlock(); }
    ReentrantReadLocker(const ReentrantReadLocker&) = delete;
    ReentrantReadLocker& operator=(const ReentrantReadLocker&) = delete;

    /// Releases the lock early; does nothing the second time.
    void unlock();

private:
    QReadWriteLock* m_lock;
    bool m_asWriter = false;
};

} // namespace kivo
