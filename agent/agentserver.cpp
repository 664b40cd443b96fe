#include "agentserver.h"

#include "clientconnection.h"
#include "devicesession.h"
#include "journal.h"
#include "tlsacceptor.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSslSocket>

namespace {

QString peerText(const QTcpSocket *socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace

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
                          Event::AcceptFailed,
                          {{QStringLiteral("reason"), reason},
                           {QStringLiteral("clients"), m_clients.size()}});
    });
    connect(m_device, &DeviceSession::down, this, &AgentServer::closeClients);
}

AgentServer::~AgentServer() = default;

bool AgentServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener.listen(address, port);
}

void AgentServer::setTls(const QSslConfiguration &configuration,
                         bool verifyClients,
                         const QStringList &controlNames)
{
    m_tls = std::make_unique<TlsAcceptor>(configuration);
    m_listener.setTls(true);
    m_verifyClients = verifyClients;
    m_controlNames = controlNames;
    connect(m_tls.get(),
            &TlsAcceptor::secured,
            this,
            [this](QSslSocket *socket, const QStringList &commonNames) {
                AccessPolicy::Role role = m_access.roleOf(socket->peerAddress());
                // Which of several names is meant is anyone's guess, and a guess must not
                // grant control: such a certificate observes, under no name.
                const QString commonName = commonNames.size() == 1 ? commonNames.first()
                                                                   : QString();
                if (commonNames.size() > 1)
                    m_throttle.record(socket->peerAddress().toString(),
                                      Event::ClientCnAmbiguous,
                                      {{QStringLiteral("client"), peerText(socket)},
                                       {QStringLiteral("cn"),
                                        QJsonArray::fromStringList(commonNames)}});
                // A certificate may narrow what the address allows, never widen it.
                if (m_verifyClients && role == AccessPolicy::Role::Controller
                    && (commonName.isEmpty() || !m_controlNames.contains(commonName)))
                    role = AccessPolicy::Role::Observer;
                if (!m_device->isUp())
                    refuse(socket, tr("amplifier link down"), commonName);
                else if (m_clients.size() >= m_maxClients)
                    refuse(socket, tr("too many clients"), commonName);
                else
                    serve(socket, role, commonName);
            });
    connect(m_tls.get(),
            &TlsAcceptor::failed,
            this,
            [this](QSslSocket *socket, const QString &reason) { refuse(socket, reason); });
}

void AgentServer::acceptClient(QTcpSocket *socket)
{
    const AccessPolicy::Role role = m_access.roleOf(socket->peerAddress());
    // Handshakes under way have places of their own in the acceptor: they cannot take those
    // of the clients who have finished one.
    const int clients = m_clients.size();
    QString refusal;
    if (role == AccessPolicy::Role::Refused)
        refusal = tr("address not allowed");
    else if (!m_device->isUp())
        refusal = tr("amplifier link down");
    else if (clients >= m_maxClients)
        refusal = tr("too many clients");
    auto *secure = qobject_cast<QSslSocket *>(socket);
    if (refusal.isEmpty() && m_tls && !secure)
        refusal = tr("no TLS on this connection");
    if (!refusal.isEmpty())
        refuse(socket, refusal);
    else if (m_tls)
        m_tls->start(secure);
    else
        serve(socket, role, QString());
}

void AgentServer::refuse(QTcpSocket *socket, const QString &reason, const QString &commonName)
{
    journalRefusal(socket, reason, commonName);
    socket->abort();
    socket->deleteLater();
    emit clientRefused();
}

void AgentServer::serve(QTcpSocket *socket, AccessPolicy::Role role, const QString &commonName)
{
    auto *client = new ClientConnection(socket, role, m_device, m_journal, &m_throttle, this);
    client->setCommonName(commonName);
    // A name counts only from a certificate the agent verified.
    const bool admin = m_access.isAdmin(socket->peerAddress())
                       || (m_verifyClients && !commonName.isEmpty()
                           && m_adminNames.contains(commonName));
    client->setRequests(m_requests, admin);
    client->setIdleTimeout(m_idleTimeoutMs);
    m_clients.append(client);
    m_throttle.record(socket->peerAddress().toString(),
                      Event::ClientConnected,
                      client->details({{QStringLiteral("role"), AccessPolicy::name(role)}}));
    connect(client, &ClientConnection::dropped, this, &AgentServer::clientDropped);
    connect(client, &ClientConnection::finished, this, [this, client] {
        m_clients.removeOne(client);
        client->deleteLater();
    });
}

void AgentServer::journalRefusal(const QTcpSocket *socket,
                                 const QString &reason,
                                 const QString &commonName)
{
    // A client retrying every second is journalled once a minute, with the count since.
    static const EventThrottle::Pace pace{60 * 1000, QStringLiteral("count")};
    const QString address = socket->peerAddress().toString();
    QJsonObject details{{QStringLiteral("client"), peerText(socket)},
                        {QStringLiteral("reason"), reason}};
    if (!commonName.isEmpty())
        details.insert(QStringLiteral("cn"), commonName);
    m_throttle.record(address, Event::ClientRefused, details, pace);
}

void AgentServer::closeClients()
{
    const QList<ClientConnection *> clients = m_clients;
    if (!clients.isEmpty())
        m_journal->record(Event::ClientsClosed,
                          {{QStringLiteral("count"), clients.size()},
                           {QStringLiteral("reason"), tr("amplifier link down")}});
    for (ClientConnection *client : clients)
        client->close();
}
