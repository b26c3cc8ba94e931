// The findings of a dictionary load: what the reading of an entry passed over or filled in, and
// the values that contradict their limits, their storage type, their labels or the registry.

#include "loader/DPDictBuilder_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace kivo {

namespace {

using L = DPDictLoader;
using E = DPDictEntry;

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString pointRef(const QString& name)
{
    return QStringLiteral("point '") + name + QLatin1Char('\'');
}

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

// Whether text holds a character that the JSON text of a definition, which takes most texts as
// they stand, cannot hold unescaped; of a text that is simplified first, the white space it
// loses does not count.
bool breaksJson(const QString& text, bool simplified = false)
{
    for (const QChar c : text) {
        if ((c.unicode() < 0x20 && !(simplified && c.isSpace())) || c == QLatin1Char('"')
            || c == QLatin1Char('\\')) {
            return true;
        }
    }
    return false;
}

// The range of the integer storage type a DataItem type names ("Int16", "UInt8", ...); false for
// a type that names none.
bool storageRange(const QString& type, qint64* low, qint64* high)
{
    const int start = type.startsWith(QLatin1Char('U'), Qt::CaseInsensitive) ? 1 : 0;
    const int length = int(type.size()) - start;
    if (length < 4 || type.at(start).toLower() != QLatin1Char('i')
        || type.at(start + 1).toLower() != QLatin1Char('n')
        || type.at(start + 2).toLower() != QLatin1Char('t')) {
        return false;
    }
    const QChar* size = type.constData() + start + 3;
    const int bits = length == 4 && size[0] == QLatin1Char('8')                     ? 8
        : length == 5 && size[0] == QLatin1Char('1') && size[1] == QLatin1Char('6') ? 16
        : length == 5 && size[0] == QLatin1Char('3') && size[1] == QLatin1Char('2') ? 32
                                                                                    : 0;
    if (bits == 0) {
        return false;
    }
    if (start == 0) {
        *low = -(qint64(1) << (bits - 1));
        *high = (qint64(1) << (bits - 1)) - 1;
    } else {
        *low = 0;
        *high = (qint64(1) << bits) - 1;
    }
    return true;
}

// QString::toInt with base 10, quicker for the short plain numbers that most texts are.
int toIntChecked(const QString& text, bool* ok)
{
    const int size = int(text.size());
    if (size == 0 || size > 9) {
        return text.toInt(ok, 10);
    }
    const QChar* chars = text.constData();
    const bool negative = chars[0] == QLatin1Char('-');
    int value = 0;
    for (int i = negative ? 1 : 0; i < size; ++i) {
        const ushort c = chars[i].unicode();
        if (c < '0' || c > '9' || (negative && size == 1)) {
            return text.toInt(ok, 10);
        }
        value = value * 10 + (c - '0');
    }
    *ok = true;
    return negative ? -value : value;
}

enum UnitProblem { UnknownUnit = 1, NoConversion = 2, NoResolution = 4, Checked = 8 };

} // namespace

void DPDictBuilder::checkName(const DPDictEntry& entry, int line)
{
    const QString name = simplifiedText(entry.variableName);
    if (entry.variableName.isNull()) {
        addFinding(line, LoadFinding::Error,
            QStringLiteral("VariableDef without a variableName gives a point with an empty name"));
    } else if (name.isEmpty()) {
        addFinding(line, LoadFinding::Error,
            QStringLiteral("VariableDef with an empty variableName gives a point with an empty "
                           "name"));
    } else if (name != entry.variableName) {
        addFinding(line, LoadFinding::Warning,
            QStringLiteral("variableName ") + quoted(entry.variableName)
                + QStringLiteral(" is read as ") + quoted(name));
    }
}

void DPDictBuilder::reportSkip(
    const DPDictEntry& entry, const DPDictSource& source, DPDictFormat::SkipReason reason, int line)
{
    // The element whose text made the decision; the reason itself comes from the format.
    int text = -1;
    switch (reason) {
    case DPDictFormat::UnknownEventType:
        text = E::EventType;
        break;
    case DPDictFormat::UnknownAckType:
        text = E::AckType;
        break;
    case DPDictFormat::UnknownResetType:
        text = E::ResetType;
        break;
    case DPDictFormat::UnknownEpoch:
        text = E::Epoch;
        break;
    default:
        break;
    }
    QString detail;
    if (entry.dataItemMark < 0) {
        detail = QStringLiteral("no ") + L::dataItemNode;
    } else if (text < 0) {
        detail = L::typeAttr + QLatin1Char(' ') + quoted(entry.type);
        line = source.lineAt(entry.dataItemMark);
    } else if (entry.marks[text] < 0) {
        detail = QStringLiteral("no ") + E::elementName(text);
        line = source.lineAt(entry.dataItemMark);
    } else {
        detail = E::elementName(text) + QLatin1Char(' ') + quoted(entry.texts[text]);
        line = source.lineAt(entry.marks[text]);
    }
    const QString message = QStringLiteral("entry '") + entry.variableName.simplified()
        + QStringLiteral("' is skipped: ") + DPDictFormat::skipReasonText(reason)
        + QStringLiteral(" (") + detail + QLatin1Char(')');
    if (entry.skipIntended) {
        addFinding(line, LoadFinding::Note, message + QStringLiteral(", as its comment says"));
    } else {
        addFinding(line, LoadFinding::Warning, message);
    }
}

