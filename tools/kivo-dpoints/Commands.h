#pragma once

#include <QString>
#include <QStringList>

namespace kivo {
namespace tool {

// Each command returns the process exit status (ExitStatus). An empty measurements path means
// the bundled measurement file; an empty dictionary list means the bundled sample dictionary.

/// A readable table of every definition per dictionary, with a summary line.
int runShow(const QString& measurementsPath, const QStringList& dictionaryPaths);
/// One JSON array holding, per dictionary, its name and its definitions' JSON texts.
int runJson(const QString& measurementsPath, const QStringList& dictionaryPaths);
/// The loaders' findings, compiler style, and ShowVar and associated-variable names that name no
/// point of the dictionaries given; with werror, warnings fail as errors do.
int runLint(const QString& measurementsPath, const QStringList& dictionaryPaths, bool werror);
/// The display text and label of raw values of unit, one line per value.
int runConvert(const QString& measurementsPath, const QString& unit, const QStringList& values);

} // namespace tool
} // namespace kivo
