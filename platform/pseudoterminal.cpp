#include "pseudoterminal.h"

#include <QDir>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool setNonBlockingAndCloseOnExec(int fd)
{
    const int status = ::fcntl(fd, F_GETFL);
    const int descriptor = ::fcntl(fd, F_GETFD);
    return status >= 0 && descriptor >= 0 && ::fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0
           && ::fcntl(fd, F_SETFD, descriptor | FD_CLOEXEC) == 0;
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::fail(const QString &what)
{
    m_error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    close();
    return false;
}

bool PseudoTerminal::open()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(QStringLiteral("posix_openpt"));
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(QStringLiteral("cannot unlock the pseudo-terminal"));
    char path[128] = {};
    if (::ptsname_r(m_master, path, sizeof path) != 0)
        return fail(QStringLiteral("ptsname"));
    if (!setNonBlockingAndCloseOnExec(m_master))
        return fail(QStringLiteral("fcntl"));
    m_slavePath = QString::fromLocal8Bit(path);

    m_slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(QStringLiteral("cannot open %1").arg(m_slavePath));
    // Raw, so that the terminal neither echoes the device's replies back as commands nor
    // rewrites line ends before the serial side sets up the port itself.
    termios settings = {};
    if (::tcgetattr(m_slave, &settings) != 0)
        return fail(QStringLiteral("tcgetattr"));
    ::cfmakeraw(&settings);
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0)
        return fail(QStringLiteral("tcsetattr"));
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

bool PseudoTerminal::isSlaveInUse() const
{
    // The kernel counts the openers but does not say; /proc lists every descriptor.
    const QByteArray path = m_slavePath.toLocal8Bit();
    const QString self = QString::number(::getpid());
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &process : processes) {
        if (process.isEmpty() || !process.at(0).isDigit())
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(process);
        for (const QString &fd : QDir(fdDir).entryList(QDir::Files | QDir::System)) {
            if (process == self && fd.toInt() == m_slave)
                continue;
            char target[256];
            const QByteArray link = (fdDir + QLatin1Char('/') + fd).toLocal8Bit();
            const ssize_t length = ::readlink(link.constData(), target, sizeof target);
            if (length == path.size() && path == QByteArray(target, int(length)))
                return true;
        }
    }
    return false;
}
