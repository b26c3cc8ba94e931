#include <kivo/core/ReentrantWriteLocker.h>

#include "core/AnnotatedLockers_p.h"
#include "core/WriteLockRecord_p.h"

#include <QVector>

namespace kivo {

namespace {

// One entry per write acquisition still held by this thread, innermost last. Every read and
// write of a point passes here, so the first entries live in a record without constructor or
// destructor, which a thread reaches with one TLS look-up and no initialisation guard; only
// nesting deeper than that goes on to a growable array.
constexpr int inlineRecords = 16;

struct WriteRecords
{
    const QReadWriteLock* inlined[inlineRecords];
    int count;
};

// The initial-exec model reaches the record with one instruction instead of a call to
// __tls_get_addr per function; it takes 132 bytes of the static TLS block, which the C library
// keeps spare for libraries loaded later, so the library may still be loaded with dlopen.
#if defined(__GNUC__) && defined(__ELF__)
__attribute__((tls_model("initial-exec")))
#endif
thread_local WriteRecords t_writeHeld
    = {};
thread_local QVector<const QReadWriteLock*> t_writeHeldDeeper; // entries past inlineRecords

// The rare paths, out of line, so that the usual ones touch nothing but t_writeHeld.
const QReadWriteLock*& recordAt(WriteRecords& records, int i)
{
    return i < inlineRecords ? records.inlined[i] : t_writeHeldDeeper[i - inlineRecords];
}

Q_NEVER_INLINE bool heldDeeper(const QReadWriteLock* lock)
{
    return t_writeHeldDeeper.contains(lock);
}

Q_NEVER_INLINE void appendDeeper(const QReadWriteLock* lock)
{
    t_writeHeldDeeper.append(lock);
}

// Drops the innermost record of lock; the records above it move down one place.
Q_NEVER_INLINE void dropRecord(WriteRecords& records, const QReadWriteLock* lock)
{
    for (int i = records.count - 1; i >= 0; --i) {
        if (recordAt(records, i) == lock) {
            for (int j = i + 1; j < records.count; ++j)
                recordAt(records, j - 1) = recordAt(records, j);
            --records.count;
            if (records.count >= inlineRecords)
                t_writeHeldDeeper.removeLast();
            return;
        }
    }
}

} // namespace

bool heldForWriteByThisThread(const QReadWriteLock* lock)
{
    const WriteRecords& records = t_writeHeld;
    const int inlined = qMin(records.count, inlineRecords);
    for (int i = 0; i < inlined; ++i) {
        if (records.inlined[i] == lock)
            return true;
    }
    return records.count > inlineRecords && heldDeeper(lock);
}

void lockForWriteRecorded(QReadWriteLock* lock)
{
    lock->lockForWrite();
    annotateLockAcquired(lock, true);
    WriteRecords& records = t_writeHeld;
    if (records.count < inlineRecords)
        records.inlined[records.count] = lock;
    else
        appendDeeper(lock);
    ++records.count;
}

void unlockWriteRecorded(QReadWriteLock* lock)
{
    WriteRecords& records = t_writeHeld;
    const int top = records.count - 1;
    if (top >= 0 && top < inlineRecords && records.inlined[top] == lock)
        records.count = top; // the usual case: the innermost record
    else
        dropRecord(records, lock);
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
