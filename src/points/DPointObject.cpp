#include <kivo/points/DPointObject.h>

#include "points/ReentrantLockers_p.h"

#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/types/DPTypeNumber.h>

#include <QDebug>
#include <QMetaType>
#include <QTimer>

#include <limits>

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
// the number directly, without building and converting a text variant on every change.
bool isSentinel(const QVariant& value)
{
    const int number = value.toInt();
    if (number == -32768 || number == std::numeric_limits<qint32>::min())
        return true;
    if (value.userType() == QMetaType::Int)
        return number == 32768;
    return value == QVariant(DPointObject::errorString);
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
    {
        ReentrantWriteLocker locker(getLock());
        if (topicOn(traceTopic)) {
            qDebug() << "update: " << this << " [" << m_updateCount << "]  old: " << m_currentValue
                     << "  upd: " << value;
        }
        m_pendingValue = value;
        m_pending = true;
    }
    if (autoCommit)
        QTimer::singleShot(100, this, SLOT(deferredCommit()));
    return StatRef();
}

StatRef DPointObject::commitPending()
{
    QVariant committed;
    {
        ReentrantReadLocker locker(getLock());
        if (!m_pending || m_currentValue == m_pendingValue)
            return StatRef();
        if (topicOn(traceTopic)) {
            qDebug() << "commit: " << this << " [" << m_updateCount << "]  old: " << m_currentValue
                     << "  pnd: " << m_pendingValue;
        }
        // Copied under the lock: another thread may replace the request once it is released.
        committed = m_pendingValue;
    }
    setCurrentValue(committed);
    Q_EMIT updatePending();
    return StatRef();
}

StatRef DPointObject::cancelPending()
{
    {
        ReentrantWriteLocker locker(getLock());
        if (!m_pending)
            return StatRef();
        m_pending = false;
        m_pendingValue = QVariant();
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
    bool success;
    {
        ReentrantWriteLocker locker(getLock());
        m_updateStatus.assign(status.m_stat, status.m_next);
        if (topicOn(traceTopic)) {
            qDebug() << "cmplte: " << this << " [" << m_updateCount << "]  old: " << m_currentValue
                     << "  new: " << value;
        }
        m_currentValue = value;
        m_updateCount = nextCount(m_updateCount);
        m_pendingValue = QVariant();
        m_pending = false;
        success = m_updateStatus.m_stat == nullptr;
    }
    Q_EMIT updateCompleted(success);
    Q_EMIT valueChanged(this);
}

void DPointObject::setCurrentValue(QVariant const& value)
{
    {
        ReentrantWriteLocker locker(getLock());
        if (value == m_currentValue)
            return;
        if (m_updateCount != 0 && topicOn(covsTopic)) {
            qDebug() << "change: " << this << " [" << m_updateCount << "]  old: " << m_currentValue
                     << "  new: " << value;
        }
        m_currentValue = value;
        const DPointDef* def = getDPointDef();
        if (def && qobject_cast<const DPTypeNumber*>(def->m_type) && isSentinel(m_currentValue))
            m_currentValue = QVariant();
        m_updateCount = nextCount(m_updateCount);
    }
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
