#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/core/LoadFinding.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QSet>
#include <QTextStream>

#include <vector>

namespace kivo {
namespace tool {

namespace {

// Prints findings; counts the warnings and errors.
void print(const QVector<LoadFinding>& findings, int* warnings, int* errors)
{
    for (const LoadFinding& finding : findings) {
        out() << finding.toString() << QLatin1Char('\n');
        *warnings += finding.severity == LoadFinding::Warning ? 1 : 0;
        *errors += finding.severity == LoadFinding::Error ? 1 : 0;
    }
}

} // namespace

int runLint(const QString& measurementsPath, const QStringList& dictionaryPaths, bool werror)
{
    const QString measurements = measurementsPathOrDefault(measurementsPath);
    const QStringList dictionaries = dictionaryPathsOrDefault(dictionaryPaths);
    if (measurements.isEmpty() || dictionaries.isEmpty()) {
        return ExitFailure;
    }
    // The loader's "NULLCHECK failed." lines are dropped: its findings name each entry.
    QVector<LoadFinding> measurementFindings;
    const std::unique_ptr<MeasurementRegistry> registry
        = loadRegistry(measurements, true, &measurementFindings);
    if (!registry) {
        return ExitFailure;
    }

    // Each file is read once, by the loader; its findings are the library's own.
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

    int warnings = 0;
    int errors = 0;
    print(measurementFindings, &warnings, &errors);
    for (const LoadedDictionary& loaded : loadedDictionaries) {
        if (!loaded.dictionary) {
            continue;
        }
        QVector<LoadFinding> findings = loaded.loader->findings();
        // A point is named as the point provider looks it up: without regard to letter case,
        // among the points of every dictionary given.
        const QVector<DPDictLoader::PointReference> references = loaded.loader->pointReferences();
        for (const DPDictLoader::PointReference& reference : references) {
            if (!pointNames.contains(reference.name.toLower())) {
                LoadFinding finding;
                finding.file = loaded.path;
                finding.line = reference.line;
                finding.text = reference.element + QStringLiteral(" \"") + reference.name
                    + QStringLiteral("\" of point '") + reference.point
                    + QStringLiteral("' names no point of the dictionaries given");
                findings.append(finding);
            }
        }
        print(sortedByLine(findings), &warnings, &errors);
    }

    if (failed) {
        return ExitFailure;
    }
    return errors > 0 || (werror && warnings > 0) ? ExitWarnings : ExitOk;
}

} // namespace tool
} // namespace kivo
