#include <kivo/points/DPointProvider.h>

#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/points/DPointObject.h>

#include <QDebug>
#include <QThread>

namespace kivo {

namespace {

// The lower-cased form of a name as a map key. An ASCII name is lower-cased into this object's
// own buffer and looked up through a raw-data string, without allocating; any other name takes
// QString::toLower. Both give the same text. The key must not outlive the object.
class LowerCaseKey
{
public:
    explicit LowerCaseKey(const QString& name)
    {
        const QChar* c = name.constData();
        const int size = name.size();
        bool ascii = size <= capacity;
        for (int i = 0; ascii && i < size; ++i)
            ascii = c[i].unicode() < 0x80;
        if (!ascii) {
            m_key = name.toLower();
            return;
        }
        for (int i = 0; i < size; ++i) {
            const char16_t unit = c[i].unicode();
            m_text[i] = QChar(unit >= u'A' && unit <= u'Z' ? char16_t(unit + (u'a' - u'A')) : unit);
        }
        m_key = QString::fromRawData(m_text, size);
    }
    LowerCaseKey(const LowerCaseKey&) = delete;
    LowerCaseKey& operator=(const LowerCaseKey&) = delete;

    const QString& key() const { return m_key; }

private:
    static constexpr int capacity = 64;
    QChar m_text[capacity];
    QString m_key;
};

} // namespace

DPointProvider::DPointProvider(QObject* parent)
{
    setParent(parent);
}

DPointProvider::~DPointProvider() = default;

void DPointProvider::start() { }

void DPointProvider::addPoint(DPointObject* point)
{
    if (!point) {
        qCritical("NULL POINT");
        return;
    }
    // Qt parents objects of one thread only, and only an object's own thread may move it.
    if (point->thread() != thread() && point->thread() != QThread::currentThread()) {
        qCritical("Point \"%s\" not registered: it lives in another thread than the provider, "
                  "and only its own thread may move it.",
            qUtf8Printable(point->objectName()));
        return;
    }
    // Leaving a former parent, moving and renaming call out (ChildRemoved, ThreadChange,
    // objectNameChanged), so they happen before the lock is taken. moveToThread refuses an
    // object that has a parent.
    if (point->parent() != this && point->parent())
        point->setParent(nullptr);
    if (point->thread() != thread())
        point->moveToThread(thread());
    const QString name = point->objectName().toLower();
    point->setObjectName(name);
    bool duplicate;
    {
        // Adoption is serialised with other registrations; the provider's own ChildAdded
        // handling runs meanwhile and may look points up on this thread.
        ReentrantWriteLocker locker(&m_lock);
        point->setParent(this);
        duplicate = m_points.contains(name);
        m_points.insert(name, point);
    }
    if (duplicate)
        qDebug() << "Duplicate point name detected.  Point overwritten: " << name;
}

int DPointProvider::removePoint(QString const& name)
{
    ReentrantWriteLocker locker(&m_lock);
    return m_points.remove(name.toLower());
}

void DPointProvider::addDict(DPointDictionary* dict)
{
    if (!dict)
        return;
    ReentrantWriteLocker locker(&m_lock);
    m_dicts.insert(dict->objectName().toLower(), dict);
}

int DPointProvider::removeDict(QString const& name)
{
    ReentrantWriteLocker locker(&m_lock);
    return m_dicts.remove(name.toLower());
}

QList<DPointObject*> DPointProvider::addPointsForDict(DPointDictionary* dict)
{
    QList<DPointObject*> points;
    if (!dict)
        return points;
    addDict(dict);
    const QList<DPointDef*> defs = dict->getAllDefs();
    points.reserve(defs.size());
    for (DPointDef* def : defs) {
        auto* point = new DPointObject;
        point->setObjectName(def->objectName());
        point->setDPointDef(def);
        addPoint(point);
        points.append(point);
    }
    return points;
}

DPointObject* DPointProvider::getDPointByName(QString const& name)
{
    const LowerCaseKey key(name);
    ReentrantReadLocker locker(&m_lock);
    return m_points.value(key.key(), nullptr);
}

DPointDictionary* DPointProvider::getDictByName(const QString& name)
{
    ReentrantReadLocker locker(&m_lock);
    return m_dicts.value(name.toLower(), nullptr);
}

QList<DPointDictionary*> DPointProvider::getAllDicts()
{
    ReentrantReadLocker locker(&m_lock);
    return m_dicts.values();
}

QList<DPointObject*> DPointProvider::getAllPoints()
{
    ReentrantReadLocker locker(&m_lock);
    return m_points.values();
}

void DPointProvider::setConnectStatus(bool connected)
{
    if (connected == m_connected)
        return;
    m_connected = connected;
    Q_EMIT connectStatusChanged(connected);
}

bool DPointProvider::isConnected() const
{
    return m_connected;
}

} // namespace kivo
