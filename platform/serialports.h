#pragma once

#include <QList>
#include <QString>

#include <functional>

// What the port scan needs to know of the machine's serial ports, behind one replaceable
// provider, so that tests can offer pseudo-terminals as if they were USB adapters.
namespace Platform {

struct SerialPortEntry
{
    QString name; // as the system names it; a full device path works too
    QString description;
    quint16 productIdentifier = 0; // 0 when the port reports none
};

using SerialPortProvider = std::function<QList<SerialPortEntry>()>;

// The ports in the system's order, from the installed provider.
QList<SerialPortEntry> availableSerialPorts();
// Installs a provider; an empty one restores the system's list.
void setSerialPortProvider(SerialPortProvider provider);

// Blocks the calling thread for the given milliseconds.
void sleepMs(int ms);

// True when the device behind an open serial port's descriptor has hung up (an unplugged
// adapter, or the far end of a pseudo-terminal gone).
bool serialPortHungUp(qintptr handle);

} // namespace Platform
