#include "scriptedpeer.h"

#include "waiting.h"

ScriptedPeer::ScriptedPeer(QObject *parent)
    : QObject(parent)
{}

bool ScriptedPeer::listen(quint16 port, const QHostAddress &address)
{
    return m_server.listen(address, port);
}

bool ScriptedPeer::waitForClient()
{
    if (!m_server.hasPendingConnections() && !m_server.waitForNewConnection(TimeoutMs))
        return false;
    m_client.reset(m_server.nextPendingConnection());
    m_client->setParent(nullptr);
    connect(m_client.get(), &QTcpSocket::readyRead, this, [this] {
        m_received += m_client->readAll();
        emit bytesReceived();
    });
    // Nothing more will come: a wait for more lines can end now.
    connect(m_client.get(), &QTcpSocket::disconnected, this, &ScriptedPeer::bytesReceived);
    return true;
}

bool ScriptedPeer::isConnected() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

void ScriptedPeer::send(const QByteArray &bytes)
{
    m_client->write(bytes);
    m_client->flush();
}

void ScriptedPeer::closeClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}

QList<QByteArray> ScriptedPeer::lines() const
{
    QList<QByteArray> result;
    for (const QByteArray &line : m_received.split('\n')) {
        const QByteArray trimmed = line.endsWith('\r') ? line.chopped(1) : line;
        if (!trimmed.isEmpty())
            result.append(trimmed);
    }
    return result;
}

bool ScriptedPeer::waitForLine(const QByteArray &line, int times)
{
    return waitUntil(
               this,
               &ScriptedPeer::bytesReceived,
               [&] { return count(line) >= times || !isConnected(); },
               TimeoutMs)
           && count(line) >= times;
}

bool ScriptedPeer::waitForPolls(int polls)
{
    const int target = count("Meas") + polls;
    return waitForLine("Meas", target);
}
