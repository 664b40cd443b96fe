#pragma once

#include "commands.h"

#include <QString>

// The values the panel's controls accept, checked before anything goes to the amplifier.
// Each reader takes a value as typed on the command line; on a bad one it returns false
// with a message naming what is allowed.
namespace Range {

using namespace Command::Limits;

// A, B or C in either case, as 0, 1 or 2.
bool channel(const QString &text, int *channel, QString *error);
bool gain(const QString &text, double *dB, QString *error);
bool rf(const QString &text, bool *on, QString *error);
bool linearity(const QString &text, unsigned *percent, QString *error);
bool powerLimit(const QString &text, double *watts, QString *error);
// `what` names the limit in the message ("max cell temp").
bool temperatureLimit(const QString &what, const QString &text, unsigned *celsius, QString *error);

} // namespace Range
