#pragma once

#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

class QSslSocket;
class QTimer;

// Takes each client of a TLS port through its handshake before it is served: the agent shows
// its certificate and, given an authority for clients, requires and verifies theirs. A peer
// that does not finish the handshake in time is dropped, so that half-open handshakes cannot
// hold the clients' places.
class TlsAcceptor : public QObject
{
    Q_OBJECT

public:
    static constexpr int HandshakeTimeoutMs = 10000;

    explicit TlsAcceptor(const QSslConfiguration &configuration, QObject *parent = nullptr);

    // Starts the handshake; ends in secured() or failed(), which hand the socket back.
    void start(QSslSocket *socket);
    int pendingCount() const { return m_pending.size(); }

signals:
    // The client's certificate's common name, empty without one.
    void secured(QSslSocket *socket, const QString &commonName);
    void failed(QSslSocket *socket, const QString &reason);

private:
    void finish(QSslSocket *socket, const QString &failure);

    struct Handshake
    {
        QTimer *deadline = nullptr;
        // The certificate checks' findings, which come before the error that ends it.
        QStringList problems;
    };

    QSslConfiguration m_configuration;
    QHash<QSslSocket *, Handshake> m_pending;
};
