#include "appstate.h"

namespace App {

QString commandBuffer;
int serialLinkUp = 0;
int tcpLinkUp = 0;
int swallowNextCommand = 0;
int lastStatusCode = 0;
FrameAssembler receiveBuffer;
quint16 amplifierTcpPort = DefaultAmplifierTcpPort;

void resetState()
{
    commandBuffer.clear();
    serialLinkUp = 0;
    tcpLinkUp = 0;
    swallowNextCommand = 0;
    lastStatusCode = 0;
    receiveBuffer.clear();
}

} // namespace App
