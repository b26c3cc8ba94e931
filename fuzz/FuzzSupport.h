#pragma once

// Helpers shared by the fuzz targets.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace kivo::fuzz {

// Qt's log output would dominate the run time and flood the fuzzer's console.
inline void silenceQtMessages()
{
    static const bool installed = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(installed)
}

// A failed property: report it and abort, so that the fuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

// The loaders read files: the input is written to one scratch file of this process, rewritten
// for every input, in a directory removed when the process ends.
inline QString writeScratchFile(const uint8_t* data, size_t size)
{
    static QTemporaryDir directory;
    static const QString path = directory.filePath(QStringLiteral("input.xml"));
    QFile file(path);
    if (!directory.isValid() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) {
        fail("cannot write the scratch file");
    }
    return path;
}

} // namespace kivo::fuzz
