#include "readysocket.h"

#include <QSslSocket>
#include <QStringList>

namespace ReadySocket {

QTcpSocket *create(bool tls)
{
    return tls ? new QSslSocket : new QTcpSocket;
}

void whenReady(QTcpSocket *socket,
               QObject *context,
               const std::function<void()> &ready,
               QString *tlsErrors)
{
    auto *secure = qobject_cast<QSslSocket *>(socket);
    if (!secure) {
        QObject::connect(socket, &QTcpSocket::connected, context, ready);
        return;
    }
    QObject::connect(secure, &QSslSocket::encrypted, context, ready);
    QObject::connect(secure,
                     QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors),
                     context,
                     [tlsErrors](const QList<QSslError> &errors) {
                         QStringList texts;
                         for (const QSslError &error : errors)
                             texts.append(error.errorString());
                         *tlsErrors = texts.join(QLatin1String("; "));
                     });
}

QString withTlsErrors(const QString &reason, const QString &tlsErrors)
{
    if (tlsErrors.isEmpty() || reason.contains(tlsErrors))
        return reason;
    return reason + QLatin1String(": ") + tlsErrors;
}

} // namespace ReadySocket
