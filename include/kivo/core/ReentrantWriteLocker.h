#pragma once

#include <kivo/kivodpoints_export.h>

#include <QReadWriteLock>

namespace kivo {

/// Scoped write lock that lets this thread read what it writes: while a thread holds a lock
/// through a ReentrantWriteLocker, a ReentrantReadLocker on that lock in the same thread
/// re-enters it instead of deadlocking (a Qt recursive QReadWriteLock held for writing blocks a
/// read by its own writer). The library takes the locks of its points, providers and
/// dictionaries only through these two classes; a subclass or caller that holds such a lock,
/// DPointObject::getLock() for instance, takes it the same way so that it may call the object's
/// operations meanwhile. A null lock is no lock.
class KIVODPOINTS_EXPORT ReentrantWriteLocker
{
public:
    /// Locks lock for writing (nothing when lock is null) until unlock() or destruction.
    explicit ReentrantWriteLocker(QReadWriteLock* lock);
    ~ReentrantWriteLocker() { unlock(); }
    ReentrantWriteLocker(const ReentrantWriteLocker&) = delete;
    ReentrantWriteLocker& operator=(const ReentrantWriteLocker&) = delete;

    /// Releases the lock early; does nothing the second time.
    void unlock();

private:
    QReadWriteLock* m_lock;
};

} // namespace kivo
