#include "securebroker.h"

#include "serverprocess.h"
#include "testcertificates.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

#include <utility>

namespace SecureBroker {

const QString AgentUser = QStringLiteral("lab1-agent");
const QString AgentPassword = QStringLiteral("s3cret agent");
const QString WatcherUser = QStringLiteral("watcher");
const QString WatcherPassword = QStringLiteral("watch it");

bool writeFile(const QString &path, const QByteArray &contents, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(contents) == contents.size() && file.setPermissions(permissions);
}

bool start(ServerProcess *broker,
           const QString &folder,
           const TestCertificates &certificates,
           const QString &authority,
           const QString &server,
           quint16 plainPort,
           quint16 tlsPort,
           quint16 certificatePort)
{
    const QDir dir(folder);
    const QString passwords = dir.filePath(QStringLiteral("mosquitto.passwd"));
    QFile::remove(passwords);
    for (const auto &[user, password] :
         {std::pair{AgentUser, AgentPassword}, std::pair{WatcherUser, WatcherPassword}}) {
        QProcess add;
        const QStringList create = QFile::exists(passwords) ? QStringList()
                                                            : QStringList{QStringLiteral("-c")};
        add.start(ServerProcess::find(QStringLiteral("mosquitto_passwd")),
                  create + QStringList{QStringLiteral("-b"), passwords, user, password});
        if (!add.waitForFinished(30000) || add.exitCode() != 0) {
            qWarning("mosquitto_passwd: %s", add.readAllStandardError().constData());
            return false;
        }
    }
    const QString acl = dir.filePath(QStringLiteral("mosquitto.acl"));
    const QByteArray serverFiles = "cafile " + certificates.certificate(authority).toUtf8()
                                   + "\ncertfile " + certificates.certificate(server).toUtf8()
                                   + "\nkeyfile " + certificates.key(server).toUtf8() + '\n';
    QByteArray listeners = "listener " + QByteArray::number(plainPort) + " 127.0.0.1\nlistener "
                           + QByteArray::number(tlsPort) + " 127.0.0.1\n" + serverFiles;
    if (certificatePort)
        listeners += "listener " + QByteArray::number(certificatePort) + " 127.0.0.1\n"
                     + serverFiles + "require_certificate true\n";
    if (!writeFile(acl,
                   "user " + AgentUser.toUtf8()
                       + "\ntopic write korvane/lab1/#\n"
                         "user "
                       + WatcherUser.toUtf8() + "\ntopic read korvane/#\n")
        || !broker->startMosquitto(dir.filePath(QStringLiteral("mosquitto.conf")),
                                   "per_listener_settings false\nallow_anonymous false\n"
                                   "password_file "
                                       + passwords.toUtf8() + "\nacl_file " + acl.toUtf8() + '\n'
                                       + listeners)) {
        qWarning("%s", qPrintable(broker->errorString()));
        return false;
    }
    return true;
}

} // namespace SecureBroker
