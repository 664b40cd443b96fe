#pragma once

#include <QByteArray>

#include <functional>

class QSerialPort;

// How a serial port is asked whether an amplifier sits behind it: "?" is sent seven times,
// each time with one more line end ("?\r\n", "?\r\n\r\n", ...), and whatever came back
// about 50 ms after the first six is searched for a known model number. The panel's scan
// and korvane-ctl's both run it from here, so that they send the same bytes at the same
// moments.
namespace Probe {

constexpr int Sends = 7;
// Time the amplifier gets to answer, after the first six sends have left the port.
constexpr int AnswerMs = 50;
constexpr int FlushWaitMs = 5000;

// Puts the next probe line on the port and waits until it has left: the n-th call sends
// "?" with n line ends.
using Sender = std::function<void()>;

// Runs the probe on an open port through `sendNext`, and returns everything the port sent
// back. It blocks throughout: the amplifier's firmware expects the timing, not an exchange.
QByteArray run(QSerialPort *port, const Sender &sendNext);
// Runs the probe on an open port that nothing else writes to, each line sent on its own.
QByteArray run(QSerialPort *port);

} // namespace Probe
