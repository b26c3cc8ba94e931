#include "loader/DPDictReader_p.h"

#include "core/NearName_p.h"
#include "loader/DPDictVocabulary_p.h"

#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>

#include <algorithm>

namespace kivo {

namespace {

using L = DPDictLoader;

constexpr uint dataItemBit = 1u << DPDictEntry::TextCount;
constexpr uint worksheetBit = dataItemBit << 1;

QString pointRef(const QString& name)
{
    return QStringLiteral(" of point '") + name + QLatin1Char('\'');
}

QString elementRef(const QString& name)
{
    return QLatin1Char('<') + name + QLatin1Char('>');
}

// The names that may stand as children of each container the rules read.
const QStringList& namesIn(int parent)
{
    static const QStringList lists[] = {
        { L::dataItemNode, L::externalNameNode, L::lineIdNode, L::pxcIdNode, L::worksheetNode,
            L::largeDisplayNode, L::showVarNode, L::displayHintsNode, L::displayHintNode,
            L::accessNode, L::eventIdNode, L::descriptionNode, L::explanationNode,
            L::associatedVariableNode },
        { L::rawDefaultValueNode, L::minValueNode, L::maxValueNode, L::unitsNode, L::unitsLabelNode,
            L::enumDefIdNode, L::defaultValueNode, L::charRegexNode, L::formatNode,
            L::maxLengthNode, L::epochNode, L::eventTypeNode, L::ackTypeNode, L::resetTypeNode },
        { L::nameNode, L::lineIdNode },
        { L::displayHintNode },
    };
    return lists[parent];
}

// Whether a point of kind reads the DataItem text.
bool readsItemText(DPDictFormat::PointKind kind, int text)
{
    switch (kind) {
    case DPDictFormat::NumberPoint:
    case DPDictFormat::RealPoint:
        return text == DPDictEntry::RawDefault || text == DPDictEntry::Min
            || text == DPDictEntry::Max || text == DPDictEntry::Units
            || text == DPDictEntry::UnitsLabel;
    case DPDictFormat::EnumPoint:
        return text == DPDictEntry::RawDefault || text == DPDictEntry::EnumDefId;
    case DPDictFormat::StringPoint:
        return text == DPDictEntry::Default || text == DPDictEntry::CharRegex
            || text == DPDictEntry::Format || text == DPDictEntry::MaxLength;
    case DPDictFormat::TimePoint:
        return text == DPDictEntry::RawDefault || text == DPDictEntry::Epoch;
    case DPDictFormat::EventPoint:
        return text == DPDictEntry::EventType || text == DPDictEntry::AckType
            || text == DPDictEntry::ResetType;
    case DPDictFormat::IPv4Point:
        return false;
    case DPDictFormat::NoPointKind:
        break;
    }
    return true;
}

} // namespace

DPDictReader::DPDictReader(DPDictBuilder& builder, DPDictSource& source, bool nesting)
    : m_builder(builder)
    , m_source(source)
    , m_nesting(nesting)
{ }

void DPDictReader::report(LoadFinding::Severity severity, const QString& text)
{
    m_builder.addFinding(m_source.lineAt(m_source.mark()), severity, text);
}

QString DPDictReader::pointName(const OpenEntry& open)
{
    return simplifiedText(open.entry.variableName);
}

bool DPDictReader::claim(OpenEntry& open, uint bit)
{
    if (open.claimed & bit) {
        return false;
    }
    open.claimed |= bit;
    return true;
}

void DPDictReader::checkAttributes(
    const QString& element, const OpenEntry* open, std::initializer_list<const QString*> known)
{
    if (m_source.hasOnlyAttributes(known)) {
        return;
    }
    const int count = m_source.attributeCount();
    QStringList unknown;
    for (int i = 0; i < count; ++i) {
        const QString name = m_source.attributeName(i);
        if (std::none_of(known.begin(), known.end(),
                [&name](const QString* candidate) { return *candidate == name; })) {
            unknown.append(name);
        }
    }
    // In name order: the DOM does not keep the attributes' order.
    unknown.sort();
    QStringList names;
    for (const QString* candidate : known) {
        names.append(*candidate);
    }
    for (const QString& name : qAsConst(unknown)) {
        report(LoadFinding::Warning,
            QStringLiteral("unknown attribute ") + name + QStringLiteral(" on ") + element
                + (open && !open->entry.variableName.isNull() ? pointRef(pointName(*open))
                                                              : QString())
                + QStringLiteral(" is not read")
                + didYouMean(nearestName(name, names, false), false));
    }
}

DPDictReader::Start DPDictReader::startElement(const char* name, int size, bool placeholder)
{
    const int depth = m_frames.size() + 1;
    const bool skippedComment = m_skippedComment;
    m_skippedComment = false;
    Frame frame;
    if (depth == 1) {
        m_frames.append(frame);
        return Plain;
    }
    const DPDictVocabulary& vocabulary = DPDictVocabulary::instance();
    const DPDictName* role = vocabulary.find(name, size);
    const DPDictName::Kind kind
        = role && !placeholder ? role->kind : DPDictName::Unread; // Unread: nothing special
    const Frame::Kind parentKind = m_frames.last().kind;

    if (kind == DPDictName::VariableDef || (m_capture && depth == 2)) {
        if (!m_entries.empty() && !m_nesting) {
            return Declined;
        }
        if (!m_entries.empty() && parentKind != Frame::Unknown) {
            report(LoadFinding::Warning,
                QStringLiteral("VariableDef '")
                    + m_source.attribute(L::variableNameAttr).simplified()
                    + QStringLiteral("' inside point '") + pointName(m_entries.back())
                    + QStringLiteral("' is read as a point of its own; its DisplayHint, Access and "
                                     "AssociatedVariable elements count for '")
                    + pointName(m_entries.back()) + QStringLiteral("' too"));
        }
        m_entries.emplace_back();
        OpenEntry& open = m_entries.back();
        open.depth = depth;
        open.sequence = m_sequence++;
        open.claimed = 0;
        open.kind = DPDictFormat::NoPointKind;
        open.entry.variableName = m_source.attribute(L::variableNameAttr);
        open.entry.mark = m_source.mark();
        open.entry.skipIntended = skippedComment;
        if (m_entries.size() == 1) {
            m_source.keepFrom(open.entry.mark);
        }
        checkAttributes(L::variableDefNode, &open, { &L::variableNameAttr });
        frame.kind = Frame::Root;
    } else if (!m_entries.empty() && !placeholder) {
        startEntryChild(role, name, size, frame);
    } else if (!m_entries.empty()) {
        frame.kind = parentKind == Frame::Unknown ? Frame::Unknown : Frame::Plain;
        if (role && parentKind != Frame::Unknown && parentKind != Frame::Plain) {
            // Takes the place of the child of that name, as QDomNode::namedItem finds it.
            OpenEntry& open = m_entries.back();
            if (parentKind == Frame::Root) {
                claim(open,
                    role->kind == DPDictName::DataItem        ? dataItemBit
                        : role->kind == DPDictName::Worksheet ? worksheetBit
                        : role->childText >= 0                ? 1u << role->childText
                                                              : 0);
            } else if (parentKind == Frame::DataItem && role->itemText >= 0) {
                claim(open, 1u << role->itemText);
            } else if (parentKind == Frame::Worksheet && role->worksheetText >= 0) {
                claim(open, 1u << role->worksheetText);
            }
        }
    }

    if (kind == DPDictName::EnumDef) {
        if (!m_enumDefs.empty() && !m_nesting) {
            return Declined;
        }
        m_enumDefs.emplace_back();
        OpenEnumDef& open = m_enumDefs.back();
        open.depth = depth;
        open.sequence = m_sequence++;
        open.enumDef.id = m_source.attribute(DPDictVocabulary::idAttr);
        checkAttributes(L::enumDefNode, nullptr, { &DPDictVocabulary::idAttr });
        const int line = m_source.lineAt(m_source.mark());
        if (open.enumDef.id.isNull()) {
            m_builder.addFinding(line, LoadFinding::Warning,
                QStringLiteral("EnumDef without an id is named by no EnumDefId"));
        } else if (m_enumDefIds.contains(open.enumDef.id)) {
            m_builder.addFinding(line, LoadFinding::Warning,
                QStringLiteral("EnumDef \"") + open.enumDef.id
                    + QStringLiteral("\" is defined again; only the one on line ")
                    + QString::number(m_enumDefIds.value(open.enumDef.id))
                    + QStringLiteral(" counts"));
        } else {
            m_enumDefIds.insert(open.enumDef.id, line);
        }
    } else if (!m_enumDefs.empty() && depth == m_enumDefs.back().depth + 1 && !placeholder) {
        OpenEnumDef& open = m_enumDefs.back();
        const QString where = QStringLiteral(" in EnumDef \"") + open.enumDef.id + QLatin1Char('"');
        if (kind == DPDictName::Enum) {
            frame.enumItem = true;
            const QString value = m_source.attribute(DPDictVocabulary::valueAttr);
            bool isInt = false;
            open.value = value.toInt(&isInt, 10);
            checkAttributes(DPDictVocabulary::enumNode, nullptr, { &DPDictVocabulary::valueAttr });
            if (!isInt) {
                report(LoadFinding::Warning,
                    (value.isNull()
                            ? QStringLiteral("Enum without a value")
                            : QStringLiteral("value \"") + value + QStringLiteral("\" of Enum"))
                        + where + QStringLiteral(" reads as 0"));
            }
        } else if (kind != DPDictName::VariableDef && (!role || kind != DPDictName::Unread)) {
            const QString text = QString::fromUtf8(name, size);
            report(LoadFinding::Warning,
                QStringLiteral("unknown element ") + elementRef(text) + where
                    + QStringLiteral(" is not read")
                    + didYouMean(nearestName(text, { DPDictVocabulary::enumNode }, false), true));
        }
    } else if (m_entries.empty() && !role && !placeholder) {
        // Outside the entries only a near miss of a known name is worth a word.
        const QByteArray key(name, size);
        auto it = m_nearMisses.find(key);
        if (it == m_nearMisses.end()) {
            it = m_nearMisses.insert(
                key, nearestName(QString::fromUtf8(key), vocabulary.elementNames(), true));
        }
        if (!it.value().isEmpty()) {
            report(LoadFinding::Warning,
                QStringLiteral("unknown element ") + elementRef(QString::fromUtf8(key))
                    + QStringLiteral(" is not read") + didYouMean(it.value(), true));
        }
    }

    if (frame.kind != Frame::Outside || frame.enumItem) {
        frame.mark = m_source.mark();
    }
    const bool wantsText = frame.wantsText || frame.enumItem;
    m_frames.append(frame);
    return wantsText ? WantsText : Plain;
}

void DPDictReader::startEntryChild(const DPDictName* role, const char* name, int size, Frame& frame)
{
    OpenEntry& open = m_entries.back();
    DPDictEntry& entry = open.entry;
    const Frame::Kind parent = m_frames.last().kind;
    const DPDictName::Kind kind = role ? role->kind : DPDictName::Unread;

    // Anywhere inside the VariableDef.
    switch (kind) {
    case DPDictName::DisplayHint:
        for (OpenEntry& each : m_entries) {
            each.entry.hints.append(
                { m_source.attribute(L::groupIdAttr), m_source.attribute(L::rowIdAttr) });
        }
        checkAttributes(L::displayHintNode, &open, { &L::groupIdAttr, &L::rowIdAttr });
        frame.kind = Frame::Leaf;
        return;
    case DPDictName::Access:
        frame.kind = Frame::Access;
        frame.wantsText = true;
        checkAttributes(L::accessNode, &open, {});
        return;
    case DPDictName::AssociatedVariable: {
        frame.kind = Frame::Associated;
        frame.wantsText = true;
        frame.associatedSlot = m_associatedSlots.size();
        const QString type = m_source.attribute(L::typeAttr);
        const QString changeable = m_source.attribute(L::changeableAttr);
        const qint64 mark = m_source.mark();
        for (OpenEntry& each : m_entries) {
            m_associatedSlots.append(each.entry.associated.size());
            each.entry.associated.append({ type, QString(), changeable });
            each.entry.associatedMarks.append(mark);
        }
        checkAttributes(L::associatedVariableNode, &open, { &L::typeAttr, &L::changeableAttr });
        return;
    }
    case DPDictName::EnumDef:
        frame.kind = Frame::Plain;
        return;
    default:
        break;
    }
    if (parent == Frame::Unknown || parent == Frame::Plain) {
        frame.kind = parent;
        return;
    }
    if (role && kind == DPDictName::Unread) {
        frame.kind = Frame::Plain;
        return;
    }
    // Texts for findings only: most elements give none.
    const auto elementName
        = [&]() -> QString { return role ? role->name : QString::fromUtf8(name, size); };
    const auto where = [&]() -> QString {
        return QStringLiteral(" in ")
            + (parent == Frame::Root                ? L::variableDefNode
                    : parent == Frame::DataItem     ? L::dataItemNode
                    : parent == Frame::Worksheet    ? L::worksheetNode
                    : parent == Frame::DisplayHints ? L::displayHintsNode
                                                    : QStringLiteral("another element"))
            + pointRef(pointName(open));
    };
    const auto another = [&] {
        report(LoadFinding::Warning,
            QStringLiteral("another ") + elementRef(elementName()) + where()
                + QStringLiteral(" is not read; only the first counts"));
        frame.kind = Frame::Plain;
    };
    const auto takeText = [&](int index) {
        if (!claim(open, 1u << index)) {
            another();
            return;
        }
        frame.kind = Frame::Text;
        frame.text = qint8(index);
        frame.wantsText = true;
        entry.marks[index] = m_source.mark();
        if (index == DPDictEntry::EventType) {
            entry.eventChangeable = m_source.attribute(L::changeableAttr);
            checkAttributes(role->name, &open, { &L::changeableAttr });
        } else {
            checkAttributes(role->name, &open, {});
        }
        if (index == DPDictEntry::ShowVar) {
            entry.showVarMark = entry.marks[index];
        }
    };

    int list = -1;
    switch (parent) {
    case Frame::Root:
        list = 0;
        if (role && role->childText >= 0) {
            takeText(role->childText);
            return;
        }
        if (kind == DPDictName::DataItem) {
            if (!claim(open, dataItemBit)) {
                another();
                return;
            }
            frame.kind = Frame::DataItem;
            entry.type = m_source.attribute(L::typeAttr);
            entry.dataItemMark = m_source.mark();
            open.kind = DPDictFormat::selectPointKind(entry.type);
            checkAttributes(role->name, &open, { &L::typeAttr });
            return;
        }
        if (kind == DPDictName::Worksheet) {
            if (!claim(open, worksheetBit)) {
                another();
                return;
            }
            frame.kind = Frame::Worksheet;
            checkAttributes(role->name, &open, {});
            return;
        }
        if (kind == DPDictName::DisplayHints) {
            frame.kind = Frame::DisplayHints;
            return;
        }
        break;
    case Frame::DataItem:
        list = 1;
        if (role && role->itemText >= 0) {
            takeText(role->itemText);
            if (frame.kind == Frame::Text && !readsItemText(open.kind, role->itemText)) {
                report(LoadFinding::Warning,
                    QStringLiteral("element ") + elementRef(role->name) + where()
                        + QStringLiteral(" is not read for type \"") + entry.type
                        + QLatin1Char('"'));
            }
            return;
        }
        break;
    case Frame::Worksheet:
        list = 2;
        if (role && role->worksheetText >= 0) {
            takeText(role->worksheetText);
            return;
        }
        break;
    case Frame::DisplayHints:
        list = 3;
        break;
    default:
        // Inside a text, a DisplayHint, an Access or an AssociatedVariable.
        report(LoadFinding::Warning,
            QStringLiteral("element ") + elementRef(elementName()) + where()
                + QStringLiteral(" is not part of the format; only its text is read"));
        frame.kind = Frame::Unknown;
        return;
    }

    if (role) {
        // A known element in the wrong place.
        const QString home = role->itemText >= 0 ? L::dataItemNode
            : role->childText >= 0 || kind == DPDictName::DataItem || kind == DPDictName::Worksheet
                || kind == DPDictName::DisplayHints
            ? L::variableDefNode
            : role->worksheetText >= 0 ? L::worksheetNode
            : kind == DPDictName::Enum ? L::enumDefNode
                                       : QString();
        report(LoadFinding::Warning,
            QStringLiteral("element ") + elementRef(role->name) + where()
                + QStringLiteral(" is not read")
                + (home.isEmpty() ? QString() : QStringLiteral("; it belongs in ") + home));
        frame.kind = Frame::Plain;
        return;
    }
    const QString text = elementName();
    QString nearest = nearestName(text, namesIn(list), false);
    if (nearest.isEmpty()) {
        nearest = nearestName(text, DPDictVocabulary::instance().elementNames(), true);
    }
    report(LoadFinding::Warning,
        QStringLiteral("unknown element ") + elementRef(text) + where()
            + QStringLiteral(" is not read") + didYouMean(nearest, true));
    frame.kind = Frame::Unknown;
}

void DPDictReader::endElement(const QString& text)
{
    const Frame frame = m_frames.last();
    m_frames.removeLast();
    const int depth = m_frames.size() + 1;
    m_skippedComment = false;
    if (frame.wantsText) {
        switch (frame.kind) {
        case Frame::Text:
            m_entries.back().entry.texts[frame.text] = text;
            break;
        case Frame::Access: {
            const bool read = DPDictFormat::grantsRead(text);
            const bool write = DPDictFormat::grantsWrite(text);
            for (OpenEntry& each : m_entries) {
                each.entry.readable = each.entry.readable || read;
                each.entry.writable = each.entry.writable || write;
            }
            if (!read && !write) {
                m_builder.addFinding(m_source.lineAt(frame.mark), LoadFinding::Warning,
                    L::accessNode + QStringLiteral(" text \"") + text
                        + QStringLiteral("\" of point '") + pointName(m_entries.back())
                        + QStringLiteral("' grants nothing; only \"R\" and \"W\" count"));
            }
            break;
        }
        case Frame::Associated:
            for (std::size_t i = 0; i < m_entries.size(); ++i) {
                m_entries[i]
                    .entry.associated[m_associatedSlots[frame.associatedSlot + int(i)]]
                    .names
                    = text;
            }
            m_associatedSlots.resize(frame.associatedSlot);
            break;
        default:
            break;
        }
    }
    if (frame.enumItem) {
        OpenEnumDef& open = m_enumDefs.back();
        open.enumDef.items.append({ open.value, text });
    }
    if (!m_entries.empty() && depth == m_entries.back().depth) {
        endEntry();
    }
    if (!m_enumDefs.empty() && depth == m_enumDefs.back().depth) {
        endEnumDef();
    }
}

void DPDictReader::endEntry()
{
    OpenEntry& open = m_entries.back();
    if (m_capture && m_entries.size() == 1) {
        *m_capture = std::move(open.entry);
        m_capture = nullptr;
        m_entries.pop_back();
        return;
    }
    if (m_entries.size() == 1 && m_heldEntries.empty()) {
        m_builder.addEntry(open.entry, m_source);
        m_entries.pop_back();
        m_source.keepFrom(-1);
        return;
    }
    m_heldEntries.emplace_back(open.sequence, std::move(open.entry));
    m_entries.pop_back();
    if (m_entries.empty()) {
        std::sort(m_heldEntries.begin(), m_heldEntries.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& held : m_heldEntries) {
            m_builder.addEntry(held.second, m_source);
        }
        m_heldEntries.clear();
        m_source.keepFrom(-1);
    }
}

void DPDictReader::endEnumDef()
{
    OpenEnumDef& open = m_enumDefs.back();
    if (m_enumDefs.size() == 1 && m_heldEnumDefs.empty()) {
        m_builder.addEnumDef(open.enumDef);
        m_enumDefs.pop_back();
        return;
    }
    m_heldEnumDefs.emplace_back(open.sequence, std::move(open.enumDef));
    m_enumDefs.pop_back();
    if (m_enumDefs.empty()) {
        std::sort(m_heldEnumDefs.begin(), m_heldEnumDefs.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& held : m_heldEnumDefs) {
            m_builder.addEnumDef(held.second);
        }
        m_heldEnumDefs.clear();
    }
}

void DPDictReader::comment(const QString& text)
{
    m_skippedComment = text.trimmed().startsWith(QLatin1String("Skipped:"));
}

void DPDictReader::finish()
{
    // Only a document cut short leaves elements open; the DOM reading ends every element.
    m_skippedComment = false;
}

} // namespace kivo
