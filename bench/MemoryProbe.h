#pragma once

#include <QtGlobal>

#include <functional>

namespace kivo {
namespace bench {

/// What one measurement in a child process found.
struct ChildMeasurement
{
    bool ok = false;
    /// Growth of the peak resident set (VmHWM) over the resident set at the start, in bytes.
    qint64 peakGrowth = 0;
    /// What the work returned.
    qint64 value = 0;
};

/// Runs work in a forked child process and reports its peak memory growth and its result; ok is
/// false when the child could not be started or did not report.
ChildMeasurement measureInChild(const std::function<qint64()>& work);

/// Bytes of heap in use (mallinfo2: allocated chunks plus mmapped blocks).
qint64 heapInUse();

} // namespace bench
} // namespace kivo
