#pragma once

#include "frameassembler.h"

#include <QString>

// The state the window's slots share for the whole run, kept outside the window so that
// the command channel, the links and the reply reader all see one copy. GUI thread only.
namespace App {

// The next command line; every sender replaces it, SendCommand appends the line end.
extern QString commandBuffer;
// 1 while the serial port is open as the link; SendCommand writes to it then.
extern int serialLinkUp;
// 1 while the socket is connected; SendCommand writes to it and the reader reads from it.
extern int tcpLinkUp;
// When 1, the next SendCommand sends nothing: set while a reply changes a control, so
// the command that the control's own slot then forms is not echoed to the amplifier.
extern int swallowNextCommand;
// Status character of the last measurement reply; StatusRedraw forces the next redraw.
extern int lastStatusCode;
constexpr int StatusRedraw = 1000;
// Reply bytes gathered into frames; outlives links, as a frame may straddle reconnects.
extern FrameAssembler receiveBuffer;

// The amplifier's TCP port. Fixed for the amplifier; tests point it at a simulator on a
// free port.
extern quint16 amplifierTcpPort;
constexpr quint16 DefaultAmplifierTcpPort = 2101;

// Back to the state at start-up, for a fresh window in tests.
void resetState();

} // namespace App
