#include "portscanner.h"

#include "commands.h"
#include "probe.h"
#include "replies.h"

#include <QSerialPort>

QList<PortScanner::Outcome> PortScanner::scan() const
{
    QList<Outcome> outcomes;
    const QList<Platform::SerialPortEntry> ports = Platform::availableSerialPorts();
    for (const Platform::SerialPortEntry &port : ports)
        outcomes.append(scanPort(port));
    return outcomes;
}

PortScanner::Outcome PortScanner::scanPort(const Platform::SerialPortEntry &port) const
{
    Outcome outcome;
    outcome.line = Reply::probeErrorReport(port.name);
    if (!Platform::isAmplifierCandidate(port))
        return outcome;
    QSerialPort serial;
    serial.setPortName(port.name);
    if (!serial.open(QIODevice::ReadWrite))
        return outcome;
    const QByteArray received = probe(&serial);
    serial.close();
    outcome.matched = Reply::probeMatches(received);
    outcome.line = Reply::probeReport(port.name, received);
    return outcome;
}

// The probe is a timing protocol the amplifier's firmware expects, so it blocks just as
// the panel's does: six sends, a flush, the answer time, the seventh send, then the reading.
QByteArray PortScanner::probe(QSerialPort *port)
{
    QString line = QLatin1String(Command::Identify);
    for (int i = 0; i < Probe::Sends - 1; ++i) {
        line += QLatin1String(Command::LineEnd);
        sendProbeLine(port, line);
    }
    port->flush();
    Platform::waitForSerialWritten(port, Probe::FlushWaitMs);
    Platform::sleepMs(Probe::AnswerMs);
    line += QLatin1String(Command::LineEnd);
    sendProbeLine(port, line);
    return Platform::takeSerialInput(port);
}

void PortScanner::sendProbeLine(QSerialPort *port, const QString &line)
{
    port->write(Command::toWire(line));
    port->flush();
    Platform::waitForSerialWritten(port, Platform::SerialWriteWaitMs);
}
