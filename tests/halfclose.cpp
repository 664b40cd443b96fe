#include "halfclose.h"

#include "frameassembler.h"

#include <QDeadlineTimer>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Reads from `fd` into frames until `enough` holds, the far end closes, or the time is up.
template<typename Enough>
bool readFrames(int fd, QList<QByteArray> *frames, int timeoutMs, Enough enough)
{
    FrameAssembler assembler;
    const QDeadlineTimer deadline(timeoutMs);
    while (!enough()) {
        pollfd wanted{fd, POLLIN, 0};
        if (::poll(&wanted, 1, int(qMax<qint64>(0, deadline.remainingTime()))) <= 0)
            return false;
        char buffer[4096];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return true; // closed by the far end
        for (ssize_t i = 0; i < count; ++i) {
            if (assembler.push(buffer[i]))
                frames->append(assembler.frame());
        }
    }
    return false;
}

} // namespace

HalfCloseResult askThenHalfClose(quint16 port, const QByteArray &lines, int timeoutMs)
{
    HalfCloseResult result;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::send(fd, lines.constData(), size_t(lines.size()), MSG_NOSIGNAL) != lines.size()
        || ::shutdown(fd, SHUT_WR) != 0) {
        if (fd >= 0)
            ::close(fd);
        return result;
    }
    result.closedByPeer = readFrames(fd, &result.frames, timeoutMs, [] { return false; });
    ::close(fd);
    return result;
}

QList<QByteArray> readFramesFrom(int fd, int count, int timeoutMs)
{
    QList<QByteArray> frames;
    readFrames(fd, &frames, timeoutMs, [&] { return frames.size() >= count; });
    return frames;
}
