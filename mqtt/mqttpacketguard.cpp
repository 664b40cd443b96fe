#include "mqttpacketguard.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

bool hungUp(int socket)
{
    pollfd hangUp = {socket, POLLRDHUP, 0};
    return ::poll(&hangUp, 1, 0) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

} // namespace

MqttPacketGuard::Verdict MqttPacketGuard::check(const unsigned char *bytes,
                                                qint64 size,
                                                bool hungUp) const
{
    qint64 at = 0;
    while (at < size) {
        // A fixed header: one byte of type and flags, then the remaining length in up to four
        // bytes of seven bits each.
        quint32 length = 0;
        qint64 next = at + 1;
        for (int shift = 0;; shift += 7, ++next) {
            if (next >= size)
                return hungUp ? Verdict::Whole : Verdict::Unfinished;
            if (shift > 21)
                return Verdict::TooMuch;
            length |= quint32(bytes[next] & 0x7f) << shift;
            if (!(bytes[next] & 0x80))
                break;
        }
        if (length > m_maxPacket)
            return Verdict::TooMuch;
        at = next + 1 + qint64(length);
    }
    return at == size || hungUp ? Verdict::Whole : Verdict::Unfinished;
}

MqttPacketGuard::Verdict MqttPacketGuard::inspect(int socket) const
{
    int available = 0;
    if (::ioctl(socket, FIONREAD, &available) != 0 || available <= 0)
        return Verdict::Whole;
    if (available > capacity())
        return Verdict::TooMuch;
    const ssize_t got = ::recv(socket, m_peek.data(), m_peek.size(), MSG_PEEK | MSG_DONTWAIT);
    if (got <= 0)
        return Verdict::Whole;
    return check(m_peek.data(), got, ::hungUp(socket));
}