void DPDictBuilder::checkEntry(const DPDictEntry& entry, const DPDictSource& source,
    const DPDictFormat::Selection& selection, DPointDef* def, int line)
{
    const QString& name = def->m_variableName;
    const QString* texts = entry.texts;
    const auto lineOf = [&](int text, qint64 fallback) {
        return source.lineAt(entry.marks[text] >= 0 ? entry.marks[text] : fallback);
    };
    // An integer text: its value, or a finding when it is given but reads as 0.
    const auto integer = [&](int text) {
        bool ok = false;
        const int value = toIntChecked(texts[text], &ok);
        if (!ok && !texts[text].isNull()) {
            addFinding(lineOf(text, entry.mark), LoadFinding::Warning,
                E::elementName(text) + QLatin1Char(' ') + quoted(texts[text])
                    + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" is not an integer (or beyond an int); it reads as 0"));
        }
        return value;
    };
    const auto real = [&](int text) {
        bool ok = false;
        const double value = texts[text].toDouble(&ok);
        if (!ok && !texts[text].isNull()) {
            addFinding(lineOf(text, entry.mark), LoadFinding::Warning,
                E::elementName(text) + QLatin1Char(' ') + quoted(texts[text])
                    + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" is not a number; it reads as 0"));
        }
        return value;
    };
    const auto notRead = [&](int text) {
        if (entry.marks[text] >= 0) {
            addFinding(source.lineAt(entry.marks[text]), LoadFinding::Warning,
                QStringLiteral("element <") + E::elementName(text) + QStringLiteral("> in ")
                    + L::variableDefNode + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" is not read for type ") + quoted(entry.type));
        }
    };
    bool suspect
        = breaksJson(name) || breaksJson(texts[E::ExternalName]) || breaksJson(texts[E::LineId]);

    if (def->m_pxcId == 0) {
        integer(E::PxcId);
    }
    const bool event = selection.kind == DPDictFormat::EventPoint;
    if (!event) {
        notRead(E::EventId);
        notRead(E::Description);
        notRead(E::Explanation);
        for (int i = 0; i < entry.associated.size(); ++i) {
            addFinding(source.lineAt(entry.associatedMarks[i]), LoadFinding::Warning,
                QStringLiteral("element <") + L::associatedVariableNode + QStringLiteral("> of ")
                    + pointRef(name) + QStringLiteral(" is not read for type ")
                    + quoted(entry.type));
        }
    }

    switch (selection.kind) {
    case DPDictFormat::NumberPoint:
    case DPDictFormat::RealPoint: {
        const bool isInteger = selection.kind == DPDictFormat::NumberPoint;
        const auto* numberType = qobject_cast<const DPTypeNumber*>(def->m_type);
        const auto* realType = qobject_cast<const DPTypeReal*>(def->m_type);
        // The type read the limits already; a limit that is not 0 read as a number.
        const auto limit = [&](int text, double value) {
            return value != 0.0 ? value : isInteger ? integer(text) : real(text);
        };
        const double min = limit(E::Min, numberType ? numberType->m_min : realType->m_min);
        const double max = limit(E::Max, numberType ? numberType->m_max : realType->m_max);
        const QString& rawDefault = texts[E::RawDefault];
        const bool hasDefault
            = !rawDefault.isNull() && !DPDictFormat::isNoDefaultMarker(rawDefault);
        const double dflt = !hasDefault ? 0.0
            : isInteger                 ? integer(E::RawDefault)
                                        : real(E::RawDefault);
        const auto minLine = [&] { return lineOf(E::Min, entry.dataItemMark); };
        bool fits = true;
        qint64 low = 0;
        qint64 high = 0;
        if (isInteger && storageRange(entry.type, &low, &high)) {
            const auto fit = [&](double value, int text) {
                if (value < double(low) || value > double(high)) {
                    fits = false;
                    addFinding(lineOf(text, entry.dataItemMark), LoadFinding::Error,
                        E::elementName(text) + QLatin1Char(' ') + number(value)
                            + QStringLiteral(" of ") + pointRef(name)
                            + QStringLiteral(" does not fit its type ") + quoted(entry.type)
                            + QStringLiteral(" (") + QString::number(low) + QStringLiteral(" to ")
                            + QString::number(high) + QLatin1Char(')'));
                }
            };
            fit(min, E::Min);
            fit(max, E::Max);
            if (hasDefault) {
                fit(dflt, E::RawDefault);
            }
        }
        if (min > max) {
            addFinding(minLine(), LoadFinding::Error,
                E::elementName(E::Min) + QLatin1Char(' ') + number(min) + QStringLiteral(" of ")
                    + pointRef(name) + QStringLiteral(" is above its ") + E::elementName(E::Max)
                    + QLatin1Char(' ') + number(max));
        } else if (hasDefault && fits && (dflt < min || dflt > max)) {
            addFinding(lineOf(E::RawDefault, entry.dataItemMark), LoadFinding::Error,
                QStringLiteral("default ") + number(dflt) + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" is outside its limits ") + number(min)
                    + QStringLiteral(" to ") + number(max));
        }
        suspect = suspect || !std::isfinite(min) || !std::isfinite(max)
            || breaksJson(texts[E::UnitsLabel]) || (!isInteger && breaksJson(rawDefault));
        if (!texts[E::Units].isEmpty()) {
            checkUnits(texts[E::Units], name, source,
                entry.marks[E::Units] >= 0 ? entry.marks[E::Units] : entry.mark, isInteger);
        }
        break;
    }
    case DPDictFormat::EnumPoint: {
        PendingEnum& pending = m_pendingEnums.last();
        pending.line = line;
        pending.defaultLine = lineOf(E::RawDefault, entry.dataItemMark);
        pending.idLine = lineOf(E::EnumDefId, entry.dataItemMark);
        break;
    }
    case DPDictFormat::StringPoint:
        integer(E::MaxLength);
        suspect = suspect || breaksJson(texts[E::Default]) || breaksJson(texts[E::Format]);
        break;
    case DPDictFormat::TimePoint: {
        const QString& rawDefault = texts[E::RawDefault];
        if (rawDefault == DPDictFormat::currentDateTimeString) {
            if (selection.epoch != DPTypeTime::Jan_01_1970_local_time
                && selection.epoch != DPTypeTime::Jan_01_1970_GMT) {
                addFinding(lineOf(E::RawDefault, entry.dataItemMark), LoadFinding::Warning,
                    QStringLiteral("default ") + quoted(rawDefault) + QStringLiteral(" of ")
                        + pointRef(name)
                        + QStringLiteral(" means the moment of loading only with "
                                         "the 1970 epochs; with ")
                        + quoted(texts[E::Epoch]) + QStringLiteral(" it reads as 0"));
            }
        } else {
            integer(E::RawDefault);
        }
        break;
    }
    case DPDictFormat::EventPoint: {
        integer(E::EventId);
        suspect = suspect || breaksJson(texts[E::Description])
            || breaksJson(texts[E::Explanation], true);
        // Only "true" counts; these texts look as if they meant it.
        const auto changeable = [&](const QString& text, const QString& element, qint64 mark) {
            if (text.isNull() || DPDictFormat::isTrueText(text)) {
                return;
            }
            const QString trimmed = text.trimmed();
            if ((trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
                    || trimmed.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
                    || trimmed == QLatin1String("1"))) {
                addFinding(source.lineAt(mark), LoadFinding::Warning,
                    L::changeableAttr + QStringLiteral("=") + quoted(text) + QStringLiteral(" on ")
                        + element + QStringLiteral(" of ") + pointRef(name)
                        + QStringLiteral(" is read as false; only \"true\" counts"));
            }
        };
        changeable(entry.eventChangeable, L::eventTypeNode,
            entry.marks[E::EventType] >= 0 ? entry.marks[E::EventType] : entry.mark);
        for (int i = 0; i < entry.associated.size(); ++i) {
            const DPDictEntry::Associated& associated = entry.associated[i];
            const int at = source.lineAt(entry.associatedMarks[i]);
            changeable(associated.changeable, L::associatedVariableNode, entry.associatedMarks[i]);
            suspect = suspect || breaksJson(associated.type) || breaksJson(associated.names, true);
            const QStringList names
                = associated.names.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const QString& other : names) {
                m_references.append({ name, L::associatedVariableNode, other, at });
            }
        }
        break;
    }
    case DPDictFormat::IPv4Point:
    case DPDictFormat::NoPointKind:
        break;
    }

    const QString showVar = simplifiedText(texts[E::ShowVar]);
    if (!showVar.isEmpty()) {
        m_references.append({ name, L::showVarNode, showVar, source.lineAt(entry.showVarMark) });
    }
    if (suspect) {
        m_jsonSuspects.append({ def, line });
    }
}

