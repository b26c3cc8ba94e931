#pragma once

#include <kivo/core/LoadFinding.h>
#include <kivo/dictionary/DictRef.h>
#include <kivo/kivodpoints_export.h>

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QHash>
#include <QString>
#include <QThread>
#include <QVector>

namespace kivo {

class DPTypeBase;
class DPointDef;
struct DPDictEnumDef;
class DPointDictionary;
class MeasurementRegistry;

/// Reads one point dictionary file into a new DPointDictionary, synchronously on the caller's
/// thread; the caller owns what load returns. The registry is not owned. A QThread only by
/// descent: its thread body loads nothing and reports that it is obsolete.
class KIVODPOINTS_EXPORT DPDictLoader : public QThread
{
    Q_OBJECT
public:
    /// A point name that a ShowVar or AssociatedVariable text of a loaded point refers to.
    struct PointReference
    {
        QString point; ///< the referring point
        QString element; ///< "ShowVar" or "AssociatedVariable"
        QString name; ///< the point name referred to
        int line = 0; ///< the line of the text in the file
    };

    /// A loader that gives integer and real definitions registry (not owned; may be null);
    /// thread is kept but not used.
    DPDictLoader(QObject* parent, QThread* thread, MeasurementRegistry* registry);
    ~DPDictLoader() override;

    /// A new dictionary named dictName, without parent, holding one definition per usable
    /// VariableDef of fileName; null after emitting error when the file cannot be opened or
    /// parsed (a document nested deeper than 1024 levels, entities expanded, is refused as
    /// unparsable). A plain UTF-8 document in a regular file is read a few hundred kilobytes at
    /// a time, so that loading holds the definitions but never the whole file; any other is
    /// read whole and parsed as readDocument parses it.
    DPointDictionary* load(const QString& fileName, const QString& dictName);
    /// Parses fileName into document as load reads a file it does not stream: its bytes read
    /// once, refused when nested deeper than 1024 levels, parsed as Qt 5's QDomDocument parses
    /// without namespace processing (also when built with Qt 6). False with the open failure,
    /// the refusal or the parser's message, and the line (0 when the file cannot be opened).
    static bool readDocument(
        const QString& fileName, QDomDocument* document, QString* errorMessage, int* errorLine);
    /// A new definition without parent built from variableDef, owning type (it becomes the
    /// definition's child); integer and real definitions get the loader's registry.
    DPointDef* loadDPointDef(const QDomElement& variableDef, DPTypeBase& type);
    /// Labels by value of the first EnumDef with that id in the last parsed document; an empty
    /// table when there is none (also before the first successful load).
    QHash<int, QString> getEnumDef(QString enumDefId);
    /// Values by label of the same EnumDef; an empty table when there is none.
    QHash<QString, int> getIndexEnumDef(QString enumDefId);

    /// What the last load passed over, repaired or doubts, sorted by line, each with the file
    /// name given to load: elements and attributes the format does not know (with the nearest
    /// known name), texts read as 0 or as nothing, skipped and replaced entries, and values that
    /// contradict their limits, their storage type, their labels or the measurement registry.
    /// Empty before the first load and after a load that found nothing; a load that fails gives
    /// no findings (its error signal says why).
    QVector<LoadFinding> findings() const { return m_findings; }
    /// The point names that the ShowVar and AssociatedVariable texts of the last loaded points
    /// refer to, in document order; whether another dictionary defines them is the caller's
    /// question.
    QVector<PointReference> pointReferences() const { return m_references; }
    /// How many VariableDefs the last load skipped (their DataItem selects no point type, or
    /// a keyword of theirs matches nothing); 0 before the first load and after a failed one.
    int skippedCount() const { return m_skippedCount; }

    /// Obsolete thread body: logs a critical message and emits error; loads nothing.
    void run() override;

    /// The vocabulary of the dictionary format: element (Node), attribute (Attr) and keyword
    /// (String) texts. Some are declared for completeness and read by nothing.
    ///@{
    static const QString enumDefNode;
    static const QString variableDefNode;
    static const QString variableNameAttr;
    static const QString dataItemNode;
    static const QString typeAttr;
    static const QString externalNameNode;
    static const QString lineIdNode;
    static const QString pxcIdNode;
    static const QString worksheetNode;
    static const QString nameNode;
    static const QString largeDisplayNode;
    static const QString showVarNode;
    static const QString displayHintsNode;
    static const QString displayHintNode;
    static const QString groupIdAttr;
    static const QString rowIdAttr;
    static const QString accessNode;

    static const QString rawDefaultValueNode;
    static const QString minValueNode;
    static const QString maxValueNode;
    static const QString unitsNode;
    static const QString unitsLabelNode;
    static const QString enumDefIdNode;
    static const QString enumDefIdAttr;
    static const QString defaultValueNode;
    static const QString charRegexNode;
    static const QString formatNode;
    static const QString maxLengthNode;
    static const QString epochNode;
    static const QString eventTypeNode;
    static const QString changeableAttr;
    static const QString ackTypeNode;
    static const QString resetTypeNode;
    static const QString eventIdNode;
    static const QString descriptionNode;
    static const QString explanationNode;
    static const QString associatedVariableNode;

    static const QString eventItemAttr;
    static const QString ipItemAttr;
    static const QString enumItemAttr;
    static const QString stringItemAttr;
    static const QString numberIntItemAttr;
    static const QString numberRealItemAttr;
    static const QString timeItemAttr;

    static const QString trueString;
    static const QString invalidString;
    static const QString invalidString2;
    static const QString alarmString;
    static const QString warningString;
    static const QString messageString;
    static const QString ackManualString;
    static const QString ackAutoString;
    static const QString ackNoString;
    static const QString resetManualString;
    static const QString resetAutoString;
    static const QString sysUpTimeString;
    static const QString jan_01_LocalTimeString;
    static const QString january_1_String;
    static const QString firstOfMonthString;
    static const QString midnightString;
    static const QString jan_01_GMT_String;

    static const QString componentItemAttr;
    static const QString componentRootNode;
    static const QString componentInventoryIdNode;
    static const QString componentIdNode;
    static const QString componentTypeNode;
    static const QString componentTypeEnumAttr;
    static const QString componentPosXNode;
    static const QString componentPosYNode;
    static const QString componentWidthNode;
    static const QString componentHeightNode;
    ///@}

Q_SIGNALS:
    /// load could not open or parse its file (errMsg says why), or the obsolete run was called.
    void error(QString errMsg);
    /// Declared for the obsolete threaded loading; never emitted.
    void complete(DictRefSP dict);

private Q_SLOTS:
    void setFinished();

private:
    QDomElement findEnumDef(const QString& enumDefId) const;
    void keepEnumDefs(const QVector<DPDictEnumDef>& enumDefs);

    QThread* m_thread = nullptr;
    QDomNodeList m_enumDefs;
    MeasurementRegistry* m_registry = nullptr;
    bool m_finished = false;
    // Holds compact copies of the last parsed document's EnumDefs, so that m_enumDefs does not
    // keep the whole parsed document alive between loads. The destructor lets go of
    // m_enumDefs before this document.
    QDomDocument m_enumDocument;
    QVector<LoadFinding> m_findings;
    QVector<PointReference> m_references;
    int m_skippedCount = 0;
};

} // namespace kivo
