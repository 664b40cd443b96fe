#include "serialports.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace Platform {

namespace {

QList<SerialPortEntry> systemPorts()
{
    QList<SerialPortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.description(), info.productIdentifier()});
    return ports;
}

const char *const AdapterMarkers[] = {"USB Serial Device", "CCS USB to UART"};
const char GenericUsbModemDriver[] = "cdc_acm";

QString &sysfsRoot()
{
    static QString root = QStringLiteral("/sys");
    return root;
}

// The device file of a port given by name ("ttyACM0") or by path.
QString devicePath(const QString &portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

SerialPortProvider &installedProvider()
{
    static SerialPortProvider provider;
    return provider;
}

std::future<QList<SerialPortEntry>> &startedListing()
{
    static std::future<QList<SerialPortEntry>> listing;
    return listing;
}

} // namespace

QList<SerialPortEntry> availableSerialPorts()
{
    const SerialPortProvider &provider = installedProvider();
    if (provider)
        return provider();
    std::future<QList<SerialPortEntry>> &listing = startedListing();
    return listing.valid() ? listing.get() : systemPorts();
}

void startSerialPortListing()
{
    startedListing() = std::async(std::launch::async, systemPorts);
}

void setSerialPortProvider(SerialPortProvider provider)
{
    installedProvider() = std::move(provider);
}

bool isAmplifierAdapter(const QString &description)
{
    for (const char *marker : AdapterMarkers) {
        if (description.contains(QLatin1String(marker), Qt::CaseSensitive))
            return true;
    }
    return false;
}

bool isAmplifierCandidate(const SerialPortEntry &port)
{
    return isAmplifierAdapter(port.description)
           || serialPortDriver(port.name) == QLatin1String(GenericUsbModemDriver);
}

QString serialPortDriver(const QString &portName)
{
    const QString tty = QFileInfo(portName).fileName();
    const QString link = QStringLiteral("%1/class/tty/%2/device/driver").arg(sysfsRoot(), tty);
    const QString target = QFileInfo(link).canonicalFilePath();
    return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

void setSysfsRoot(const QString &root)
{
    sysfsRoot() = root;
}

QString serialPortGroup(const QString &portName)
{
    return QFileInfo(devicePath(portName)).group();
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

// Bytes the system still has to send on the port; 0 when it cannot tell.
int systemOutputQueue(QSerialPort *port)
{
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int queued = 0;
    if (::ioctl(int(port->handle()), TIOCOUTQ, &queued) == 0)
        return queued;
#else
    Q_UNUSED(port);
#endif
    return 0;
}

} // namespace

bool waitForSerialWritten(QSerialPort *port, int msecs)
{
    const QDeadlineTimer deadline(msecs);
    while (port->bytesToWrite() > 0) {
        if (deadline.hasExpired() || !port->waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    // At 9600 baud a byte takes about a millisecond to leave.
    while (systemOutputQueue(port) > 0) {
        if (deadline.hasExpired())
            return false;
        sleepMs(1);
    }
    return true;
}

QByteArray takeSerialInput(QSerialPort *port)
{
    while (port->waitForReadyRead(0)) {
    }
    return port->readAll();
}

bool serialPortHungUp(qintptr handle)
{
#ifdef Q_OS_UNIX
    if (handle < 0)
        return false;
    pollfd fd = {int(handle), POLLIN, 0};
    if (::poll(&fd, 1, 0) < 0)
        return false;
    return fd.revents & (POLLHUP | POLLERR | POLLNVAL);
#else
    Q_UNUSED(handle);
    return false;
#endif
}

QString serialPortHolder(const QString &portPath)
{
    QString name = portPath;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : {"/var/lock", "/run/lock", "/tmp"}) {
        QFile lock(QStringLiteral("%1/LCK..%2").arg(QLatin1String(folder), name));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        // The holder's process number, then (Qt's lock files) its program's name.
        const QList<QByteArray> lines = lock.read(4096).split('\n');
        bool ok = false;
        const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
        if (!ok || pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno != EPERM))
            continue;
        QString program = QString::fromLocal8Bit(lines.value(1).trimmed());
        if (program.isEmpty()) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (comm.open(QIODevice::ReadOnly))
                program = QString::fromLocal8Bit(comm.readAll().trimmed());
        }
        return program.isEmpty() ? QStringLiteral("process %1").arg(pid)
                                 : QStringLiteral("process %1 (%2)").arg(pid).arg(program);
    }
    return QString();
}

} // namespace Platform