void DPDictBuilder::checkUnits(
    const QString& unit, const QString& name, const DPDictSource& source, qint64 mark, bool integer)
{
    if (!m_registry) {
        return;
    }
    int& problems = m_unitProblems[unit];
    if (!(problems & Checked)) {
        problems = Checked;
        if (!m_registry->getUnits(unit)) {
            problems |= UnknownUnit;
        } else {
            if (!m_registry->getConversion(unit, MeasurementRegistry::displaySystemId)) {
                problems |= NoConversion;
            }
            // A missing or zero Resolution (of the MUnitDef2Converter, or of the MUnitDef when
            // there is no conversion) reads as 0: the limits then show six decimals.
            const double resolution = m_registry->getConverter(unit)->m_resolution;
            if (!(resolution > 0.0) || !std::isfinite(resolution)) {
                problems |= NoResolution;
            }
        }
    }
    if (problems & UnknownUnit) {
        addFinding(source.lineAt(mark), LoadFinding::Warning,
            L::unitsNode + QLatin1Char(' ') + quoted(unit) + QStringLiteral(" of ") + pointRef(name)
                + QStringLiteral(" names no unit of the measurement file"));
        return;
    }
    // Only integer points are shown through the converter; without a conversion it has no
    // label, so the point's JSON loses its units label.
    if (!integer) {
        return;
    }
    if (problems & NoConversion) {
        addFinding(source.lineAt(mark), LoadFinding::Warning,
            QStringLiteral("unit ") + quoted(unit) + QStringLiteral(" of ") + pointRef(name)
                + QStringLiteral(" has no conversion into ")
                + quoted(MeasurementRegistry::displaySystemId)
                + QStringLiteral("; its JSON shows no units label"));
    }
    if (problems & NoResolution) {
        addFinding(source.lineAt(mark), LoadFinding::Warning,
            QStringLiteral("unit ") + quoted(unit) + QStringLiteral(" of ") + pointRef(name)
                + QStringLiteral(" has no display resolution (")
                + QString::number(m_registry->getConverter(unit)->m_resolution)
                + QStringLiteral(" in the measurement file); its values show six decimals"));
    }
}

