#pragma once

#include "accesspolicy.h"
#include "eventthrottle.h"
#include "listener.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QStringList>

#include <memory>

class AgentRequests;
class ClientConnection;
class DeviceSession;
class Journal;
class QTcpSocket;
class TlsAcceptor;

// Serves the amplifier's protocol to the clients the access policy admits, while the
// device link is up: when it goes down every client is closed, so that each one sees the
// loss as it would see the amplifier's own. The clients are bounded in number and in how long
// they may stay silent, and a shortage of descriptors pauses accepting rather than ending it.
class AgentServer : public QObject
{
    Q_OBJECT

public:
    AgentServer(DeviceSession *device,
                const AccessPolicy &access,
                Journal *journal,
                QObject *parent = nullptr);
    ~AgentServer() override;

    void setMaxClients(int count) { m_maxClients = count; }
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // Serves TLS with `configuration`. With `verifyClients` (an authority for clients) the
    // common names in `controlNames` control and other certificates observe, within what
    // their address allows.
    void setTls(const QSslConfiguration &configuration,
                bool verifyClients,
                const QStringList &controlNames);
    // The agent's own commands, for the clients that opt in; `adminNames`: the certificate
    // names that may break a lease, beside the access policy's admin ranges.
    void setRequests(AgentRequests *requests, const QStringList &adminNames)
    {
        m_requests = requests;
        m_adminNames = adminNames;
    }
    bool listen(const QHostAddress &address, quint16 port);
    QHostAddress address() const { return m_listener.address(); }
    quint16 port() const { return m_listener.port(); }
    QString errorString() const { return m_listener.errorString(); }
    int clientCount() const { return m_clients.size(); }

signals:
    // A connection turned away, whatever the reason.
    void clientRefused();
    // A client was dropped for what it did (not reading, flooding), not for a link loss.
    void clientDropped();

private:
    void acceptClient(QTcpSocket *socket);
    void serve(QTcpSocket *socket, AccessPolicy::Role role, const QString &commonName);
    // `commonName`: of the certificate of a client that finished its handshake.
    void refuse(QTcpSocket *socket, const QString &reason, const QString &commonName = {});
    void closeClients();
    void journalRefusal(const QTcpSocket *socket, const QString &reason, const QString &commonName);

    DeviceSession *m_device = nullptr;
    AccessPolicy m_access;
    Journal *m_journal = nullptr;
    EventThrottle m_throttle;
    Listener m_listener;
    QList<ClientConnection *> m_clients;
    std::unique_ptr<TlsAcceptor> m_tls;
    bool m_verifyClients = false;
    QStringList m_controlNames;
    AgentRequests *m_requests = nullptr;
    QStringList m_adminNames;
    int m_maxClients = 64;
    int m_idleTimeoutMs = 300000;
};
