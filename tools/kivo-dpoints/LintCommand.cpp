#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictFormat.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QDomComment>
#include <QDomNodeList>
#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kivo {
namespace tool {

namespace {

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString pointRef(const QString& name)
{
    return QStringLiteral("point '") + name + QLatin1Char('\'');
}

int lineOf(const QDomNode& node, const QDomNode& fallback)
{
    return node.isNull() ? fallback.lineNumber() : node.lineNumber();
}

QDomElement childElement(const QDomNode& parent, const QString& name)
{
    return parent.namedItem(name).toElement();
}

// The findings of one file, printed in line order.
class Findings
{
public:
    explicit Findings(const QString& path)
        : m_path(path)
    { }

    void add(int line, const QString& message) { m_findings.push_back({ line, message, false }); }
    /// A finding the file marks as intended: printed as a note, not counted.
    void addNote(int line, const QString& message)
    {
        m_findings.push_back({ line, message, true });
    }

    /// Prints the findings; returns the number of warnings.
    int print()
    {
        std::stable_sort(m_findings.begin(), m_findings.end(),
            [](const Finding& a, const Finding& b) { return a.line < b.line; });
        int warnings = 0;
        for (const Finding& finding : m_findings) {
            out() << m_path << QLatin1Char(':') << finding.line
                  << (finding.note ? QStringLiteral(": note: ") : QStringLiteral(": warning: "))
                  << finding.message << QLatin1Char('\n');
            warnings += finding.note ? 0 : 1;
        }
        return warnings;
    }

private:
    struct Finding
    {
        int line;
        QString message;
        bool note;
    };

    QString m_path;
    std::vector<Finding> m_findings;
};

int lintMeasurements(const QString& path, const MeasurementRegistry& registry)
{
    Findings findings(path);
    QDomDocument document;
    QString parseError;
    if (!parseDocument(path, &document, &parseError)) {
        return 0;
    }
    const QDomNodeList entries
        = document.documentElement().elementsByTagName(MeasurementLoader::mUnitDef2ConverterNode);
    for (int i = 0; i < entries.count(); ++i) {
        const QDomElement entry = entries.item(i).toElement();
        const QDomElement idElement = entry.firstChildElement(MeasurementLoader::converterIdNode);
        if (!registry.getConversionById(idElement.text())) {
            findings.add(lineOf(idElement, entry),
                MeasurementLoader::mUnitDef2ConverterNode + QStringLiteral(" names no ")
                    + MeasurementLoader::mUnitConverterNode + QLatin1Char(' ')
                    + quoted(idElement.text()));
        }
    }
    return findings.print();
}

// Checks one dictionary file against the rules the loader applies, entry by entry.
class DictionaryLinter
{
public:
    DictionaryLinter(const LoadedDictionary& loaded, MeasurementRegistry& registry,
        const QSet<QString>& pointNames)
        : m_loaded(loaded)
        , m_registry(registry)
        , m_pointNames(pointNames)
        , m_findings(loaded.path)
    { }

    int run(const QDomDocument& document)
    {
        const QDomNodeList enumDefs
            = document.documentElement().elementsByTagName(DPDictLoader::enumDefNode);
        for (int i = 0; i < enumDefs.count(); ++i) {
            m_enumDefIds.insert(enumDefs.item(i).toElement().attribute(QStringLiteral("id")));
        }
        for (const QDomElement& variableDef : variableDefs(document)) {
            checkEntry(variableDef);
        }
        checkJsonTexts();
        return m_findings.print();
    }

private:
    void checkEntry(const QDomElement& variableDef)
    {
        const QString name = variableDef.attribute(DPDictLoader::variableNameAttr).simplified();
        const QDomElement dataItem = childElement(variableDef, DPDictLoader::dataItemNode);
        const DPDictFormat::Selection selection = DPDictFormat::selectType(dataItem);
        if (selection.skipReason != DPDictFormat::NotSkipped) {
            reportSkip(variableDef, dataItem, name, selection.skipReason);
            return;
        }

        const int line = variableDef.lineNumber();
        if (m_winnerLines.contains(name)) {
            m_findings.add(line,
                pointRef(name)
                    + QStringLiteral(" is defined again; this definition replaces the one on line ")
                    + QString::number(m_winnerLines.value(name)));
        }
        m_winnerLines.insert(name, line);

        checkAccess(variableDef, name);
        const QDomElement showVar = childElement(variableDef, DPDictLoader::showVarNode);
        checkNames(showVar, DPDictLoader::showVarNode, name, false);

        switch (selection.kind) {
        case DPDictFormat::NumberPoint:
        case DPDictFormat::RealPoint:
            checkUnits(dataItem, name, selection.kind == DPDictFormat::NumberPoint);
            break;
        case DPDictFormat::EnumPoint:
            checkEnumeration(dataItem, name);
            break;
        case DPDictFormat::EventPoint:
            checkEvent(variableDef, dataItem, name);
            break;
        default:
            break;
        }
    }

