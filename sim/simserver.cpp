#include "simserver.h"

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
        // A child of the socket, so that a client's timers die with its connection.
        auto *connection = new SimConnection(m_model, m_faults, name, socket);
        connect(connection, &SimConnection::report, this, &SimServer::report);
        connect(connection,
                &SimConnection::send,
                socket,
                [this, socket, name](const QByteArray &bytes) {
                    if (socket->state() != QAbstractSocket::ConnectedState)
                        return;
                    // A client that never reads would otherwise have every reply kept for it, and
                    // the simulator's memory grow with each of its polls.
                    if (socket->bytesToWrite() + bytes.size() > SimConnection::MaxUnsentBytes) {
                        emit report(QStringLiteral("%1 reads no replies, %2 bytes unsent; dropped")
                                        .arg(name)
                                        .arg(socket->bytesToWrite() + bytes.size()));
                        socket->abort();
                        return;
                    }
                    socket->write(bytes);
                });
        connect(connection,
                &SimConnection::closeRequested,
                socket,
                &QAbstractSocket::disconnectFromHost);
        connect(socket, &QIODevice::readyRead, connection, [socket, connection] {
            connection->receive(socket->readAll());
        });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket, name] {
            emit report(name + QStringLiteral(" disconnected"));
            socket->deleteLater();
        });
        emit report(name + QStringLiteral(" connected"));
    }
}
