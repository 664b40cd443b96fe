#pragma once

// How a serial port is asked whether an amplifier sits behind it: "?" is sent seven times,
// each time with one more line end ("?\r\n", "?\r\n\r\n", ...), and whatever came back
// about 50 ms after the first six is searched for a known model number.
namespace Probe {

constexpr int Sends = 7;
// Time the amplifier gets to answer, after the first six sends have left the port.
constexpr int AnswerMs = 50;
constexpr int FlushWaitMs = 5000;

} // namespace Probe
