#pragma once

#include <QFile>
#include <QString>

class ServerProcess;
class TestCertificates;

// A real mosquitto as a lab secures it: no anonymous clients, a password file with an agent's
// login and a watcher's, an ACL that lets the agent write korvane/lab1/# and the watcher read
// korvane/#, a plain listener and a TLS one with a certificate of the lab's authority, and
// a third that also wants a client certificate.
namespace SecureBroker {

extern const QString AgentUser;
extern const QString AgentPassword;
extern const QString WatcherUser;
extern const QString WatcherPassword;

constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// Writes `contents` to `path` with `permissions`; false if it could not.
bool writeFile(const QString &path,
               const QByteArray &contents,
               QFile::Permissions permissions = OwnerOnly);

// Starts `broker` with its files in `folder`: plain on `plainPort`, TLS on `tlsPort` with
// `server`'s certificate and key from `certificates`, clients' certificates verified against
// `authority`, and on `certificatePort` TLS wanting a client certificate if it is not 0.
bool start(ServerProcess *broker,
           const QString &folder,
           const TestCertificates &certificates,
           const QString &authority,
           const QString &server,
           quint16 plainPort,
           quint16 tlsPort,
           quint16 certificatePort = 0);

} // namespace SecureBroker
