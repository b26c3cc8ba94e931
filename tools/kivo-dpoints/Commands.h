#pragma once

#include <QString>
#include <QStringList>

namespace kivo {
namespace tool {

// Each command returns the process exit status (ExitStatus). An empty measurements path means
// the bundled measurement file; an empty dictionary list means the bundled sample dictionary.

/// A readable table of every definition per dictionary, with a summary line; integer figures in
/// displaySystem (empty: the registry's default).
int runShow(const QString& measurementsPath, const QStringList& dictionaryPaths,
    const QString& displaySystem = QString());
/// One JSON array holding, per dictionary, its name and its definitions' JSON texts.
int runJson(const QString& measurementsPath, const QStringList& dictionaryPaths);
/// Compiler-style warnings for skipped entries and silent surprises in the files.
int runLint(const QString& measurementsPath, const QStringList& dictionaryPaths);
/// The display text and label of raw values of unit in displaySystem (empty: the registry's
/// default), one line per value.
int runConvert(const QString& measurementsPath, const QString& unit, const QStringList& values,
    const QString& displaySystem = QString());

} // namespace tool
} // namespace kivo
