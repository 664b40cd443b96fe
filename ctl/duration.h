#pragma once

#include <QString>

// How long a lease is taken or an alarm shelved, as a person types it: "90s", "30m", "8h",
// "1h30m", or a bare number of seconds.
namespace Duration {

constexpr int MaxSeconds = 366 * 24 * 3600;

// Whole seconds from 1 to MaxSeconds; false with `error` set for anything else.
bool parse(const QString &text, int *seconds, QString *error);

} // namespace Duration
