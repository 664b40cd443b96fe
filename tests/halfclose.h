#pragma once

#include <QByteArray>
#include <QList>

// A client that sends its lines and then shuts down its sending side, as
// `printf 'Meas\r\n' | socat -t 1 - TCP:HOST:PORT` does, with a real shutdown(SHUT_WR).
struct HalfCloseResult
{
    QList<QByteArray> frames;  // every reply frame received
    bool closedByPeer = false; // the other side closed the connection after them
};

// Connects to 127.0.0.1:`port`, sends `lines`, shuts down its sending side and reads until
// the other side closes or `timeoutMs` pass.
HalfCloseResult askThenHalfClose(quint16 port, const QByteArray &lines, int timeoutMs);

// Reads reply frames from descriptor `fd` until there are `count`, it closes, or
// `timeoutMs` pass.
QList<QByteArray> readFramesFrom(int fd, int count, int timeoutMs);
