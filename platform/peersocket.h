#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QTcpSocket;

// An accepted TCP connection whose sending side outlives the peer's: a client may send its
// lines and then shut down its own sending side (`shutdown(SHUT_WR)`, `socat -t 1`) and
// still wait for the answers. Qt closes a socket as soon as the peer's side ends, so this
// keeps a second descriptor of it and writes through that one: what is still due goes out,
// then the connection is closed. Reading stays with the QTcpSocket. An encrypted socket
// (QSslSocket), which only it can encrypt for, and a socket without a descriptor to spare are
// written through the QTcpSocket, and there the peer's half-close ends the connection.
class PeerSocket : public QObject
{
    Q_OBJECT

public:
    // Takes `socket` over.
    explicit PeerSocket(QTcpSocket *socket, QObject *parent = nullptr);
    ~PeerSocket() override;

    QTcpSocket *socket() const { return m_socket; }
    bool isOpen() const { return m_open; }
    // Queues bytes and sends what the connection takes now.
    void write(const QByteArray &bytes);
    // Bytes written but not yet taken by the connection.
    qint64 bytesToWrite() const;
    // Sends what is queued, then closes; closed() follows.
    void finish();
    // Closes at once and drops what is queued; no signal follows.
    void abort();

signals:
    // The peer will send nothing more; it may still be reading.
    void peerFinished();
    // The connection ended on its own: finished, or lost.
    void closed();

private:
    void onSocketGone();
    void flush();
    void closeNow();

    QTcpSocket *m_socket = nullptr;
    int m_fd = -1;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_out;
    bool m_open = false;
    bool m_finishing = false;
    bool m_peerFinished = false;
};
