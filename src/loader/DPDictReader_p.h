#pragma once

#include "loader/DPDictBuilder_p.h"

#include <kivo/loader/DPDictFormat.h>

#include <QHash>
#include <QVarLengthArray>

#include <vector>

namespace kivo {

struct DPDictName;

/// The one reading of the dictionary format's rules: from a document's element events, in
/// document order, it decides what every VariableDef and EnumDef yields and hands that to the
/// builder, and it reports to the builder what it passes over. The byte scanner feeds it as the
/// bytes stream past; a walk over a QDomNode tree feeds it the documents the DOM reads.
class DPDictReader
{
public:
    /// With nesting false, a VariableDef inside a VariableDef and an EnumDef inside an EnumDef
    /// decline: the streaming reading leaves such documents to the DOM.
    DPDictReader(DPDictBuilder& builder, DPDictSource& source, bool nesting);

    enum Start { Declined, Plain, WantsText };

    /// An element starts (name in UTF-8); WantsText when endElement needs its text: all text
    /// and CDATA inside it, as QDomElement::text gives it. A placeholder is a node that is no
    /// element but carries the name (a processing instruction or an entity reference of the
    /// DOM): it takes the place of an element of that name and yields nothing.
    Start startElement(const char* name, int size, bool placeholder = false);
    /// The element started last ends; text is its text when it was wanted.
    void endElement(const QString& text);
    /// A comment outside the elements being read as texts.
    void comment(const QString& text);
    /// A text that is not white space only, outside the texts being read.
    void content() { m_skippedComment = false; }
    /// Whether content would change anything: a comment beginning "Skipped:" was read last.
    bool awaitsContent() const { return m_skippedComment; }
    /// The document ends: entries still held back go to the builder.
    void finish();
    /// The next element that starts right inside the root is read as a VariableDef, whatever
    /// its name, into entry instead of the builder.
    void captureEntry(DPDictEntry* entry) { m_capture = entry; }

private:
    struct Frame
    {
        enum Kind : qint8 {
            Outside, ///< outside any VariableDef
            Unknown, ///< reported; nothing inside is reported again
            Plain, ///< known, read by nothing here
            Root, ///< the VariableDef
            Text,
            DataItem,
            Worksheet,
            DisplayHints,
            Leaf, ///< a DisplayHint: no element inside it is read
            Access,
            Associated
        };
        Kind kind = Outside;
        qint8 text = -1; ///< the DPDictEntry::Text of a Text frame
        bool enumItem = false;
        bool wantsText = false;
        int associatedSlot = -1; ///< where the records of an Associated frame are noted
        qint64 mark = -1;
    };
    struct OpenEntry
    {
        int depth;
        int sequence;
        uint claimed;
        DPDictFormat::PointKind kind; ///< of the DataItem's type
        DPDictEntry entry;
    };
    struct OpenEnumDef
    {
        int depth;
        int sequence;
        int value;
        DPDictEnumDef enumDef;
    };

    void startEntryChild(const DPDictName* role, const char* name, int size, Frame& frame);
    void checkAttributes(
        const QString& element, const OpenEntry* open, std::initializer_list<const QString*> known);
    void report(LoadFinding::Severity severity, const QString& text);
    void endEntry();
    void endEnumDef();
    bool claim(OpenEntry& open, uint bit);
    /// The name of the entry's point, for findings.
    static QString pointName(const OpenEntry& open);

    DPDictBuilder& m_builder;
    DPDictSource& m_source;
    const bool m_nesting;
    QVarLengthArray<Frame, 64> m_frames;
    std::vector<OpenEntry> m_entries; // the open VariableDefs, innermost last
    std::vector<OpenEnumDef> m_enumDefs;
    // Of nested ones, those that ended before an outer one: they go to the builder in the
    // order they started once the outermost ends.
    std::vector<std::pair<int, DPDictEntry>> m_heldEntries;
    std::vector<std::pair<int, DPDictEnumDef>> m_heldEnumDefs;
    QVarLengthArray<int, 8> m_associatedSlots;
    int m_sequence = 0;
    DPDictEntry* m_capture = nullptr;
    bool m_skippedComment = false;
    QHash<QByteArray, QString> m_nearMisses; // element names outside entries, checked
    QHash<QString, int> m_enumDefIds; // first line of each EnumDef id
};

} // namespace kivo
