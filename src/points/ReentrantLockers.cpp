#include "points/ReentrantLockers_p.h"

#include <QVarLengthArray>

// Qt's locks are not instrumented in a ThreadSanitizer build; these annotations tell the
// sanitizer about every acquire and release so that it sees the ordering the locks provide.
#if defined(__SANITIZE_THREAD__)
#define KIVO_TSAN_LOCKS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIVO_TSAN_LOCKS 1
#endif
#endif

#ifdef KIVO_TSAN_LOCKS
extern "C" {
void AnnotateRWLockAcquired(const char* file, int line, const volatile void* lock, long isWrite);
void AnnotateRWLockReleased(const char* file, int line, const volatile void* lock, long isWrite);
}
#define KIVO_LOCK_ACQUIRED(lock, isWrite) AnnotateRWLockAcquired(__FILE__, __LINE__, lock, isWrite)
#define KIVO_LOCK_RELEASED(lock, isWrite) AnnotateRWLockReleased(__FILE__, __LINE__, lock, isWrite)
#else
#define KIVO_LOCK_ACQUIRED(lock, isWrite) static_cast<void>(lock)
#define KIVO_LOCK_RELEASED(lock, isWrite) static_cast<void>(lock)
#endif

namespace kivo {

namespace {

// One entry per write acquisition still held by this thread, innermost last.
thread_local QVarLengthArray<const QReadWriteLock*, 8> t_writeHeld;

bool heldForWriteByThisThread(const QReadWriteLock* lock)
{
    for (const QReadWriteLock* held : qAsConst(t_writeHeld)) {
        if (held == lock)
            return true;
    }
    return false;
}

void lockForWrite(QReadWriteLock* lock)
{
    lock->lockForWrite();
    KIVO_LOCK_ACQUIRED(lock, 1);
    t_writeHeld.append(lock);
}

void unlockWrite(QReadWriteLock* lock)
{
    for (int i = t_writeHeld.size() - 1; i >= 0; --i) {
        if (t_writeHeld.at(i) == lock) {
            t_writeHeld.remove(i);
            break;
        }
    }
    KIVO_LOCK_RELEASED(lock, 1);
    lock->unlock();
}

} // namespace

ReentrantWriteLocker::ReentrantWriteLocker(QReadWriteLock* lock)
    : m_lock(lock)
{
    if (m_lock)
        lockForWrite(m_lock);
}

void ReentrantWriteLocker::unlock()
{
    if (m_lock) {
        unlockWrite(m_lock);
        m_lock = nullptr;
    }
}

ReentrantReadLocker::ReentrantReadLocker(QReadWriteLock* lock)
    : m_lock(lock)
{
    if (!m_lock)
        return;
    if (heldForWriteByThisThread(m_lock)) {
        m_asWriter = true;
        lockForWrite(m_lock);
    } else {
        m_lock->lockForRead();
        KIVO_LOCK_ACQUIRED(m_lock, 0);
    }
}

void ReentrantReadLocker::unlock()
{
    if (!m_lock)
        return;
    if (m_asWriter) {
        unlockWrite(m_lock);
    } else {
        KIVO_LOCK_RELEASED(m_lock, 0);
        m_lock->unlock();
    }
    m_lock = nullptr;
}

} // namespace kivo
