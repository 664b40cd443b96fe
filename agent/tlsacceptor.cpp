#include "tlsacceptor.h"

#include "tlsfiles.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTimer>

TlsAcceptor::TlsAcceptor(const QSslConfiguration &configuration, QObject *parent)
    : QObject(parent)
    , m_configuration(configuration)
{}

void TlsAcceptor::start(QSslSocket *socket)
{
    const QString address = socket->peerAddress().toString();
    const int fromAddress = m_perAddress.value(address);
    if (fromAddress >= MaxPendingPerAddress) {
        emit failed(socket, tr("too many TLS handshakes from this address"));
        return;
    }
    if (m_order.size() >= MaxPending) {
        QSslSocket *oldest = oldestOfMost(fromAddress);
        if (!oldest) {
            emit failed(socket, tr("too many TLS handshakes under way"));
            return;
        }
        finish(oldest, tr("TLS handshake unfinished, its place taken by a newer one"));
    }
    ++m_perAddress[address];
    auto *deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, socket] {
        finish(socket, tr("no TLS handshake within %1 s").arg(HandshakeTimeoutMs / 1000));
    });
    deadline->start(HandshakeTimeoutMs);
    m_pending.insert(socket, {deadline, address, {}});
    m_order.append(socket);
    connect(socket,
            QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors),
            this,
            [this, socket](const QList<QSslError> &errors) {
                for (const QSslError &error : errors)
                    m_pending[socket].problems.append(error.errorString());
            });
    connect(socket, &QSslSocket::encrypted, this, [this, socket] { finish(socket, QString()); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        finish(socket, tr("TLS handshake failed: %1").arg(socket->errorString()));
    });
    socket->setSslConfiguration(m_configuration);
    socket->startServerEncryption();
}

QSslSocket *TlsAcceptor::oldestOfMost(int fewer) const
{
    int most = 0;
    for (const int count : m_perAddress)
        most = qMax(most, count);
    if (most <= fewer)
        return nullptr;
    for (QSslSocket *socket : m_order) {
        if (m_perAddress.value(m_pending.value(socket).address) == most)
            return socket;
    }
    return nullptr;
}

void TlsAcceptor::finish(QSslSocket *socket, const QString &failure)
{
    const auto found = m_pending.find(socket);
    if (found == m_pending.end())
        return;
    const Handshake handshake = found.value();
    m_pending.erase(found);
    m_order.removeOne(socket);
    if (--m_perAddress[handshake.address] <= 0)
        m_perAddress.remove(handshake.address);
    // Possibly from its own timeout: deleted once that has returned.
    handshake.deadline->stop();
    handshake.deadline->deleteLater();
    // What watched the handshake stops here; the socket's new owner connects its own.
    disconnect(socket, nullptr, this, nullptr);
    if (!failure.isEmpty()) {
        QString reason = failure;
        const QString problems = handshake.problems.join(QLatin1String("; "));
        if (!problems.isEmpty() && !failure.contains(problems))
            reason += QLatin1String(" (") + problems + QLatin1Char(')');
        emit failed(socket, reason);
        return;
    }
    emit secured(socket, TlsFiles::commonNames(socket->peerCertificate()));
}
