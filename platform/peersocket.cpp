#include "peersocket.h"

#include <QSocketNotifier>
#include <QSslSocket>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

PeerSocket::PeerSocket(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    // Only an encrypted socket itself can encrypt what goes out: it keeps no second descriptor.
    const auto *secure = qobject_cast<QSslSocket *>(m_socket);
    if (!secure || !secure->isEncrypted())
        m_fd = ::fcntl(int(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (m_fd >= 0) {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        m_writeNotifier->setEnabled(false);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &PeerSocket::flush);
    }
    // Encrypted, or out of descriptors, the replies go through the socket itself: the peer is
    // still answered, though no longer once it has shut down its sending side.
    m_open = m_socket->state() == QAbstractSocket::ConnectedState;
    connect(m_socket, &QTcpSocket::disconnected, this, &PeerSocket::onSocketGone);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &PeerSocket::onSocketGone);
}

PeerSocket::~PeerSocket()
{
    abort();
}

void PeerSocket::write(const QByteArray &bytes)
{
    if (!m_open || m_finishing)
        return;
    if (m_fd < 0) {
        m_socket->write(bytes);
        return;
    }
    m_out += bytes;
    flush();
}

qint64 PeerSocket::bytesToWrite() const
{
    return m_fd >= 0 ? m_out.size() : m_socket->bytesToWrite();
}

void PeerSocket::finish()
{
    if (!m_open || m_finishing)
        return;
    m_finishing = true;
    if (m_fd < 0)
        m_socket->disconnectFromHost(); // disconnected() once what is queued has gone
    else
        flush();
}

void PeerSocket::abort()
{
    if (m_writeNotifier) {
        delete m_writeNotifier;
        m_writeNotifier = nullptr;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_open = false;
    m_out.clear();
    m_socket->abort();
}

void PeerSocket::onSocketGone()
{
    if (!m_open || m_peerFinished)
        return;
    // The end of the peer's data reads as "remote host closed"; anything else (a reset, a
    // network error) leaves nobody to answer, and without a descriptor of its own nor does
    // Qt's closing of the socket.
    if (m_fd < 0 || m_socket->error() != QAbstractSocket::RemoteHostClosedError) {
        closeNow();
        return;
    }
    m_peerFinished = true;
    emit peerFinished();
}

void PeerSocket::flush()
{
    while (m_fd >= 0 && !m_out.isEmpty()) {
        const ssize_t sent = ::send(m_fd,
                                    m_out.constData(),
                                    size_t(m_out.size()),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            m_out.remove(0, int(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        // The peer has gone altogether (reset, or closed while we were still talking).
        closeNow();
        return;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (m_fd >= 0 && m_finishing) {
        // A FIN after the last byte, whoever else still holds the socket open.
        ::shutdown(m_fd, SHUT_WR);
        closeNow();
    }
}

void PeerSocket::closeNow()
{
    if (!m_open)
        return;
    abort();
    emit closed();
}
