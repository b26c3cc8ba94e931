#include "dictionary/DPointDefFiling_p.h"

#include "core/Prefetch_p.h"

#include <kivo/core/ReentrantWriteLocker.h>
#include <kivo/dictionary/DPointDictionary.h>

#include <algorithm>

namespace kivo {

DPointDefFiling::Key::Key(DPointDef* d, const QString& n, int t)
    : size(int(n.size()))
    , tag(t)
    , def(d)
    , name(n)
{
    const QChar* chars = n.constData();
    for (int i = 0; i < qMin(size, packed); ++i)
        words[i / 4] |= quint64(chars[i].unicode()) << (48 - 16 * (i % 4));
}

bool DPointDefFiling::Key::operator<(const Key& other) const
{
    for (int i = 0; i < packed / 4; ++i) {
        if (words[i] != other.words[i])
            return words[i] < other.words[i];
    }
    // The packed code units are equal: a name that ends there is the lesser.
    if (size <= packed || other.size <= packed)
        return size < other.size;
    return name < other.name;
}

void DPointDefFiling::fileInto(DPointDictionary* dictionary, std::vector<Replacement>* replacements)
{
    // Equal names stay in the order added, so that the last of them is filed.
    std::stable_sort(m_keys.begin(), m_keys.end());
    ReentrantWriteLocker locker(&dictionary->m_lock);
    QMap<QString, DPointDef*>& index = dictionary->m_defs;
    // The key filed last, while the keys go in at the index's end without a look-up.
    Key* last = nullptr;
    const size_t count = m_keys.size();
    for (size_t i = 0; i < count; ++i) {
        // The index takes its own reference to each name: the name's block is asked for ahead.
        if (i + 8 < count)
            prefetchText(m_keys[i + 8].name);
        Key& key = m_keys[i];
        if (last && !(*last < key)) {
            (--index.end()).value() = key.def; // the same name again
            if (replacements)
                replacements->push_back({ key.name, last->tag, key.tag });
        } else if (last || index.isEmpty() || index.lastKey() < key.name) {
            index.insert(index.constEnd(), key.name, key.def);
        } else {
            index.insert(key.name, key.def);
            continue;
        }
        // Released while the name's block is still in the cache.
        if (last)
            last->name = QString();
        last = &key;
    }
    m_keys.clear();
}

} // namespace kivo
