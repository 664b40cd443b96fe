#pragma once

#include <QtGlobal>

// What the benchmarks read of their own process.
namespace ProcStats {

// CPU time used so far, user and system together, in seconds.
double cpuSeconds();
// Resident memory in KiB, from /proc/self/status.
qint64 residentKiB();

} // namespace ProcStats
