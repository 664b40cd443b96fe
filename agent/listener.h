#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <memory>

class QTcpSocket;

// A listening TCP socket that takes its connections itself, so that it sees why an accept
// failed: out of descriptors it pauses for a while and tries again, instead of failing the
// same call in a busy loop or not accepting any more.
class Listener : public QObject
{
    Q_OBJECT

public:
    static constexpr int PauseMs = 1000;
    // Taken at most per wake-up, so that a flood of connections leaves room for the rest.
    static constexpr int BatchSize = 64;

    explicit Listener(QObject *parent = nullptr);

    // Hands out TLS-capable sockets (QSslSocket), still unencrypted.
    void setTls(bool on) { m_tls = on; }
    bool listen(const QHostAddress &address, quint16 port);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

signals:
    // The socket is the receiver's, unparented.
    void accepted(QTcpSocket *socket);
    void acceptFailed(const QString &reason);

private:
    void acceptConnections();

    // Binds and listens; its own accepting stays paused.
    QTcpServer m_server;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_pause;
    bool m_tls = false;
};
