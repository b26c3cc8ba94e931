#pragma once

#include "dictionary/DPointDefFiling_p.h"

#include <kivo/kivodpoints_export.h>

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVarLengthArray>
#include <QVector>

namespace kivo {

class DPTypeBase;
class DPTypeEnum;
class DPointDef;
class DPointDictionary;
class MeasurementRegistry;

/// What the loader reads from one VariableDef, as a DOM reading gives it: element texts as
/// QDomElement::text() (null for a missing element), attribute texts as
/// QDomElement::attribute() (null for a missing attribute).
struct KIVODPOINTS_EXPORT DPDictEntry
{
    /// Texts of the VariableDef's children, of its Worksheet's and of its DataItem's.
    enum Text {
        ExternalName,
        LineId,
        PxcId,
        LargeDisplay,
        ShowVar,
        EventId,
        Description,
        Explanation,
        WorksheetName,
        WorksheetLineId,
        RawDefault,
        Min,
        Max,
        Units,
        UnitsLabel,
        EnumDefId,
        Default,
        CharRegex,
        Format,
        MaxLength,
        Epoch,
        EventType,
        AckType,
        ResetType,
        TextCount
    };
    /// The element a text is read from: a child of the VariableDef (ExternalName to
    /// Explanation), of its Worksheet (WorksheetName, WorksheetLineId) or of its DataItem.
    static const QString& elementName(int text);

    struct Hint
    {
        QString group;
        QString row;
    };
    struct Associated
    {
        QString type;
        QString names;
        QString changeable;
    };

    QString variableName;
    QString type; ///< "type" of the DataItem
    QString eventChangeable; ///< "changeable" of the DataItem's EventType
    QString texts[TextCount];
    QVarLengthArray<Hint, 4> hints; ///< the DisplayHint descendants, in document order
    QVarLengthArray<Associated, 2> associated; ///< the AssociatedVariable descendants
    bool readable = false; ///< the text of an Access descendant is "R"
    bool writable = false; ///< the text of an Access descendant is "W"
};

/// One EnumDef: its "id", and per "Enum" child the integer of its "value" and its text.
struct DPDictEnumDef
{
    QString id;
    QVector<QPair<int, QString>> items;
};

/// Turns the entries and EnumDefs a reader finds, in document order, into one new dictionary.
/// Owns the dictionary until takeDictionary.
class KIVODPOINTS_EXPORT DPDictBuilder
{
public:
    explicit DPDictBuilder(MeasurementRegistry* registry);
    ~DPDictBuilder();
    DPDictBuilder(const DPDictBuilder&) = delete;
    DPDictBuilder& operator=(const DPDictBuilder&) = delete;

    /// Adds the definition entry describes, unless the format skips the entry.
    void addEntry(const DPDictEntry& entry);
    void addEnumDef(const DPDictEnumDef& enumDef) { m_enumDefs.append(enumDef); }
    /// The dictionary, named dictName, its enumeration types filled in from the EnumDefs; the
    /// caller owns it.
    DPointDictionary* takeDictionary(const QString& dictName);
    const QVector<DPDictEnumDef>& enumDefs() const { return m_enumDefs; }
    /// A new definition without parent built from entry, owning type.
    DPointDef* createDefinition(const DPDictEntry& entry, DPTypeBase& type);

private:
    struct PendingEnum
    {
        DPTypeEnum* type;
        QString enumDefId;
        QString rawDefault;
    };

    QString intern(const QString& text);
    DPTypeBase* createType(const DPDictEntry& entry);

    MeasurementRegistry* m_registry;
    DPointDictionary* m_dictionary = nullptr;
    DPointDefFiling m_filing; // children of m_dictionary, to be filed in it
    // Texts shared between definitions.
    QSet<QString> m_texts;
    // Enumeration types, filled in once every EnumDef is known: one may follow its points.
    QVector<PendingEnum> m_pendingEnums;
    QVector<DPDictEnumDef> m_enumDefs;
};

} // namespace kivo