    void reportSkip(const QDomElement& variableDef, const QDomElement& dataItem,
        const QString& name, DPDictFormat::SkipReason reason)
    {
        // The element whose text made the decision; the reason itself comes from the format.
        QString elementName;
        switch (reason) {
        case DPDictFormat::UnknownEventType:
            elementName = DPDictLoader::eventTypeNode;
            break;
        case DPDictFormat::UnknownAckType:
            elementName = DPDictLoader::ackTypeNode;
            break;
        case DPDictFormat::UnknownResetType:
            elementName = DPDictLoader::resetTypeNode;
            break;
        case DPDictFormat::UnknownEpoch:
            elementName = DPDictLoader::epochNode;
            break;
        default:
            break;
        }

        QString detail;
        int line = 0;
        if (dataItem.isNull()) {
            detail = QStringLiteral("no ") + DPDictLoader::dataItemNode;
            line = variableDef.lineNumber();
        } else if (elementName.isEmpty()) {
            detail = DPDictLoader::typeAttr + QLatin1Char(' ')
                + quoted(dataItem.attribute(DPDictLoader::typeAttr));
            line = dataItem.lineNumber();
        } else {
            const QDomElement element = childElement(dataItem, elementName);
            detail = element.isNull() ? QStringLiteral("no ") + elementName
                                      : elementName + QLatin1Char(' ') + quoted(element.text());
            line = lineOf(element, dataItem);
        }
        const QString message = QStringLiteral("entry '") + name + QStringLiteral("' is skipped: ")
            + DPDictFormat::skipReasonText(reason) + QStringLiteral(" (") + detail
            + QLatin1Char(')');
        // A comment beginning "Skipped:" right before the entry says the skip is intended.
        const QDomNode previous = variableDef.previousSibling();
        if (previous.isComment()
            && previous.toComment().data().trimmed().startsWith(QLatin1String("Skipped:"))) {
            m_findings.addNote(line, message + QStringLiteral(", as its comment says"));
        } else {
            m_findings.add(line, message);
        }
    }

    void checkAccess(const QDomElement& variableDef, const QString& name)
    {
        const QDomNodeList accesses = variableDef.elementsByTagName(DPDictLoader::accessNode);
        for (int i = 0; i < accesses.count(); ++i) {
            const QDomElement access = accesses.item(i).toElement();
            const QString text = access.text();
            if (!DPDictFormat::grantsRead(text) && !DPDictFormat::grantsWrite(text)) {
                m_findings.add(access.lineNumber(),
                    DPDictLoader::accessNode + QStringLiteral(" text ") + quoted(text)
                        + QStringLiteral(" of ") + pointRef(name)
                        + QStringLiteral(" grants nothing; only \"R\" and \"W\" count"));
            }
        }
    }

    // "ShowVar" names one point by its whole text, an associated variable one or more points
    // separated by white space; each must be a point of one of the dictionaries given, compared
    // without regard to letter case as the point provider does.
    void checkNames(
        const QDomElement& element, const QString& what, const QString& name, bool several)
    {
        if (element.isNull()) {
            return;
        }
        const QString text = element.text().simplified();
        const QStringList names
            = several ? text.split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList { text };
        for (const QString& other : names) {
            if (!other.isEmpty() && !m_pointNames.contains(other.toLower())) {
                m_findings.add(element.lineNumber(),
                    what + QLatin1Char(' ') + quoted(other) + QStringLiteral(" of ")
                        + pointRef(name)
                        + QStringLiteral(" names no point of the dictionaries given"));
            }
        }
    }

