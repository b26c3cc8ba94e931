#pragma once

#include <QReadWriteLock>

namespace kivo {

// Scoped lockers for the points' and providers' recursive QReadWriteLocks. A Qt 5 recursive
// QReadWriteLock held for writing blocks a read request from the same thread, yet a point emits
// covEnabled(true) while holding its write lock and a directly connected slot may read the point
// again. Each thread therefore records the locks it holds for writing, and a read request for one
// of them re-enters as a write lock. The record is per lock, not per object, so it stays correct
// when a subclass's getLock() returns a lock shared by several objects. A null lock is no lock.

/// Holds lock for writing until unlock() or destruction.
class ReentrantWriteLocker
{
public:
    explicit ReentrantWriteLocker(QReadWriteLock* lock);
    ~ReentrantWriteLocker() { unlock(); }
    ReentrantWriteLocker(const ReentrantWriteLocker&) = delete;
    ReentrantWriteLocker& operator=(const ReentrantWriteLocker&) = delete;

    void unlock();

private:
    QReadWriteLock* m_lock;
};

/// Holds lock for reading (for writing when this thread already writes it) until unlock() or
/// destruction.
class ReentrantReadLocker
{
public:
    explicit ReentrantReadLocker(QReadWriteLock* lock);
    ~ReentrantReadLocker() { unlock(); }
    ReentrantReadLocker(const ReentrantReadLocker&) = delete;
    ReentrantReadLocker& operator=(const ReentrantReadLocker&) = delete;

    void unlock();

private:
    QReadWriteLock* m_lock;
    bool m_asWriter = false;
};

} // namespace kivo
