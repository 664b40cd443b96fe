#pragma once

#include "fields.h"
#include "replies.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// How readings are written for people and scripts alike: the order and names of the six
// readings, times, bytes from the amplifier as safe text, and the rows of a CSV log, so
// that korvane-ctl's log and the panel's export read the same.
namespace ReadingFormat {

// Bytes from the amplifier as text that cannot steer a terminal: UTF-8 text stays as it is,
// control characters and invalid bytes become \xNN and a backslash becomes \\.
QString printable(const QByteArray &bytes);

// Local time with milliseconds and its offset from UTC ("2026-12-08T00:15:53.151+01:00"),
// so that rows written on machines in other zones line up: the journal's and the CSV log's.
QString timeText(const QDateTime &time);

// A field of a CSV row, quoted where its text holds a comma, a quote or a line end.
QString csvField(const QString &text);

QByteArray csvHeader();
QByteArray csvRow(const QDateTime &time, const Reply::Measurement &meas);
// A row from readings in tenths in the order of Reply::Readings; a NaN is a reading that was not
// read and leaves its field empty.
QByteArray csvRow(const QDateTime &time, const double *tenths, qint8 statusChar);

} // namespace ReadingFormat
