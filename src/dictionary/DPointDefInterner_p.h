#pragma once

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringView>
#include <QVector>

namespace kivo {

// Keeps one copy of each text and each display-hint table that the definitions of one load
// carry, so that equal values share one heap block (Qt's implicit sharing) instead of one per
// definition. Texts are kept at their exact size. A loader makes one for a load and drops it
// at the end; what it handed out lives on in the definitions.
class DPointDefInterner
{
public:
    // The shared copy of text. A null text stays null, an empty one empty (neither allocates).
    QString text(QStringView text);
    QString text(const QString& text);

    // The shared table equal to table, its keys and values shared texts; a table without
    // entries is the null table, which allocates nothing.
    QMap<QString, QString> displayHints(const QMap<QString, QString>& table);

private:
    // Index of the slot that holds text, or of the empty slot where it goes.
    int slotOf(QStringView text, uint hash) const;
    QString insert(int slot, QString kept);

    // Open addressing with linear probing, so that a text can be looked up as a view,
    // without making a QString of it first.
    QVector<QString> m_slots;
    int m_count = 0;
    QMultiHash<uint, QMap<QString, QString>> m_tables;
};

} // namespace kivo
