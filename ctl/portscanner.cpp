#include "portscanner.h"

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
    const QByteArray received = Probe::run(&serial);
    serial.close();
    outcome.matched = Reply::probeMatches(received);
    outcome.line = Reply::probeReport(port.name, received);
    return outcome;
}
