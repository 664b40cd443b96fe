#include "probe.h"

#include "commands.h"
#include "serialports.h"

#include <QSerialPort>
#include <QString>

namespace Probe {

QByteArray run(QSerialPort *port, const Sender &sendNext)
{
    for (int i = 0; i < Sends - 1; ++i)
        sendNext();
    port->flush();
    Platform::waitForSerialWritten(port, FlushWaitMs);
    Platform::sleepMs(AnswerMs);
    sendNext();
    return Platform::takeSerialInput(port);
}

QByteArray run(QSerialPort *port)
{
    // The line keeps its line ends, as the panel's command buffer does.
    QString line = QLatin1String(Command::Identify);
    return run(port, [port, &line] {
        line += QLatin1String(Command::LineEnd);
        port->write(Command::toWire(line));
        port->flush();
        Platform::waitForSerialWritten(port, Platform::SerialWriteWaitMs);
    });
}

} // namespace Probe
