#pragma once

#include "invocation.h"
#include "readingformat.h"
#include "replies.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// How korvane-ctl shows what the amplifier said: aligned tables for people, JSON and CSV
// for scripts. The JSON keys and CSV columns share their names and stay stable.
namespace Output {

// The model number of an identification frame, without the line ends and frame end
// that short frames bring along; for JSON, which escapes what it must.
QString modelNumber(const QByteArray &frame);
// The same for a terminal: control characters and bytes that are not UTF-8 escaped.
QString shownModelNumber(const QByteArray &frame);

using ReadingFormat::printable;

QString statusTable(const Reply::Status &status);
QJsonObject statusObject(const Reply::Status &status);

QString measTable(const Reply::Measurement &meas);
QJsonObject measObject(const Reply::Measurement &meas);

// One reading per line for `meas --watch`, under a header printed once.
QString watchHeader();
QString watchLine(const QDateTime &time, const Reply::Measurement &meas);
QJsonObject watchObject(const QDateTime &time, const Reply::Measurement &meas);

// The --csv rows, the same as the panel exports.
using ReadingFormat::csvHeader;
using ReadingFormat::csvRow;

// korvane-agent's answers, for people: the alarms and the lease as tables, the rest as a
// line of what was done. The agent's texts are escaped as the amplifier's are.
QString alarmsTable(const QJsonObject &answer);
QString leaseTable(const QJsonObject &lease);
QString agentAnswer(Invocation::Command command, const QJsonObject &answer);

QByteArray json(const QJsonObject &object, bool compact);

// Whole lines to standard output and error, flushed, so that a pipe sees each at once.
void print(const QString &text);
void printError(const QString &message);

} // namespace Output
