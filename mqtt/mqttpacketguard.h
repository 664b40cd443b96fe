#pragma once

#include <QtGlobal>

// Looks at what a broker has sent before libmosquitto takes it. The library makes room for a
// packet as large as its header says and reads on while bytes come: a packet larger than
// this client is owed ends the connection before it is read, and one not yet whole is left
// on the socket until it is, so that the library never reads past what was checked.
class MqttPacketGuard
{
public:
    enum class Verdict { Whole, Unfinished, TooMuch };

    // What is looked at in one go; more waiting than this is more than is owed.
    static constexpr int PeekBytes = 16 * 1024;

    explicit MqttPacketGuard(quint32 maxPacket)
        : m_maxPacket(maxPacket)
    {}

    // `bytes` start a packet (the library takes whole packets, so the next byte always
    // does). `hungUp`: the broker has closed, and the library is to find the end and say so.
    Verdict check(const unsigned char *bytes, qint64 size, bool hungUp) const;
    // The same for what waits on `socket`, without taking it. Whole for nothing, the end or an
    // error: the library's to find.
    Verdict inspect(int socket) const;

private:
    quint32 m_maxPacket;
    mutable unsigned char m_peek[PeekBytes];
};
