#pragma once

#include <QtGlobal>

#include <vector>

// Looks at what a broker has sent before libmosquitto takes it. The library makes room for a
// packet as large as its header says and reads on while bytes come: a packet larger than
// this client is owed ends the connection before it is read, and one not yet whole is left
// on the socket until it is, so that the library never reads past what was checked.
class MqttPacketGuard
{
public:
    enum class Verdict { Whole, Unfinished, TooMuch };

    // What is looked at in one go at least; more waiting than capacity() is more than is
    // owed.
    static constexpr int PeekBytes = 16 * 1024;

    explicit MqttPacketGuard(quint32 maxPacket)
        : m_maxPacket(maxPacket)
        , m_peek(size_t(qMax<qint64>(PeekBytes, 4 * qint64(maxPacket))))
    {}

    // A subscriber is sent many packets at once (the retained messages on subscribing): its
    // socket is to hold no more than this (MqttConnection sets its receive buffer), so that
    // all that waits is checked before the library reads it.
    int capacity() const { return int(m_peek.size()); }

    // `bytes` start a packet (the library takes whole packets, so the next byte always
    // does). `hungUp`: the broker has closed, and the library is to find the end and say so.
    Verdict check(const unsigned char *bytes, qint64 size, bool hungUp) const;
    // The same for what waits on `socket`, without taking it. Whole for nothing, the end or an
    // error: the library's to find.
    Verdict inspect(int socket) const;

private:
    quint32 m_maxPacket;
    mutable std::vector<unsigned char> m_peek;
};