    void checkUnits(const QDomElement& dataItem, const QString& name, bool integer)
    {
        const QDomElement units = childElement(dataItem, DPDictLoader::unitsNode);
        const QString unit = units.text();
        if (unit.isEmpty()) {
            return;
        }
        if (!m_registry.getUnits(unit)) {
            m_findings.add(units.lineNumber(),
                DPDictLoader::unitsNode + QLatin1Char(' ') + quoted(unit) + QStringLiteral(" of ")
                    + pointRef(name) + QStringLiteral(" names no unit of the measurement file"));
            return;
        }
        // Only integer points are shown through the converter; without a conversion it has
        // no label, so the point's JSON loses its units label.
        if (!integer) {
            return;
        }
        if (!m_registry.getConversion(unit, MeasurementRegistry::displaySystemId)) {
            m_findings.add(units.lineNumber(),
                QStringLiteral("unit ") + quoted(unit) + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" has no conversion into ")
                    + quoted(MeasurementRegistry::displaySystemId)
                    + QStringLiteral("; its JSON shows no units label"));
        }
        // A missing or zero Resolution (of the MUnitDef2Converter, or of the MUnitDef when there
        // is no conversion) reads as 0: the limits then show six decimals.
        const double resolution = m_registry.getConverter(unit)->m_resolution;
        if (!(resolution > 0.0) || !std::isfinite(resolution)) {
            m_findings.add(units.lineNumber(),
                QStringLiteral("unit ") + quoted(unit) + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" has no display resolution (") + QString::number(resolution)
                    + QStringLiteral(" in the measurement file); its values show six decimals"));
        }
    }

    void checkEnumeration(const QDomElement& dataItem, const QString& name)
    {
        const QDomElement idElement = childElement(dataItem, DPDictLoader::enumDefIdNode);
        const QString enumDefId = idElement.text();
        if (!m_enumDefIds.contains(enumDefId)) {
            m_findings.add(lineOf(idElement, dataItem),
                DPDictLoader::enumDefIdNode + QLatin1Char(' ') + quoted(enumDefId)
                    + QStringLiteral(" of ") + pointRef(name)
                    + QStringLiteral(" names no EnumDef; the point has no labels"));
            return;
        }

        const QHash<int, QString> values = m_loaded.loader->getEnumDef(enumDefId);
        const QDomElement defaultElement
            = childElement(dataItem, DPDictLoader::rawDefaultValueNode);
        const QString rawDefault = defaultElement.text();
        const int defaultValue = DPDictFormat::enumDefault(rawDefault, values);
        if (values.contains(defaultValue)) {
            return;
        }
        bool isNumber = false;
        rawDefault.toInt(&isNumber, 10);
        const QString message = isNumber
            ? QStringLiteral("default ") + QString::number(defaultValue) + QStringLiteral(" of ")
                + pointRef(name) + QStringLiteral(" is not a value of EnumDef ") + quoted(enumDefId)
            : QStringLiteral("default ") + quoted(rawDefault) + QStringLiteral(" of ")
                + pointRef(name) + QStringLiteral(" names no label of EnumDef ") + quoted(enumDefId)
                + QStringLiteral("; the default becomes ") + QString::number(defaultValue);
        m_findings.add(lineOf(defaultElement, dataItem), message);
    }

    void checkEvent(
        const QDomElement& variableDef, const QDomElement& dataItem, const QString& name)
    {
        checkChangeable(childElement(dataItem, DPDictLoader::eventTypeNode), name);
        const QDomNodeList associated
            = variableDef.elementsByTagName(DPDictLoader::associatedVariableNode);
        for (int i = 0; i < associated.count(); ++i) {
            const QDomElement element = associated.item(i).toElement();
            checkChangeable(element, name);
            checkNames(element, DPDictLoader::associatedVariableNode, name, true);
        }
    }

