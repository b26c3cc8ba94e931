#include "dictionary/DPointDefInterner_p.h"

namespace kivo {

namespace {

constexpr int initialSlots = 1024;

} // namespace

int DPointDefInterner::slotOf(QStringView text, uint hash) const
{
    const int mask = m_slots.size() - 1;
    int slot = int(hash) & mask;
    // The slots are never full (see insert), so the probe ends.
    while (!m_slots.at(slot).isNull() && QStringView(m_slots.at(slot)) != text) {
        slot = (slot + 1) & mask;
    }
    return slot;
}

QString DPointDefInterner::insert(int slot, QString kept)
{
    m_slots[slot] = kept;
    // At most half full: short probes, and always an empty slot to end one.
    if (++m_count * 2 > m_slots.size()) {
        const QVector<QString> old = std::move(m_slots);
        m_slots = QVector<QString>(old.size() * 2);
        for (const QString& text : old) {
            if (!text.isNull()) {
                m_slots[slotOf(text, qHash(QStringView(text)))] = text;
            }
        }
    }
    return kept;
}

QString DPointDefInterner::text(QStringView text)
{
    if (text.isEmpty()) {
        return text.isNull() ? QString() : QString(QLatin1String(""));
    }
    if (m_slots.isEmpty()) {
        m_slots.resize(initialSlots);
    }
    const int slot = slotOf(text, qHash(text));
    if (!m_slots.at(slot).isNull()) {
        return m_slots.at(slot);
    }
    return insert(slot, text.toString());
}

QString DPointDefInterner::text(const QString& text)
{
    if (text.isEmpty()) {
        return text;
    }
    if (m_slots.isEmpty()) {
        m_slots.resize(initialSlots);
    }
    const int slot = slotOf(text, qHash(QStringView(text)));
    if (!m_slots.at(slot).isNull()) {
        return m_slots.at(slot);
    }
    // A text read from a document often sits in a larger block; the kept copy has a block of
    // its own size. (Static and raw texts report no capacity and are copied as well.)
    const bool exact = text.capacity() == text.size();
    return insert(slot, exact ? text : QString(text.constData(), text.size()));
}

QMap<QString, QString> DPointDefInterner::displayHints(const QMap<QString, QString>& table)
{
    if (table.isEmpty()) {
        return QMap<QString, QString>();
    }
    uint hash = 0;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        hash = 31 * hash + qHash(it.key());
        hash = 31 * hash + qHash(it.value());
    }
    for (auto it = m_tables.constFind(hash); it != m_tables.cend() && it.key() == hash; ++it) {
        if (it.value() == table) {
            return it.value();
        }
    }
    QMap<QString, QString> kept;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        kept.insert(text(it.key()), text(it.value()));
    }
    m_tables.insert(hash, kept);
    return kept;
}

} // namespace kivo
