#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>

#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QTextStream>

#include <vector>

namespace kivo {
namespace tool {

namespace {

bool isValidJson(const QString& text, QJsonParseError* parseError)
{
    QJsonDocument::fromJson(text.toUtf8(), parseError);
    return parseError->error == QJsonParseError::NoError;
}

// Escapes, in place, every text that a definition's JSON takes as it stands (names, labels,
// defaults, descriptions), so that its JSON renders valid. The dictionary and the registry are
// the tool's own; a converter's label is escaped once however many definitions share it.
void escapeTexts(DPointDef* def, QSet<MeasurementConverter*>* escapedConverters)
{
    const auto escape = [](QString& text) { text = jsonStringLiteralText(text); };
    escape(def->m_variableName);
    escape(def->m_externalName);
    escape(def->m_lineId);
    auto* type = const_cast<DPTypeBase*>(def->m_type);
    if (auto* number = qobject_cast<DPTypeNumber*>(type)) {
        escape(number->m_unitsLabel);
        if (def->m_registry) {
            MeasurementConverter* converter = def->m_registry->getConverter(number->m_units);
            if (!escapedConverters->contains(converter)) {
                escapedConverters->insert(converter);
                escape(converter->m_label);
            }
        }
    } else if (auto* real = qobject_cast<DPTypeReal*>(type)) {
        escape(real->m_unitsLabel);
    } else if (auto* enumeration = qobject_cast<DPTypeEnum*>(type)) {
        for (auto it = enumeration->m_values.begin(); it != enumeration->m_values.end(); ++it) {
            escape(it.value());
        }
    } else if (auto* event = qobject_cast<DPTypeEvent*>(type)) {
        escape(event->m_description);
        escape(event->m_explanation);
        // Several keys may share one record; each record is escaped once.
        QSet<DPTypeEvent::AssociatedVariable*> records;
        QMap<QString, DPTypeEvent::AssociatedVariable*> escaped;
        for (auto it = event->m_associatedVariables.cbegin();
             it != event->m_associatedVariables.cend(); ++it) {
            if (it.value() && !records.contains(it.value())) {
                records.insert(it.value());
                it.value()->names = jsonStringLiteralText(it.value()->names.simplified());
            }
            escaped.insert(jsonStringLiteralText(it.key()), it.value());
        }
        event->m_associatedVariables = escaped;
    } else if (auto* text = qobject_cast<DPTypeString*>(type)) {
        escape(text->m_default);
        escape(text->m_format);
    } else if (auto* address = qobject_cast<DPTypeIPv4*>(type)) {
        escape(address->m_default);
    }
}

} // namespace

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
    QSet<MeasurementConverter*> escapedConverters;
    QString document = QStringLiteral("[\n");
    for (std::size_t i = 0; i < loadedDictionaries.size(); ++i) {
        const LoadedDictionary& loaded = loadedDictionaries[i];
        const QList<DPointDef*> defs = loaded.dictionary->getAllDefs();
        document += QStringLiteral("  {\"name\":\"") + jsonStringLiteralText(loaded.name)
            + QStringLiteral("\", \"definitions\":[");
        for (int j = 0; j < defs.size(); ++j) {
            // The library's text goes out as it is when it is valid JSON. Otherwise its texts
            // are escaped; should that not help (a real limit of nan, say), the text goes out
            // as one JSON string.
            QString text = defs.at(j)->getTypeJson();
            QJsonParseError parseError;
            if (!isValidJson(text, &parseError)) {
                const QString problem = loaded.path + QStringLiteral(": the JSON text of point '")
                    + defs.at(j)->objectName() + QStringLiteral("' is not valid JSON (")
                    + parseError.errorString() + QStringLiteral(" at offset ")
                    + QString::number(parseError.offset) + QStringLiteral("); ");
                escapeTexts(defs.at(j), &escapedConverters);
                const QString escaped = defs.at(j)->getTypeJson();
                if (isValidJson(escaped, &parseError)) {
                    printError(problem + QStringLiteral("its texts are escaped here"));
                    text = escaped;
                } else {
                    printError(problem + QStringLiteral("it is given here as a JSON string"));
                    text = QLatin1Char('"') + jsonStringLiteralText(text) + QLatin1Char('"');
                }
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
