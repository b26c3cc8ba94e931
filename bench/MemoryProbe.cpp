#include "MemoryProbe.h"

#include <QByteArray>
#include <QFile>

#include <cstring>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kivo {
namespace bench {

namespace {

// A field of /proc/self/status in bytes (the file gives kB); -1 when it is missing.
qint64 statusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const QByteArray key = QByteArray(field) + ':';
    const int at = text.indexOf(key);
    if (at < 0)
        return -1;
    const int end = text.indexOf('\n', at);
    const QByteArray value = text.mid(at + key.size(), end - at - key.size()).trimmed();
    return value.split(' ').value(0).toLongLong() * 1024;
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
}

ChildMeasurement measureInChild(const std::function<qint64()>& work)
{
    ChildMeasurement result;
    int fds[2];
    if (::pipe(fds) != 0)
        return result;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (pid == 0) {
        ::close(fds[0]);
        // A fork starts its peak at the resident set it inherits; resetting it here as well
        // keeps the figure right on kernels that carry the parent's peak over.
        QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
        if (clearRefs.open(QIODevice::WriteOnly))
            clearRefs.write("5");
        clearRefs.close();
        const qint64 start = statusBytes("VmRSS");
        ChildMeasurement measured;
        measured.value = work();
        measured.peakGrowth = statusBytes("VmHWM") - start;
        measured.ok = start >= 0;
        writeAll(fds[1], &measured, sizeof measured);
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildMeasurement received;
    size_t got = 0;
    char* into = reinterpret_cast<char*>(&received);
    while (got < sizeof received) {
        const ssize_t n = ::read(fds[0], into + got, sizeof received - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got == sizeof received && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        result = received;
    return result;
}

} // namespace bench
} // namespace kivo
