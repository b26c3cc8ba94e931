#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QJsonDocument>
#include <QJsonParseError>
#include <QTextStream>

#include <vector>

namespace kivo {
namespace tool {

int runJson(const QString& measurementsPath, const QStringList& dictionaryPaths)
{
    const QString measurements = measurementsPathOrDefault(measurementsPath);
    const QStringList dictionaries = dictionaryPathsOrDefault(dictionaryPaths);
    if (measurements.isEmpty() || dictionaries.isEmpty()) {
        return ExitFailure;
    }
    const std::unique_ptr<MeasurementRegistry> registry = loadRegistry(measurements, false);
    if (!registry) {
        return ExitFailure;
    }

    // All files are loaded first: a document with some dictionaries missing would look whole.
    std::vector<LoadedDictionary> loadedDictionaries;
    bool allLoaded = true;
    for (const QString& path : dictionaries) {
        loadedDictionaries.push_back(loadDictionary(path, registry.get()));
        allLoaded = allLoaded && loadedDictionaries.back().dictionary;
    }
    if (!allLoaded) {
        return ExitFailure;
    }

    int status = ExitOk;
    QString document = QStringLiteral("[\n");
    for (std::size_t i = 0; i < loadedDictionaries.size(); ++i) {
        const LoadedDictionary& loaded = loadedDictionaries[i];
        const QList<DPointDef*> defs = loaded.dictionary->getAllDefs();
        document += QStringLiteral("  {\"name\":\"") + jsonStringLiteralText(loaded.name)
            + QStringLiteral("\", \"definitions\":[");
        for (int j = 0; j < defs.size(); ++j) {
            // The library's text goes out as it is; it is only checked, never re-encoded.
            const QString text = defs.at(j)->getTypeJson();
            QJsonParseError parseError;
            QJsonDocument::fromJson(text.toUtf8(), &parseError);
            if (parseError.error != QJsonParseError::NoError) {
                printError(loaded.path + QStringLiteral(": the JSON text of point '")
                    + defs.at(j)->objectName() + QStringLiteral("' is not valid JSON (")
                    + parseError.errorString() + QStringLiteral(" at offset ")
                    + QString::number(parseError.offset) + QLatin1Char(')'));
                status = ExitWarnings;
            }
            document += (j == 0 ? QStringLiteral("\n    ") : QStringLiteral(",\n    ")) + text;
        }
        document += defs.isEmpty() ? QStringLiteral("]}") : QStringLiteral("\n  ]}");
        document
            += i + 1 < loadedDictionaries.size() ? QStringLiteral(",\n") : QStringLiteral("\n");
    }
    document += QStringLiteral("]\n");
    out() << document;
    return status;
}

} // namespace tool
} // namespace kivo
