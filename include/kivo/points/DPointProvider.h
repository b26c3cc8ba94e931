#pragma once

#include <kivo/core/Namespaceable.h>

#include <QList>
#include <QMap>
#include <QReadWriteLock>
#include <QString>

namespace kivo {

class DPointDictionary;
class DPointObject;

/// Registry of an application's live points and point dictionaries, keyed by lower-cased name,
/// and holder of the connection state. Owns every point ever registered (as QObject children);
/// does not own the dictionaries. Subclasses start data acquisition in start().
// The base is named in full: Qt 6's QML type registrar resolves it by the name written here.
class KIVODPOINTS_EXPORT DPointProvider : public kivo::Namespaceable
{
    Q_OBJECT
public:
    /// An empty provider, disconnected.
    explicit DPointProvider(QObject* parent = nullptr);
    ~DPointProvider() override;

    /// Starts data acquisition; does nothing in this class.
    virtual void start();

    /// Lower-cases, adopts and registers point (replacing its namesake), from any thread: a point
    /// of another thread is first moved to the provider's thread, which only the point's own
    /// thread can do. Refuses, changing nothing, a null point and a point that lives in another
    /// thread than both the provider and the caller. Found by getDPointByName once it returns.
    void addPoint(DPointObject* point);
    /// Unregisters the point registered under name (any case); returns 1, or 0 when none was.
    int removePoint(QString const& name);
    /// Registers dict under its lower-cased object name, replacing any dictionary of that name.
    void addDict(DPointDictionary* dict);
    /// Unregisters the dictionary registered under name (any case); returns 1, or 0 when none was.
    int removeDict(QString const& name);
    /// Registers dict (as addDict) and, for each of its definitions, a new point named after the
    /// definition and assigned it (as addPoint, replacing namesakes); returns the new points in
    /// the dictionary's name order, empty for a null dict.
    QList<DPointObject*> addPointsForDict(DPointDictionary* dict);
    /// The point registered under name (any case); null when there is none.
    DPointObject* getDPointByName(QString const& name);
    /// The dictionary registered under name (any case); null when there is none.
    DPointDictionary* getDictByName(const QString& name);
    /// Every registered dictionary, in ascending order of the lower-cased names.
    QList<DPointDictionary*> getAllDicts();
    /// Every registered point, in ascending order of the lower-cased names.
    QList<DPointObject*> getAllPoints();

    /// Stores the connection state and emits connectStatusChanged when it changes.
    void setConnectStatus(bool connected);
    /// The last connection state stored (false at first).
    bool isConnected() const;

Q_SIGNALS:
    /// The connection state stored by setConnectStatus changed to connected.
    void connectStatusChanged(bool connected);

private:
    QMap<QString, DPointObject*> m_points;
    QMap<QString, DPointDictionary*> m_dicts;
    mutable QReadWriteLock m_lock { QReadWriteLock::Recursive };
    bool m_connected = false;
};

} // namespace kivo
