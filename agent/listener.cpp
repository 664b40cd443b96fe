#include "listener.h"

#include <QSslSocket>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

Listener::Listener(QObject *parent)
    : QObject(parent)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseMs);
    connect(&m_pause, &QTimer::timeout, this, [this] { m_notifier->setEnabled(true); });
}

bool Listener::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server.listen(address, port))
        return false;
    m_server.pauseAccepting();
    m_notifier = std::make_unique<QSocketNotifier>(m_server.socketDescriptor(),
                                                   QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &Listener::acceptConnections);
    return true;
}

void Listener::acceptConnections()
{
    for (int taken = 0; taken < BatchSize; ++taken) {
        const int descriptor = ::accept4(int(m_server.socketDescriptor()),
                                         nullptr,
                                         nullptr,
                                         SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            // The peer gave up before it was taken, or a signal came: the next one may do.
            if (error == EINTR || error == ECONNABORTED || error == EPROTO)
                continue;
            m_notifier->setEnabled(false);
            m_pause.start();
            emit acceptFailed(QString::fromLocal8Bit(std::strerror(error)));
            return;
        }
        // A plain one does without the TLS library, which takes megabytes once loaded.
        QTcpSocket *socket = m_tls ? new QSslSocket : new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(descriptor);
            delete socket;
            continue;
        }
        emit accepted(socket);
    }
}
