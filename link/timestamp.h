#pragma once

#include <QDateTime>
#include <QString>

// Local time with milliseconds and its offset from UTC ("2026-12-08T00:15:53.151+01:00"),
// so that rows written on machines in other zones line up: the journal's and the CSV log's.
inline QString timestampText(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
