#pragma once

#include <QString>

#include <vector>

namespace kivo {

class DPointDef;
class DPointDictionary;

/// Definitions on their way into a dictionary's name index: added one at a time, then filed
/// all at once, sorted, as DPointDictionary::addDefs files them. A creator that adds each
/// definition while it is still in the cache, with the name it just gave it, spares the filing
/// a walk over objects long evicted, which costs a large dictionary more per definition than a
/// small one.
class DPointDefFiling
{
public:
    void reserve(int count) { m_keys.reserve(size_t(count)); }
    /// A definition that a later one of the same name replaced in the index, by their tags.
    struct Replacement
    {
        QString name;
        int replacedTag;
        int tag;
    };

    /// name is def's object name; tag is the caller's, handed back in replacements.
    void add(DPointDef* def, const QString& name, int tag = 0)
    {
        m_keys.emplace_back(def, name, tag);
    }
    /// Files every added definition in dictionary's index, in the order added (of equal names
    /// the last is filed), without adopting any; then holds none. With replacements, appends one
    /// record per definition that a later one replaced.
    void fileInto(DPointDictionary* dictionary, std::vector<Replacement>* replacements = nullptr);

private:
    // The first 24 UTF-16 code units of the name packed so that comparing the words compares
    // the names; most comparisons then never read the name's own memory.
    struct Key
    {
        static constexpr int packed = 24;

        Key(DPointDef* d, const QString& n, int t);
        bool operator<(const Key& other) const;

        quint64 words[packed / 4] = {};
        int size;
        int tag; // in the padding before def
        DPointDef* def;
        QString name;
    };

    std::vector<Key> m_keys;
};

} // namespace kivo
