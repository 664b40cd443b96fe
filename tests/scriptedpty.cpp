#include "scriptedpty.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSocketNotifier>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

ScriptedPty::ScriptedPty(QObject *parent)
    : QObject(parent)
{}

ScriptedPty::~ScriptedPty()
{
    hangUp();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool ScriptedPty::open()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return false;
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    m_slave = ::open(m_slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return false;
    termios raw;
    ::tcgetattr(m_slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave, TCSANOW, &raw);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ScriptedPty::readMaster);
    return true;
}

void ScriptedPty::send(const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

void ScriptedPty::hangUp()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

void ScriptedPty::readMaster()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n > 0) {
        m_received.append(buffer, int(n));
        emit bytesReceived();
    }
}

int ScriptedPty::count(const QByteArray &line) const
{
    int found = 0;
    for (const QByteArray &part : m_received.split('\n')) {
        if ((part.endsWith('\r') ? part.chopped(1) : part) == line)
            ++found;
    }
    return found;
}

bool ScriptedPty::waitForLine(const QByteArray &line, int times)
{
    QSignalSpy spy(this, &ScriptedPty::bytesReceived);
    QElapsedTimer clock;
    clock.start();
    while (count(line) < times) {
        const qint64 left = TimeoutMs - clock.elapsed();
        if (left <= 0 || !spy.wait(int(left)))
            return count(line) >= times;
    }
    return true;
}
