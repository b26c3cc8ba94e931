#include <kivo/points/DPointObject.h>

#include "core/Qt5Values_p.h"

#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/types/DPTypeNumber.h>

#include <QDebug>
#include <QMetaObject>
#include <QMetaType>
#include <QThread>
#include <QTimer>

#include <limits>
#include <utility>

namespace kivo {

const QString DPointObject::errorString = QStringLiteral("32768");

namespace {

constexpr int covsTopic = 4;
constexpr int traceTopic = 5;

inline bool topicOn(int id)
{
    return id < TopicLogger::m_maxTopics && TopicLogger::m_topics[id];
}

// Queued valueChanged(DPointObject*) across threads needs the type registered before any
// connection is made, so it is registered when the library is loaded.
const int dpointObjectMetaTypeId = qRegisterMetaType<DPointObject*>();

inline quint32 nextCount(quint32 count)
{
    return count == std::numeric_limits<quint32>::max() ? 1u : count + 1u;
}

// The sentinel readings of an integer point. Comparing an int QVariant with the text "32768"
// converts the text to int and compares the numbers, so for an int the comparison is made on
// the number directly, without building and converting a text variant on every change. Other
// types compare as Qt 5 compares variants: the text converted to the value's type.
// Whether value may be a sentinel, without converting it: an int is one only with the three
// sentinel numbers.
bool maybeSentinel(const QVariant& value)
{
    if (value.userType() != QMetaType::Int)
        return true;
    const int number = *static_cast<const int*>(value.constData());
    return number == -32768 || number == 32768 || number == std::numeric_limits<qint32>::min();
}

bool isSentinel(const QVariant& value)
{
    if (value.userType() == QMetaType::Int) {
        const int number = *static_cast<const int*>(value.constData());
        return number == -32768 || number == 32768 || number == std::numeric_limits<qint32>::min();
    }
    const int number = Qt5Values::toInt(value);
    if (number == -32768 || number == std::numeric_limits<qint32>::min())
        return true;
    return Qt5Values::variantsEqual(value, QVariant(DPointObject::errorString));
}

} // namespace

DPointObject::DPointObject(QObject* parent)
{
    setParent(parent);
}

DPointObject::~DPointObject() = default;

QVariant DPointObject::getCurrentValue()
{
    {
        ReentrantReadLocker locker(getLock());
        if (m_covCount != 0)
            return m_currentValue;
    }
    ReentrantWriteLocker locker(getLock());
    if (m_covCount == 0) {
        ++m_covCount;
        if (m_covCount == 1)
            doCovEnable(true);
    }
    return m_currentValue;
}

QVariant DPointObject::getPendingValue()
{
    ReentrantReadLocker locker(getLock());
    return m_pendingValue;
}

StatRef DPointObject::setUpdatePending(QVariant const& value, bool autoCommit)
{
    // The replaced request and the traced values are destroyed, and the trace is written, only
    // after the lock is released: neither a value's destructor nor a message handler runs
    // under it.
    QVariant replaced;
    QVariant traceOld;
    quint32 traceCount = 0;
    const bool trace = topicOn(traceTopic);
    {
        ReentrantWriteLocker locker(getLock());
        if (trace) {
            traceCount = m_updateCount;
            traceOld = m_currentValue;
        }
        replaced.swap(m_pendingValue);
        m_pendingValue = value;
        m_pending = true;
    }
    if (trace)
        qDebug() << "update: " << this << " [" << traceCount << "]  old: " << traceOld
                 << "  upd: " << value;
    if (autoCommit) {
        // The timer runs in the point's thread, so the commit comes whether or not the calling
        // thread runs an event loop.
        if (QThread::currentThread() == thread()) {
            QTimer::singleShot(100, this, SLOT(deferredCommit()));
        } else {
            QMetaObject::invokeMethod(
                this, [this] { QTimer::singleShot(100, this, SLOT(deferredCommit())); },
                Qt::QueuedConnection);
        }
    }
    return StatRef();
}

StatRef DPointObject::commitPending()
{
    QVariant committed;
    QVariant traceOld;
    quint32 traceCount = 0;
    const bool trace = topicOn(traceTopic);
    {
        ReentrantReadLocker locker(getLock());
        if (!m_pending || Qt5Values::variantsEqual(m_currentValue, m_pendingValue))
            return StatRef();
        if (trace) {
            traceCount = m_updateCount;
            traceOld = m_currentValue;
        }
        // Copied under the lock: another thread may replace the request once it is released.
        committed = m_pendingValue;
    }
    if (trace)
        qDebug() << "commit: " << this << " [" << traceCount << "]  old: " << traceOld
                 << "  pnd: " << committed;
    setCurrentValue(committed);
    Q_EMIT updatePending();
    return StatRef();
}

StatRef DPointObject::cancelPending()
{
    QVariant dropped; // destroyed after the lock is released
    {
        ReentrantWriteLocker locker(getLock());
        if (!m_pending)
            return StatRef();
        m_pending = false;
        dropped.swap(m_pendingValue);
    }
    Q_EMIT updatePending();
    return StatRef();
}

StatRef DPointObject::getUpdateStatus()
{
    ReentrantReadLocker locker(getLock());
    return StatRef(m_updateStatus);
}

bool DPointObject::isAvailable()
{
    ReentrantReadLocker locker(getLock());
    return m_updateCount != 0;
}

bool DPointObject::isPending()
{
    ReentrantReadLocker locker(getLock());
    return m_pending;
}

void DPointObject::setUpdateComplete(QVariant const& value, StatRef const& status)
{
    // What the point lets go of (the previous status with its chain, the previous value and
    // request) is destroyed after the lock is released: a status is a QObject whose destroyed()
    // runs connected code, and a value may carry a type with a destructor of its own.
    StatRef previousStatus;
    QVariant previousValue;
    QVariant previousRequest;
    quint32 traceCount = 0;
    const bool trace = topicOn(traceTopic);
    bool success;
    {
        ReentrantWriteLocker locker(getLock());
        std::swap(previousStatus.m_stat, m_updateStatus.m_stat);
        std::swap(previousStatus.m_next, m_updateStatus.m_next);
        m_updateStatus.assign(status.m_stat, status.m_next);
        traceCount = m_updateCount;
        previousValue.swap(m_currentValue);
        m_currentValue = value;
        m_updateCount = nextCount(m_updateCount);
        previousRequest.swap(m_pendingValue);
        m_pending = false;
        success = m_updateStatus.m_stat == nullptr;
    }
    if (trace)
        qDebug() << "cmplte: " << this << " [" << traceCount << "]  old: " << previousValue
                 << "  new: " << value;
    Q_EMIT updateCompleted(success);
    Q_EMIT valueChanged(this);
}

void DPointObject::setCurrentValue(QVariant const& value)
{
    QVariant previous; // destroyed after the lock is released
    quint32 traceCount = 0;
    bool trace;
    {
        ReentrantWriteLocker locker(getLock());
        if (Qt5Values::variantsEqual(value, m_currentValue))
            return;
        trace = m_updateCount != 0 && topicOn(covsTopic);
        traceCount = m_updateCount;
        previous.swap(m_currentValue);
        const DPointDef* def = getDPointDef();
        if (!def || !maybeSentinel(value) || !qobject_cast<const DPTypeNumber*>(def->m_type)
            || !isSentinel(value))
            m_currentValue = value;
        m_updateCount = nextCount(m_updateCount);
    }
    if (trace)
        qDebug() << "change: " << this << " [" << traceCount << "]  old: " << previous
                 << "  new: " << value;
    Q_EMIT valueChanged(this);
}

void DPointObject::doCovEnable(bool enable)
{
    Q_EMIT covEnabled(enable);
}

QReadWriteLock* DPointObject::getLock() const
{
    return &m_lock;
}

bool DPointObject::show()
{
    return getCurrentValue().toString() != QLatin1String("0");
}

bool DPointObject::showThisVar()
{
    const DPointDef* def = getDPointDef();
    if (!def)
        return true;
    const QString showVar = def->property("ShowVar").toString();
    if (showVar.isEmpty())
        return true;
    auto* provider = qobject_cast<DPointProvider*>(parent());
    if (!provider)
        return true;
    DPointObject* controller = provider->getDPointByName(showVar);
    return controller ? controller->show() : true;
}

void DPointObject::setDPointDef(DPointDef* def)
{
    m_dpointDef.store(def, std::memory_order_release);
}

DPointDef* DPointObject::getDPointDef() const
{
    return m_dpointDef.load(std::memory_order_acquire);
}

void DPointObject::deferredCommit()
{
    commitPending();
}

} // namespace kivo
