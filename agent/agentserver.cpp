#include "agentserver.h"

#include "clientconnection.h"
#include "devicesession.h"
#include "journal.h"

#include <QJsonObject>
#include <QTcpSocket>

AgentServer::AgentServer(DeviceSession *device,
                         const AccessPolicy &access,
                         Journal *journal,
                         QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_access(access)
    , m_journal(journal)
    , m_throttle(journal)
{
    connect(&m_listener, &Listener::accepted, this, &AgentServer::acceptClient);
    connect(&m_listener, &Listener::acceptFailed, this, [this](const QString &reason) {
        m_throttle.record(QString(),
                          QStringLiteral("accept_failed"),
                          {{QStringLiteral("reason"), reason},
                           {QStringLiteral("clients"), m_clients.size()}});
    });
    connect(m_device, &DeviceSession::down, this, &AgentServer::closeClients);
}

bool AgentServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener.listen(address, port);
}

void AgentServer::acceptClient(QTcpSocket *socket)
{
    const AccessPolicy::Role role = m_access.roleOf(socket->peerAddress());
    QString refusal;
    if (role == AccessPolicy::Role::Refused)
        refusal = tr("address not allowed");
    else if (!m_device->isUp())
        refusal = tr("amplifier link down");
    else if (m_clients.size() >= m_maxClients)
        refusal = tr("too many clients");
    if (!refusal.isEmpty()) {
        journalRefusal(socket, refusal);
        socket->abort();
        socket->deleteLater();
        emit clientRefused();
        return;
    }
    auto *client = new ClientConnection(socket, role, m_device, m_journal, &m_throttle, this);
    client->setIdleTimeout(m_idleTimeoutMs);
    m_clients.append(client);
    m_throttle.record(socket->peerAddress().toString(),
                      QStringLiteral("client_connected"),
                      {{QStringLiteral("client"), client->peer()},
                       {QStringLiteral("role"), AccessPolicy::name(role)}});
    connect(client, &ClientConnection::dropped, this, &AgentServer::clientDropped);
    connect(client, &ClientConnection::finished, this, [this, client] {
        m_clients.removeOne(client);
        client->deleteLater();
    });
}

void AgentServer::journalRefusal(const QTcpSocket *socket, const QString &reason)
{
    // A client retrying every second is journalled once a minute, with the count since.
    static const EventThrottle::Pace pace{60 * 1000, QStringLiteral("count")};
    const QString address = socket->peerAddress().toString();
    m_throttle.record(address,
                      QStringLiteral("client_refused"),
                      {{QStringLiteral("client"),
                        QStringLiteral("%1:%2").arg(address).arg(socket->peerPort())},
                       {QStringLiteral("reason"), reason}},
                      pace);
}

void AgentServer::closeClients()
{
    const QList<ClientConnection *> clients = m_clients;
    if (!clients.isEmpty())
        m_journal->record(QStringLiteral("clients_closed"),
                          {{QStringLiteral("count"), clients.size()},
                           {QStringLiteral("reason"), tr("amplifier link down")}});
    for (ClientConnection *client : clients)
        client->close();
}
