#include <kivo/core/ReentrantReadLocker.h>

#include "core/AnnotatedLockers_p.h"
#include "core/WriteLockRecord_p.h"

namespace kivo {

ReentrantReadLocker::ReentrantReadLocker(QReadWriteLock* lock)
    : m_lock(lock)
{
    if (!m_lock)
        return;
    if (heldForWriteByThisThread(m_lock)) {
        m_asWriter = true;
        lockForWriteRecorded(m_lock);
    } else {
        m_lock->lockForRead();
        annotateLockAcquired(m_lock, false);
    }
}

void ReentrantReadLocker::unlock()
{
    if (!m_lock)
        return;
    if (m_asWriter) {
        unlockWriteRecorded(m_lock);
    } else {
        annotateLockReleased(m_lock, false);
        m_lock->unlock();
    }
    m_lock = nullptr;
}

} // namespace kivo
