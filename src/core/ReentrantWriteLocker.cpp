#include <kivo/core/ReentrantWriteLocker.h>

#include "core/AnnotatedLockers_p.h"
#include "core/WriteLockRecord_p.h"

#include <QVarLengthArray>

namespace kivo {

namespace {

// One entry per write acquisition still held by this thread, innermost last.
thread_local QVarLengthArray<const QReadWriteLock*, 8> t_writeHeld;

} // namespace

bool heldForWriteByThisThread(const QReadWriteLock* lock)
{
    for (const QReadWriteLock* held : qAsConst(t_writeHeld)) {
        if (held == lock)
            return true;
    }
    return false;
}

void lockForWriteRecorded(QReadWriteLock* lock)
{
    lock->lockForWrite();
    annotateLockAcquired(lock, true);
    t_writeHeld.append(lock);
}

void unlockWriteRecorded(QReadWriteLock* lock)
{
    for (int i = t_writeHeld.size() - 1; i >= 0; --i) {
        if (t_writeHeld.at(i) == lock) {
            t_writeHeld.remove(i);
            break;
        }
    }
    annotateLockReleased(lock, true);
    lock->unlock();
}

ReentrantWriteLocker::ReentrantWriteLocker(QReadWriteLock* lock)
    : m_lock(lock)
{
    if (m_lock)
        lockForWriteRecorded(m_lock);
}

void ReentrantWriteLocker::unlock()
{
    if (m_lock) {
        unlockWriteRecorded(m_lock);
        m_lock = nullptr;
    }
}

} // namespace kivo
