#pragma once

#include <kivo/core/Namespaceable.h>
#include <kivo/core/StatRef.h>

#include <QReadWriteLock>
#include <QString>
#include <QVariant>

#include <atomic>

namespace kivo {

class DPointDef;

/// The live value of one data point and its update cycle (pending, commit, complete).
/// Usually owned by the DPointProvider that registered it; the definition is not owned.
/// Every operation may be called from any thread; the automatic commit runs in the point's
/// thread, whose event loop must run.
class KIVODPOINTS_EXPORT DPointObject : public Namespaceable
{
    Q_OBJECT
public:
    /// A point without definition or value; DPointProvider::addPoint adopts it.
    explicit DPointObject(QObject* parent = nullptr);
    ~DPointObject() override;

    /// The integer sentinel text "32768" that makes an integer point's value invalid.
    static const QString errorString;

    /// A copy of the current value, invalid before the first; the first call emits covEnabled.
    virtual QVariant getCurrentValue();
    /// A copy of the requested value; invalid when no write is pending.
    virtual QVariant getPendingValue();
    /// Requests a write of value; with autoCommit, committed 100 ms later in the point's thread
    /// whatever thread asks. Returns an empty StatRef.
    virtual StatRef setUpdatePending(QVariant const& value, bool autoCommit = true);
    /// Makes the requested value current (none pending or equal: no-op); an empty StatRef.
    virtual StatRef commitPending();
    /// Drops the requested write (no-op when none is pending); an empty StatRef.
    virtual StatRef cancelPending();
    /// A copy of the status of the last completed write; empty (success) before the first one.
    virtual StatRef getUpdateStatus();
    /// Whether the point has ever had a value.
    virtual bool isAvailable();
    /// Whether a write has been requested and has not completed or been cancelled.
    virtual bool isPending();
    /// Stores the outcome of a write, ends the request, emits updateCompleted and valueChanged.
    virtual void setUpdateComplete(QVariant const& value, StatRef const& status);
    /// Stores a reported value and emits valueChanged when it differs from the current one.
    virtual void setCurrentValue(QVariant const& value);
    /// Emits covEnabled(enable).
    virtual void doCovEnable(bool enable);
    /// The lock guarding the point's state; null means the point runs unlocked.
    /// The point takes it only through ReentrantReadLocker and ReentrantWriteLocker. A thread
    /// holding it through a ReentrantWriteLocker may call every operation of the point (and of
    /// any point sharing the lock); one holding it through a ReentrantReadLocker may call only
    /// getPendingValue, getUpdateStatus, isAvailable, isPending, and getCurrentValue and show
    /// after the point's first read. Held for writing by other means (a QWriteLocker), it makes
    /// every read operation of the point deadlock on that thread. Signals emitted meanwhile reach
    /// directly connected slots while the caller still holds the lock.
    virtual QReadWriteLock* getLock() const;

    /// False exactly when the current value's text is "0".
    bool show();
    /// The show() of the point that "ShowVar" names in the parent provider; true when none.
    bool showThisVar();

    /// Assigns the point's definition (not owned; it must outlive the point).
    void setDPointDef(DPointDef* def);
    /// The point's definition; null when none was assigned.
    DPointDef* getDPointDef() const;

Q_SIGNALS:
    /// The current value changed (objectThatChanged is this point).
    void valueChanged(DPointObject* objectThatChanged);
    /// A requested value was committed: the device side takes getPendingValue() to the device.
    void updatePending();
    /// The device side answered a write (setUpdateComplete); success when its status is empty.
    void updateCompleted(bool success);
    /// The device side is to report the point's changes (enable true, at the first read) or may
    /// stop (doCovEnable(false)).
    void covEnabled(bool enable);

protected Q_SLOTS:
    /// Commits the requested value (the automatic commit of setUpdatePending).
    void deferredCommit();

private:
    bool m_pending = false;
    QVariant m_currentValue;
    QVariant m_pendingValue;
    StatRef m_updateStatus;

protected:
    /// Counts value changes; 0 only before the first value, wraps from 4294967295 to 1.
    quint32 m_updateCount = 0;

private:
    qint32 m_covCount = 0;
    std::atomic<DPointDef*> m_dpointDef { nullptr };
    mutable QReadWriteLock m_lock { QReadWriteLock::Recursive };
};

} // namespace kivo
