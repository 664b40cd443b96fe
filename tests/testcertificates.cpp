#include "testcertificates.h"

#include "childprocess.h"

#include <QFile>
#include <QStandardPaths>

namespace {

const QStringList NewKey{QStringLiteral("-newkey"),
                         QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-nodes")};

} // namespace

bool TestCertificates::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
}

bool TestCertificates::run(const QStringList &arguments)
{
    ChildProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1: %2")
                      .arg(arguments.join(QLatin1Char(' ')),
                           QString::fromLocal8Bit(openssl.readAll()) + openssl.errorString());
        return false;
    }
    return true;
}

bool TestCertificates::makeAuthority(const QString &name)
{
    return run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + NewKey
               + QStringList{QStringLiteral("-keyout"),
                             key(name),
                             QStringLiteral("-out"),
                             certificate(name),
                             QStringLiteral("-days"),
                             QStringLiteral("30"),
                             QStringLiteral("-subj"),
                             QStringLiteral("/CN=") + name,
                             QStringLiteral("-addext"),
                             QStringLiteral("basicConstraints=critical,CA:TRUE"),
                             QStringLiteral("-addext"),
                             QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")})
           && QFile::setPermissions(key(name), QFile::ReadOwner | QFile::WriteOwner);
}

bool TestCertificates::issue(const QString &authority,
                             const QString &name,
                             const QString &commonName,
                             int days,
                             const QString &usage)
{
    const QString request = path(name + QLatin1String(".csr"));
    const QString extensions = path(name + QLatin1String(".ext"));
    QFile file(extensions);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    file.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=" + usage.toUtf8()
               + '\n');
    file.close();
    return run(QStringList{QStringLiteral("req"), QStringLiteral("-utf8")} + NewKey
               + QStringList{QStringLiteral("-keyout"),
                             key(name),
                             QStringLiteral("-out"),
                             request,
                             QStringLiteral("-subj"),
                             QStringLiteral("/CN=") + commonName})
           && QFile::setPermissions(key(name), QFile::ReadOwner | QFile::WriteOwner)
           && run({QStringLiteral("x509"),
                   QStringLiteral("-req"),
                   QStringLiteral("-in"),
                   request,
                   QStringLiteral("-CA"),
                   certificate(authority),
                   QStringLiteral("-CAkey"),
                   key(authority),
                   QStringLiteral("-CAcreateserial"),
                   QStringLiteral("-out"),
                   certificate(name),
                   QStringLiteral("-days"),
                   QString::number(days),
                   QStringLiteral("-extfile"),
                   extensions});
}
