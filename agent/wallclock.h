#pragma once

#include <QDateTime>

#include <functional>

// Milliseconds since the epoch: the system's, or a test's, so that delays, shelves and
// leases can run on a clock the test turns.
using WallClock = std::function<qint64()>;

inline WallClock systemClock()
{
    return [] { return QDateTime::currentMSecsSinceEpoch(); };
}
