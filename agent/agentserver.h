#pragma once

#include "accesspolicy.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class ClientConnection;
class DeviceSession;
class Journal;
class QTcpSocket;

// Serves the amplifier's protocol to the clients the access policy admits, while the
// device link is up: when it goes down every client is closed, so that each one sees the
// loss as it would see the amplifier's own.
class AgentServer : public QObject
{
    Q_OBJECT

public:
    AgentServer(DeviceSession *device,
                const AccessPolicy &access,
                Journal *journal,
                QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    int clientCount() const { return m_clients.size(); }

signals:
    // A client was dropped for what it did (not reading, flooding), not for a link loss.
    void clientDropped();

private:
    void acceptClients();
    void closeClients();
    void journalRefusal(const QTcpSocket *socket, const QString &reason);

    DeviceSession *m_device = nullptr;
    AccessPolicy m_access;
    Journal *m_journal = nullptr;
    QTcpServer m_server;
    QList<ClientConnection *> m_clients;
    // A client retrying every second is journalled once a minute, with the count since.
    struct Refusals
    {
        QElapsedTimer since;
        int unreported = 0;
    };
    QHash<QString, Refusals> m_refusals;
};
