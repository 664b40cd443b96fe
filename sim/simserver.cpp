#include "simserver.h"

#include "peersocket.h"
#include "simconnection.h"

#include <QTcpSocket>

SimServer::SimServer(AmplifierModel *model, const FaultOptions &faults, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_faults(faults)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SimServer::acceptConnections);
}

bool SimServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void SimServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        // Without this a burst's small pieces could be merged again on the way out.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const QString name = QStringLiteral("client %1:%2")
                                 .arg(socket->peerAddress().toString())
                                 .arg(socket->peerPort());
        auto *channel = new PeerSocket(socket, this);
        // A child of the channel, so that a client's timers die with its connection.
        auto *connection = new SimConnection(m_model, m_faults, name, channel);
        connect(connection, &SimConnection::report, this, &SimServer::report);
        const auto gone = [this, channel, name] {
            emit report(name + QStringLiteral(" disconnected"));
            channel->deleteLater();
        };
        connect(connection,
                &SimConnection::send,
                channel,
                [this, channel, name, gone](const QByteArray &bytes) {
                    if (!channel->isOpen())
                        return;
                    // A client that never reads would otherwise have every reply kept for it, and
                    // the simulator's memory grow with each of its polls.
                    if (channel->bytesToWrite() + bytes.size() > SimConnection::MaxUnsentBytes) {
                        emit report(QStringLiteral("%1 reads no replies, %2 bytes unsent; dropped")
                                        .arg(name)
                                        .arg(channel->bytesToWrite() + bytes.size()));
                        channel->abort();
                        gone();
                        return;
                    }
                    channel->write(bytes);
                });
        connect(connection, &SimConnection::closeRequested, channel, &PeerSocket::finish);
        connect(socket, &QIODevice::readyRead, connection, [socket, connection] {
            connection->receive(socket->readAll());
        });
        // A client that has said all it will say is answered, then the connection closes.
        connect(channel, &PeerSocket::peerFinished, connection, &SimConnection::endOfInput);
        connect(channel, &PeerSocket::closed, this, gone);
        emit report(name + QStringLiteral(" connected"));
    }
}
