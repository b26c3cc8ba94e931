#pragma once

#include "core/QtShims_p.h"

#include <QMutex>
#include <QMutexLocker>
#include <QReadLocker>
#include <QReadWriteLock>
#include <QWriteLocker>

// Scoped lockers for the library's QReadWriteLocks and QMutexes. Qt is not built with
// ThreadSanitizer, whose builds therefore see no ordering between threads that meet at a Qt lock
// and report every access it guards as a race; in such a build these lockers also tell the
// sanitizer about each acquire and release. In every other build they are Qt's own lockers.

#if defined(__SANITIZE_THREAD__)
#define KIVO_ANNOTATE_LOCKS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIVO_ANNOTATE_LOCKS 1
#endif
#endif

#ifdef KIVO_ANNOTATE_LOCKS
extern "C" {
void AnnotateRWLockAcquired(const char* file, int line, const volatile void* lock, long isWrite);
void AnnotateRWLockReleased(const char* file, int line, const volatile void* lock, long isWrite);
}
#endif

namespace kivo {

// Tells a ThreadSanitizer build that lock was acquired or is about to be released; nothing in
// any other build. For lockers of Qt locks that the library writes itself.
inline void annotateLockAcquired(const void* lock, bool isWrite)
{
#ifdef KIVO_ANNOTATE_LOCKS
    AnnotateRWLockAcquired(__FILE__, __LINE__, lock, isWrite ? 1 : 0);
#else
    static_cast<void>(lock);
    static_cast<void>(isWrite);
#endif
}

inline void annotateLockReleased(const void* lock, bool isWrite)
{
#ifdef KIVO_ANNOTATE_LOCKS
    AnnotateRWLockReleased(__FILE__, __LINE__, lock, isWrite ? 1 : 0);
#else
    static_cast<void>(lock);
    static_cast<void>(isWrite);
#endif
}

#ifdef KIVO_ANNOTATE_LOCKS

template<typename Lock, void (Lock::*Acquire)(), long IsWrite> class AnnotatedLocker
{
public:
    explicit AnnotatedLocker(Lock* lock)
        : m_lock(lock)
    {
        (m_lock->*Acquire)();
        annotateLockAcquired(m_lock, IsWrite != 0);
    }
    ~AnnotatedLocker()
    {
        annotateLockReleased(m_lock, IsWrite != 0);
        m_lock->unlock();
    }
    AnnotatedLocker(const AnnotatedLocker&) = delete;
    AnnotatedLocker& operator=(const AnnotatedLocker&) = delete;

private:
    Lock* m_lock;
};

using ReadLocker = AnnotatedLocker<QReadWriteLock, &QReadWriteLock::lockForRead, 0>;
using WriteLocker = AnnotatedLocker<QReadWriteLock, &QReadWriteLock::lockForWrite, 1>;
using MutexLocker = AnnotatedLocker<QMutex, &QMutex::lock, 1>;

#else

using ReadLocker = QReadLocker;
using WriteLocker = QWriteLocker;
using MutexLocker = QtShims::MutexLocker;

#endif

} // namespace kivo
