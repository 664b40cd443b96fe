#pragma once

#include <QString>

#include <functional>

class QObject;
class QTcpSocket;

// A socket to an amplifier or an agent, plain or TLS, as its user needs it.
namespace ReadySocket {

// A plain link does without the TLS library, which takes megabytes once loaded.
QTcpSocket *create(bool tls);
// Calls `ready` once `socket` can carry requests: with TLS when the handshake is done, not
// at the TCP connection. The certificate checks' findings go to `*tlsErrors`, which must
// outlive the socket's connections (a member of `context`).
void whenReady(QTcpSocket *socket,
               QObject *context,
               const std::function<void()> &ready,
               QString *tlsErrors);
// `reason` with the certificate checks' findings, where the socket's own error does not say
// them.
QString withTlsErrors(const QString &reason, const QString &tlsErrors);

} // namespace ReadySocket
