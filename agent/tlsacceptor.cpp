#include "tlsacceptor.h"

#include "tlsfiles.h"

#include <QSslSocket>
#include <QTimer>

TlsAcceptor::TlsAcceptor(const QSslConfiguration &configuration, QObject *parent)
    : QObject(parent)
    , m_configuration(configuration)
{}

void TlsAcceptor::start(QSslSocket *socket)
{
    auto *deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, socket] {
        finish(socket, tr("no TLS handshake within %1 s").arg(HandshakeTimeoutMs / 1000));
    });
    deadline->start(HandshakeTimeoutMs);
    m_pending.insert(socket, {deadline, {}});
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

void TlsAcceptor::finish(QSslSocket *socket, const QString &failure)
{
    const auto found = m_pending.find(socket);
    if (found == m_pending.end())
        return;
    const Handshake handshake = found.value();
    m_pending.erase(found);
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
    emit secured(socket, TlsFiles::commonName(socket->peerCertificate()));
}
