#pragma once

#include <kivo/core/Namespaceable.h>

#include <QList>
#include <QMap>
#include <QReadWriteLock>
#include <QString>

namespace kivo {

class DPointDef;

/// The point definitions read from one dictionary file, filed by exact (case-sensitive) name.
/// Owns every definition ever added as a QObject child. The loader's caller owns the dictionary.
class KIVODPOINTS_EXPORT DPointDictionary : public Namespaceable
{
    Q_OBJECT
public:
    /// An empty dictionary; the loader names it and passes no parent.
    explicit DPointDictionary(QObject* parent = nullptr);
    ~DPointDictionary() override;

    /// Files def under its object name (replacing the entry, not the object) and adopts it;
    /// a null def changes nothing.
    void addDef(DPointDef* def);
    /// Files and adopts each of defs as addDef does, in order (of equal names the last is
    /// filed). Many definitions go in at a fraction of the cost of one addDef each: they are
    /// sorted once instead of each looked up in the index.
    void addDefs(const QList<DPointDef*>& defs);
    /// Unfiles the definition named exactly name; returns the number removed (0 or 1).
    /// The definition stays a child.
    int removeDef(QString name);
    /// The definition filed under exactly name; null when there is none.
    DPointDef* getDPointDefByName(QString name);
    /// All filed definitions in ascending name order (by UTF-16 code units).
    QList<DPointDef*> getAllDefs();

private:
    friend class DPointDefFiling;

    QMap<QString, DPointDef*> m_defs;
    mutable QReadWriteLock m_lock { QReadWriteLock::Recursive };
};

} // namespace kivo
