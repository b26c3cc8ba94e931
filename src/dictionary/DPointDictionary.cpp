#include <kivo/dictionary/DPointDictionary.h>

#include <kivo/core/ReentrantReadLocker.h>
#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/dictionary/DPointDef.h>

#include <algorithm>
#include <vector>

namespace kivo {

DPointDictionary::DPointDictionary(QObject* parent)
{
    setParent(parent);
}

DPointDictionary::~DPointDictionary() = default;

void DPointDictionary::addDef(DPointDef* def)
{
    if (!def)
        return;
    // A former parent hears of the departure before the lock is taken; the dictionary's own
    // ChildAdded handling runs under it and may read the dictionary on this thread.
    if (def->parent() != this && def->parent())
        def->setParent(nullptr);
    ReentrantWriteLocker locker(&m_lock);
    m_defs.insert(def->objectName(), def);
    def->setParent(this);
}

namespace {

// A definition to file, with the first 16 UTF-16 code units of its name packed so that comparing
// the words compares the names; most comparisons then never read the name's own memory.
struct SortKey
{
    quint64 words[4] = {};
    int size;
    DPointDef* def;
    QString name;

    SortKey(DPointDef* d, const QString& n)
        : size(int(n.size()))
        , def(d)
        , name(n)
    {
        for (int i = 0; i < qMin(size, 16); ++i)
            words[i / 4] |= quint64(n.at(i).unicode()) << (48 - 16 * (i % 4));
    }

    bool operator<(const SortKey& other) const
    {
        for (int i = 0; i < 4; ++i) {
            if (words[i] != other.words[i])
                return words[i] < other.words[i];
        }
        // The first 16 code units are equal: a name that ends there is the lesser.
        if (size <= 16 || other.size <= 16)
            return size < other.size;
        return name < other.name;
    }
};

} // namespace

void DPointDictionary::addDefs(const QList<DPointDef*>& defs)
{
    std::vector<SortKey> keys;
    keys.reserve(size_t(defs.size()));
    for (DPointDef* def : defs) {
        if (!def)
            continue;
        if (def->parent() != this && def->parent())
            def->setParent(nullptr);
        keys.emplace_back(def, def->objectName());
    }
    // Equal names stay in the given order, so that the last of them is filed.
    std::stable_sort(keys.begin(), keys.end());
    ReentrantWriteLocker locker(&m_lock);
    for (const SortKey& key : keys) {
        // Ascending names go in at the end without a look-up through the index; an equal one
        // replaces the entry.
        if (m_defs.isEmpty() || m_defs.lastKey() < key.name)
            m_defs.insert(m_defs.constEnd(), key.name, key.def);
        else
            m_defs.insert(key.name, key.def);
    }
    for (DPointDef* def : defs) {
        if (def)
            def->setParent(this);
    }
}

int DPointDictionary::removeDef(QString name)
{
    ReentrantWriteLocker locker(&m_lock);
    return m_defs.remove(name);
}

DPointDef* DPointDictionary::getDPointDefByName(QString name)
{
    ReentrantReadLocker locker(&m_lock);
    return m_defs.value(name, nullptr);
}

QList<DPointDef*> DPointDictionary::getAllDefs()
{
    ReentrantReadLocker locker(&m_lock);
    return m_defs.values();
}

} // namespace kivo
