#pragma once

#include "replies.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// How readings are written for people and scripts alike: the order and names of the six
// readings, times, bytes from the amplifier as safe text, and the rows of a CSV log, so
// that korvane-ctl's log and the panel's export read the same.
namespace ReadingFormat {

// The six readings in the order every output lists them: powers A, B, C, then the cell 1,
// cell 2 and driver temperatures.
constexpr int ReadingCount = 6;
extern const char *const ReadingKeys[ReadingCount];
// The measurement's readings in that order, in tenths.
QVector<double> readingTenths(const Reply::Measurement &meas);

// Bytes from the amplifier as text that cannot steer a terminal: UTF-8 text stays as it is,
// control characters and invalid bytes become \xNN and a backslash becomes \\.
QString printable(const QByteArray &bytes);

// Local time in ISO 8601 with milliseconds.
QString timeText(const QDateTime &time);

QByteArray csvHeader();
QByteArray csvRow(const QDateTime &time, const Reply::Measurement &meas);
// A row from readings in tenths in the order above; a NaN is a reading that was not read
// and leaves its field empty.
QByteArray csvRow(const QDateTime &time, const double *tenths, qint8 statusChar);

} // namespace ReadingFormat