void DPDictBuilder::checkEnum(const PendingEnum& pending, const QHash<int, QString>& table)
{
    if (m_enumDefIds.isEmpty()) {
        for (const DPDictEnumDef& enumDef : qAsConst(m_enumDefs)) {
            m_enumDefIds.insert(enumDef.id);
        }
    }
    auto* def = qobject_cast<DPointDef*>(pending.type->parent());
    const QString name = def ? def->m_variableName : QString();
    for (const QString& label : table) {
        if (breaksJson(label)) {
            m_jsonSuspects.append({ def, pending.line });
            break;
        }
    }
    if (!m_enumDefIds.contains(pending.enumDefId)) {
        addFinding(pending.idLine, LoadFinding::Warning,
            L::enumDefIdNode + QLatin1Char(' ') + quoted(pending.enumDefId) + QStringLiteral(" of ")
                + pointRef(name) + QStringLiteral(" names no EnumDef; the point has no labels"));
        return;
    }
    const int defaultValue = pending.type->m_default;
    if (table.contains(defaultValue)) {
        return;
    }
    bool isNumber = false;
    pending.rawDefault.toInt(&isNumber, 10);
    addFinding(pending.defaultLine, LoadFinding::Warning,
        isNumber ? QString(QStringLiteral("default ") + QString::number(defaultValue)
            + QStringLiteral(" of ") + pointRef(name)
            + QStringLiteral(" is not a value of EnumDef ") + quoted(pending.enumDefId))
                 : QString(QStringLiteral("default ") + quoted(pending.rawDefault)
                     + QStringLiteral(" of ") + pointRef(name)
                     + QStringLiteral(" names no label of EnumDef ") + quoted(pending.enumDefId)
                     + QStringLiteral("; the default becomes ") + QString::number(defaultValue)));
}

void DPDictBuilder::finishChecks()
{
    for (const DPointDefFiling::Replacement& replacement : m_replacements) {
        addFinding(replacement.tag, LoadFinding::Warning,
            pointRef(replacement.name)
                + QStringLiteral(" is defined again; this definition replaces the one on line ")
                + QString::number(replacement.replacedTag));
    }
    m_replacements.clear();
    for (const JsonSuspect& suspect : qAsConst(m_jsonSuspects)) {
        if (!suspect.def) {
            continue;
        }
        QJsonParseError parseError;
        QJsonDocument::fromJson(suspect.def->getTypeJson().toUtf8(), &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            addFinding(suspect.line, LoadFinding::Warning,
                QStringLiteral("the JSON text of ") + pointRef(suspect.def->objectName())
                    + QStringLiteral(" is not valid JSON (") + parseError.errorString()
                    + QStringLiteral(" at offset ") + QString::number(parseError.offset)
                    + QLatin1Char(')'));
        }
    }
    m_jsonSuspects.clear();
}

} // namespace kivo
