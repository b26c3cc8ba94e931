#include <kivo/core/TopicLogger.h>

#include <QtGlobal>

#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
// windows.h must come first.
#include <psapi.h>
#ifdef _MSC_VER
#pragma comment(lib, "psapi.lib")
#endif
#else
#include <QByteArray>
#include <QFile>
#include <QList>
#endif

namespace kivo {

namespace {

quint32 clampToQuint32(quint64 bytes)
{
    const quint64 largest = (std::numeric_limits<quint32>::max)();
    return static_cast<quint32>(bytes < largest ? bytes : largest);
}

} // namespace

#ifdef Q_OS_WIN

quint32 GetMemoryConsumed()
{
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        return 0;
    }
    return clampToQuint32(counters.PagefileUsage);
}

#else

// VmData is the size of the process's private writable mappings (heap, data segments,
// anonymous memory): memory the process has committed for itself, whether or not it is
// resident, which is what the Windows commit figure reports as well.
quint32 GetMemoryConsumed()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("VmData:")) {
            continue;
        }
        // The line reads "VmData:<blanks><number> kB".
        const QList<QByteArray> fields = line.mid(7).simplified().split(' ');
        if (fields.size() != 2 || fields.at(1) != "kB") {
            return 0;
        }
        bool ok = false;
        const quint64 kiloBytes = fields.at(0).toULongLong(&ok);
        if (!ok) {
            return 0;
        }
        return clampToQuint32(kiloBytes * 1024);
    }
    return 0;
}

#endif

} // namespace kivo
