#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace kivo {

/// What an element name stands for in the dictionary format; where the element stands decides
/// which of its roles applies.
struct DPDictName
{
    enum Kind : qint8 {
        Text, ///< a text of a VariableDef, a DataItem or a Worksheet (the *Text members)
        VariableDef,
        EnumDef,
        Enum,
        DataItem,
        Worksheet,
        DisplayHints,
        DisplayHint,
        Access,
        AssociatedVariable,
        Unread ///< declared by the format, or a container of the usual layout, never read
    };

    QByteArray latin1;
    QString name;
    Kind kind = Text;
    qint8 childText = -1; ///< the DPDictEntry::Text of such a child of a VariableDef
    qint8 itemText = -1; ///< ... of a DataItem
    qint8 worksheetText = -1; ///< ... of a Worksheet
};

/// The names of the dictionary format in one table: the DPDictLoader constants, and the texts
/// the format fixes without a constant.
class DPDictVocabulary
{
public:
    static const DPDictVocabulary& instance();

    /// The role of an element name; null for a name the format does not know.
    const DPDictName* find(const char* name, int length) const;
    const DPDictName* find(const QString& name) const { return find(name.toUtf8()); }
    const DPDictName* find(const QByteArray& name) const
    {
        return find(name.constData(), name.size());
    }
    /// Every element name the format knows.
    const QStringList& elementNames() const { return m_elementNames; }

    static const QString enumNode; ///< "Enum", a child of EnumDef
    static const QString idAttr; ///< "id" of EnumDef
    static const QString valueAttr; ///< "value" of Enum

private:
    DPDictVocabulary();
    DPDictName& role(const QString& name);

    QVector<QVector<DPDictName>> m_byLength;
    QStringList m_elementNames;
};

} // namespace kivo
