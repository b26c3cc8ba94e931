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
/// The loaders' findings, compiler style, and ShowVar and associated-variable names that name no
/// point of the dictionaries given; with werror, warnings fail as errors do.
int runLint(const QString& measurementsPath, const QStringList& dictionaryPaths, bool werror);
/// The display text and label of raw values of unit in displaySystem (empty: the registry's
/// default), one line per value.
int runConvert(const QString& measurementsPath, const QString& unit, const QStringList& values,
    const QString& displaySystem = QString());

/// How the remote commands reach the broker and the device.
struct RemoteOptions
{
    QString broker;
    QString device;
    QString prefix;
    QString user;
    QString password;
    QString caFile;
    QString certFile;
    QString keyFile;
    QString clientId;
    QString displaySystem; ///< the panel's display system; empty: the registry's default
    int keepAlive = 0;
    int timeoutMs = 0;
    int count = 0;
    QString homeAssistant; ///< discovery prefix; empty: no discovery
    bool clearRetained = false;
    bool simulate = false;
    QStringList refused;
};

/// Shares the files' points on the broker as options.device until interrupted.
int runPublish(const RemoteOptions& options, const QString& measurementsPath,
    const QStringList& dictionaryPaths);
/// Prints every change of the named points (all without names) of options.device.
int runWatch(const RemoteOptions& options, const QStringList& pointNames);
/// Writes value (display units) to a point of options.device and prints the device's answer.
int runWrite(const RemoteOptions& options, const QString& pointName, const QString& value);

} // namespace tool
} // namespace kivo