    // Only "true" counts; these texts look as if they meant it.
    void checkChangeable(const QDomElement& element, const QString& name)
    {
        if (!element.hasAttribute(DPDictLoader::changeableAttr)) {
            return;
        }
        const QString text = element.attribute(DPDictLoader::changeableAttr);
        if (DPDictFormat::isTrueText(text)) {
            return;
        }
        const QString trimmed = text.trimmed();
        const bool meantTrue = trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
            || trimmed.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0
            || trimmed == QLatin1String("1");
        if (meantTrue) {
            m_findings.add(element.lineNumber(),
                DPDictLoader::changeableAttr + QStringLiteral("=") + quoted(text)
                    + QStringLiteral(" on ") + element.tagName() + QStringLiteral(" of ")
                    + pointRef(name) + QStringLiteral(" is read as false; only \"true\" counts"));
        }
    }

    void checkJsonTexts()
    {
        const QList<DPointDef*> defs = m_loaded.dictionary->getAllDefs();
        for (const DPointDef* def : defs) {
            QJsonParseError parseError;
            QJsonDocument::fromJson(def->getTypeJson().toUtf8(), &parseError);
            if (parseError.error != QJsonParseError::NoError) {
                m_findings.add(m_winnerLines.value(def->objectName()),
                    QStringLiteral("the JSON text of ") + pointRef(def->objectName())
                        + QStringLiteral(" is not valid JSON (") + parseError.errorString()
                        + QStringLiteral(" at offset ") + QString::number(parseError.offset)
                        + QLatin1Char(')'));
            }
        }
    }

    const LoadedDictionary& m_loaded;
    MeasurementRegistry& m_registry;
    const QSet<QString>& m_pointNames;
    Findings m_findings;
    QSet<QString> m_enumDefIds;
    // Name -> line of the VariableDef whose definition the dictionary holds (the later wins).
    QHash<QString, int> m_winnerLines;
};

} // namespace

int runLint(const QString& measurementsPath, const QStringList& dictionaryPaths)
{
    const QString measurements = measurementsPathOrDefault(measurementsPath);
    const QStringList dictionaries = dictionaryPathsOrDefault(dictionaryPaths);
    if (measurements.isEmpty() || dictionaries.isEmpty()) {
        return ExitFailure;
    }
    // The loader's "NULLCHECK failed." lines are dropped: the findings below name each entry.
    const std::unique_ptr<MeasurementRegistry> registry = loadRegistry(measurements, true);
    if (!registry) {
        return ExitFailure;
    }

    bool failed = false;
    std::vector<LoadedDictionary> loadedDictionaries;
    QSet<QString> pointNames;
    for (const QString& path : dictionaries) {
        loadedDictionaries.push_back(loadDictionary(path, registry.get()));
        const LoadedDictionary& loaded = loadedDictionaries.back();
        if (!loaded.dictionary) {
            failed = true;
            continue;
        }
        const QList<DPointDef*> defs = loaded.dictionary->getAllDefs();
        for (const DPointDef* def : defs) {
            pointNames.insert(def->objectName().toLower());
        }
    }

    int findingCount = lintMeasurements(measurements, *registry);
    for (const LoadedDictionary& loaded : loadedDictionaries) {
        if (!loaded.dictionary) {
            continue;
        }
        // Read as the loader reads a document it does not stream, behind the same nesting guard.
        QDomDocument document;
        QString parseError;
        int errorLine = 0;
        if (!DPDictLoader::readDocument(loaded.path, &document, &parseError, &errorLine)) {
            printError(QStringLiteral("cannot read dictionary '") + loaded.path
                + QStringLiteral("': ") + parseError + QStringLiteral(" at line ")
                + QString::number(errorLine));
            failed = true;
            continue;
        }
        DictionaryLinter linter(loaded, *registry, pointNames);
        findingCount += linter.run(document);
    }

    if (failed) {
        return ExitFailure;
    }
    return findingCount > 0 ? ExitWarnings : ExitOk;
}

} // namespace tool
} // namespace kivo
