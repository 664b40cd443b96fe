#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class QSerialPort;

// What the panel and the console tool need of the machine's serial ports: their list,
// behind one replaceable provider so that tests can offer pseudo-terminals as if they were
// USB adapters, and the blocking waits of the serial link.
namespace Platform {

// At 9600 baud a command line takes a few milliseconds to leave; each send waits at most
// this long for it.
constexpr int SerialWriteWaitMs = 500;

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
// Starts listing the system's ports on a thread of its own (the system's device database
// takes milliseconds to walk); the next availableSerialPorts() without a provider takes
// that list instead of listing again. For a scan that follows within moments, at start-up.
void startSerialPortListing();

// Whether a port's description names one of the USB adapters the amplifier is built with.
// Case matters; the name may stand anywhere in the description.
bool isAmplifierAdapter(const QString &description);
// Whether the scan should ask the port to identify itself: its description names one of
// the adapters, or Linux's generic USB modem driver serves it. That driver is what Windows
// lists as "USB Serial Device"; Linux reports the device's own product string instead.
bool isAmplifierCandidate(const SerialPortEntry &port);

// The kernel driver behind a serial port ("cdc_acm", "ftdi_sio"), read from sysfs; empty
// for a port without one (a pseudo-terminal) or where there is no sysfs.
QString serialPortDriver(const QString &portName);
// Where sysfs is mounted; tests lay out a folder of their own.
void setSysfsRoot(const QString &root);

// Who holds a serial port's lock (Qt's and the UUCP convention's LCK..NAME file), as
// "process 7031 (korvane-agent)"; empty when no living process does.
QString serialPortHolder(const QString &portPath);

// The group that owns a serial port's device file ("dialout"), empty if it cannot be read.
QString serialPortGroup(const QString &portName);

// Blocks the calling thread for the given milliseconds.
void sleepMs(int ms);

// Waits until what was written to the port has left it, or `msecs` have passed: the
// bytes Qt still holds are handed to the system, then the system's output queue drains.
// (QSerialPort::waitForBytesWritten on Unix instead waits out its whole time limit for
// input once its own buffer is empty.) Takes in no input.
bool waitForSerialWritten(QSerialPort *port, int msecs);

// Everything the port has received so far, without waiting for more and without the event
// loop having run since it arrived.
QByteArray takeSerialInput(QSerialPort *port);

// True when the device behind an open serial port's descriptor has hung up (an unplugged
// adapter, or the far end of a pseudo-terminal gone).
bool serialPortHungUp(qintptr handle);

} // namespace Platform
