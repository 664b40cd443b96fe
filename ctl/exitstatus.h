#pragma once

// What korvane-ctl's exit status tells a script.
namespace ExitStatus {

constexpr int Success = 0;
// The link could not be opened or was lost, a reply did not come, or a setting did not take.
constexpr int Failure = 1;
// A bad command line or value; nothing was sent.
constexpr int Usage = 2;

} // namespace ExitStatus
