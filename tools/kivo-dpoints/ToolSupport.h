#pragma once

#include <kivo/core/LoadFinding.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementRegistry.h>

#include <QDomDocument>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QTextStream;

namespace kivo {

class DPTypeBase;

namespace tool {

/// Exit statuses shared by every command.
enum ExitStatus {
    ExitOk = 0,
    /// The command did its work but found problems (lint findings, invalid JSON, unknown unit).
    ExitWarnings = 1,
    /// A file could not be loaded or the command line was wrong.
    ExitFailure = 2
};

/// The program name used as the prefix of every message on stderr.
extern const QString programName;

/// UTF-8 text stream on the standard output.
QTextStream& out();
/// UTF-8 text stream on the standard error output.
QTextStream& err();
/// Writes "kivo-dpoints: " + message as one line on stderr.
void printError(const QString& message);

/// Routes Qt's log output: library debug and info lines are dropped, warnings and criticals go
/// to stderr prefixed "kivo-dpoints: library: ", unless a LogCapture is active.
void installLogHandler();

/// While alive, warning and critical log messages are collected instead of printed.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// The messages collected so far, outer quotes of debug-stream strings removed.
    QStringList messages() const;

private:
    QStringList* m_previous = nullptr;
    QStringList m_messages;
};

/// The path of a bundled sample file: first where an installation puts it, relative to the
/// executable, then in the source tree; empty when neither exists.
QString bundledDataFile(const QString& fileName);

/// The measurement file given with -m, or the bundled one; empty (after an error line) when
/// no path was given and nothing is bundled.
QString measurementsPathOrDefault(const QString& given);
/// The dictionaries given, or the bundled sample; empty (after an error line) when none was
/// given and nothing is bundled.
QStringList dictionaryPathsOrDefault(const QStringList& given);

/// Writes "path:line: error: explanation (library: libraryText)" on stderr; without ":line"
/// when line is 0, without the library part when libraryText is empty.
void printFileError(
    const QString& path, int line, const QString& explanation, const QString& libraryText);

/// The registry of the measurement file at path; null after a file error line on stderr.
/// With quiet, the loader's per-entry messages are dropped (the caller reports them itself).
/// With findings, the loader's findings.
std::unique_ptr<MeasurementRegistry> loadRegistry(
    const QString& path, bool quiet, QVector<LoadFinding>* findings = nullptr);

/// Makes id (when not empty) the display system of registry, loaded from path; false after a
/// warning on stderr when the file declares no such MSystemDef.
bool chooseDisplaySystem(MeasurementRegistry* registry, const QString& id, const QString& path);

/// One dictionary file loaded through DPDictLoader. The loader is kept: it answers
/// getEnumDef from this file's EnumDefs.
struct LoadedDictionary
{
    QString path;
    QString name;
    std::unique_ptr<DPDictLoader> loader;
    std::unique_ptr<DPointDictionary> dictionary;
};

/// The dictionary name of a file: its base name (up to the last suffix).
QString dictionaryName(const QString& path);
/// The dictionary at path loaded with registry; its dictionary is null after a file error line
/// on stderr that keeps the loader's error text.
LoadedDictionary loadDictionary(const QString& path, MeasurementRegistry* registry);

/// A file parsed with line numbers, as DPDictLoader::readDocument parses it; false with a message
/// when it cannot be read or parsed. With line, the message leaves the line out and line
/// receives it.
bool parseDocument(
    const QString& path, QDomDocument* document, QString* errorMessage, int* line = nullptr);

/// The JSON "type" tag of a type descriptor ("int", "qreal", ...); "?" for none.
QString typeTag(const DPTypeBase* type);
/// Text made safe inside a JSON string: jsonStringEscape, then the control characters it
/// leaves alone written as \u escapes.
QString jsonStringLiteralText(const QString& text);

} // namespace tool
} // namespace kivo
