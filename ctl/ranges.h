#pragma once

#include "fields.h"

#include <QString>

// The values the panel's controls accept, checked before anything goes to the amplifier.
// Each reader takes a value as typed on the command line; on a bad one it returns false
// with a message naming what is allowed.
namespace Range {

// A, B or C in either case, as 0, 1 or 2.
bool channel(const QString &text, int *channel, QString *error);
// A value of the setting in its unit, within the setting's range; the RF switch takes "on"
// or "off" (as 1 or 0).
bool value(const Reply::SettingInfo &setting, const QString &text, double *value, QString *error);

} // namespace Range
