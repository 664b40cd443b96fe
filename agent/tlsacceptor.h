#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

class QSslSocket;
class QTimer;

// Takes each client of a TLS port through its handshake before it is served: the agent shows
// its certificate and, given an authority for clients, requires and verifies theirs. A peer
// that does not finish the handshake in time is dropped. Handshakes under way have places of
// their own, a few per address, apart from the clients' places. When all are taken, one from
// an address with fewer under way takes the place of the oldest from the address with the
// most: peers that never finish cannot keep a client from another address out, and a client
// finishes its handshake in milliseconds, before they could take its place in turn.
class TlsAcceptor : public QObject
{
    Q_OBJECT

public:
    static constexpr int HandshakeTimeoutMs = 10000;
    static constexpr int MaxPending = 32;
    static constexpr int MaxPendingPerAddress = 8;

    explicit TlsAcceptor(const QSslConfiguration &configuration, QObject *parent = nullptr);

    // Starts the handshake; ends in secured() or failed(), which hand the socket back, at
    // once for one over its address's places.
    void start(QSslSocket *socket);
    int pendingCount() const { return m_pending.size(); }

signals:
    // The common names of the client's certificate: none, one, or (to be distrusted) several.
    void secured(QSslSocket *socket, const QStringList &commonNames);
    void failed(QSslSocket *socket, const QString &reason);

private:
    void finish(QSslSocket *socket, const QString &failure);
    // The oldest handshake of the address with the most under way, if that is more than
    // `fewer`; null if none.
    QSslSocket *oldestOfMost(int fewer) const;

    struct Handshake
    {
        QTimer *deadline = nullptr;
        QString address;
        // The certificate checks' findings, which come before the error that ends it.
        QStringList problems;
    };

    QSslConfiguration m_configuration;
    QHash<QSslSocket *, Handshake> m_pending;
    QList<QSslSocket *> m_order; // oldest first
    QHash<QString, int> m_perAddress;
};
