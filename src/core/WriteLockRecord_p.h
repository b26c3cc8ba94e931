#pragma once

#include <QReadWriteLock>

namespace kivo {

// The per-thread record of the locks a thread holds through ReentrantWriteLocker (and through a
// ReentrantReadLocker that re-entered as a writer). The record is per lock, not per object, so
// it stays right when a subclass's getLock() returns a lock shared by several objects.

/// Whether this thread holds lock through a recorded write acquisition.
bool heldForWriteByThisThread(const QReadWriteLock* lock);
/// Locks lock for writing and records it for this thread.
void lockForWriteRecorded(QReadWriteLock* lock);
/// Drops the innermost record of lock for this thread and releases one write acquisition.
void unlockWriteRecorded(QReadWriteLock* lock);

} // namespace kivo
