#include "serialports.h"

#include <QSerialPortInfo>

#include <chrono>
#include <thread>

#ifdef Q_OS_UNIX
#include <poll.h>
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

SerialPortProvider &installedProvider()
{
    static SerialPortProvider provider;
    return provider;
}

} // namespace

QList<SerialPortEntry> availableSerialPorts()
{
    const SerialPortProvider &provider = installedProvider();
    return provider ? provider() : systemPorts();
}

void setSerialPortProvider(SerialPortProvider provider)
{
    installedProvider() = std::move(provider);
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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

} // namespace Platform
