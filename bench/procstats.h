#pragma once

#include <QtGlobal>

// What the benchmarks read of their own process.
namespace ProcStats {

// CPU time used so far, user and system together, in seconds.
double cpuSeconds();
// CPU time of the calling thread alone, in seconds.
double threadCpuSeconds();
// Resident memory in KiB, from /proc/self/status.
qint64 residentKiB();
// The most resident memory the process has had so far, in KiB.
qint64 peakResidentKiB();

// The same of another process, from /proc.
struct Sample
{
    double cpuSeconds = 0;
    qint64 residentKiB = 0;
};
Sample sampleOf(qint64 pid);

} // namespace ProcStats
