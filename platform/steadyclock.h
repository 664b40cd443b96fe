#pragma once

#include <QtGlobal>

namespace Platform {

// Milliseconds on a clock that neither steps with the wall clock (NTP, a person setting
// the time) nor stops while the machine sleeps, so that time spans between readings are
// the real ones. Its start is arbitrary.
qint64 steadyClockMs();

} // namespace Platform
