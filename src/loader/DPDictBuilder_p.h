#pragma once

#include "dictionary/DPointDefFiling_p.h"

#include <kivo/core/LoadFinding.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVarLengthArray>
#include <QVector>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace kivo {

class DPTypeBase;
class DPTypeEnum;
class DPointDef;
class DPointDictionary;
class MeasurementRegistry;

/// Where a reading's events come from, as far as the rules need to know: the element just
/// started, and the lines of the places it marked.
class DPDictSource
{
public:
    virtual ~DPDictSource();
    /// The attribute of the element just started as QDomElement::attribute gives it: null when
    /// missing, otherwise never null.
    virtual QString attribute(const QString& name) const = 0;
    virtual int attributeCount() const = 0;
    virtual QString attributeName(int index) const = 0;
    /// Whether the element just started has no attribute but those named in known.
    virtual bool hasOnlyAttributes(std::initializer_list<const QString*> known) const = 0;
    /// A place in the document that lineAt turns into a line: the end of the start tag of the
    /// element just started.
    virtual qint64 mark() const = 0;
    /// The line of mark (the first line is 1; 0 when unknown); marks of the entry being read and
    /// of later places are always known.
    virtual int lineAt(qint64 mark) const = 0;
    /// Keeps the lines of mark and of the places after it known until keepFrom(-1): the
    /// reading of an entry asks for them when the entry ends.
    virtual void keepFrom(qint64 mark) { Q_UNUSED(mark); }
};

/// QString::simplified, without a copy when the text is simplified already.
QString simplifiedText(const QString& text);

/// What the loader reads from one VariableDef, as a DOM reading gives it: element texts as
/// QDomElement::text() (null for a missing element), attribute texts as
/// QDomElement::attribute() (null for a missing attribute).
struct DPDictEntry
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

    // Where the parts were read, as DPDictSource marks; -1 for a part that is missing.
    qint64 mark = -1; ///< of the VariableDef
    qint64 dataItemMark = -1;
    qint64 showVarMark = -1;
    qint64 marks[TextCount];
    QVarLengthArray<qint64, 2> associatedMarks;
    /// A comment beginning "Skipped:" stands right before the VariableDef.
    bool skipIntended = false;

    DPDictEntry() { std::fill(std::begin(marks), std::end(marks), qint64(-1)); }
};

/// One EnumDef: its "id", and per "Enum" child the integer of its "value" and its text.
struct DPDictEnumDef
{
    QString id;
    QVector<QPair<int, QString>> items;
};

/// Turns the entries and EnumDefs a reader finds, in document order, into one new dictionary.
/// Owns the dictionary until takeDictionary.
class DPDictBuilder
{
public:
    explicit DPDictBuilder(MeasurementRegistry* registry);
    ~DPDictBuilder();
    DPDictBuilder(const DPDictBuilder&) = delete;
    DPDictBuilder& operator=(const DPDictBuilder&) = delete;

    /// Adds the definition entry describes, unless the format skips the entry, and the findings
    /// about it; source gives the lines of entry's marks.
    void addEntry(const DPDictEntry& entry, const DPDictSource& source);
    void addEnumDef(const DPDictEnumDef& enumDef) { m_enumDefs.append(enumDef); }
    /// The dictionary, named dictName, its enumeration types filled in from the EnumDefs; the
    /// caller owns it. The findings are complete then.
    DPointDictionary* takeDictionary(const QString& dictName);
    const QVector<DPDictEnumDef>& enumDefs() const { return m_enumDefs; }
    /// A new definition without parent built from entry, owning type.
    DPointDef* createDefinition(const DPDictEntry& entry, DPTypeBase& type);

    /// Records a finding (without file name) at line.
    void addFinding(int line, LoadFinding::Severity severity, const QString& text);
    /// The findings so far, in the order found, their file names empty.
    const QVector<LoadFinding>& findings() const { return m_findings; }
    /// The ShowVar and AssociatedVariable names of the points added, for checks across files.
    const QVector<DPDictLoader::PointReference>& references() const { return m_references; }
    /// The entries the format skipped.
    int skippedCount() const { return m_skippedCount; }

private:
    struct PendingEnum
    {
        DPTypeEnum* type;
        QString enumDefId;
        QString rawDefault;
        int line; // of the VariableDef
        int defaultLine;
        int idLine;
    };
    // A definition whose JSON text may be broken by a text it takes as it stands.
    struct JsonSuspect
    {
        DPointDef* def;
        int line;
    };

    QString intern(const QString& text);
    DPTypeBase* createType(const DPDictEntry& entry, const DPDictFormat::Selection& selection);
    // The findings about an entry, its definition, and the whole load (DPDictChecks.cpp).
    void checkName(const DPDictEntry& entry, int line);
    void reportSkip(const DPDictEntry& entry, const DPDictSource& source,
        DPDictFormat::SkipReason reason, int line);
    void checkEntry(const DPDictEntry& entry, const DPDictSource& source,
        const DPDictFormat::Selection& selection, DPointDef* def, int line);
    void checkUnits(const QString& unit, const QString& name, const DPDictSource& source,
        qint64 mark, bool integer);
    void checkEnum(const PendingEnum& pending, const QHash<int, QString>& table);
    void finishChecks();

    QVector<LoadFinding> m_findings;
    int m_skippedCount = 0;
    QVector<DPDictLoader::PointReference> m_references;
    QVector<JsonSuspect> m_jsonSuspects;
    std::vector<DPointDefFiling::Replacement> m_replacements;
    QSet<QString> m_enumDefIds; // of the EnumDefs, for the enumeration checks
    QHash<QString, int> m_unitProblems; // per unit id, the UnitProblem bits found

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
