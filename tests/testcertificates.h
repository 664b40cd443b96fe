#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Certificates made for a test with openssl: authorities and the certificates they sign, for
// 127.0.0.1 and localhost, in a folder that goes with the object. Keys are EC P-256 and
// readable by their owner alone, as the programs want them.
class TestCertificates
{
public:
    // Whether the openssl program is installed.
    static bool available();

    // NAME.crt and NAME.key, a self-signed authority with the common name `name`.
    bool makeAuthority(const QString &name);
    // NAME.crt and NAME.key with the common name `commonName` ("a/CN=b" for two), signed by
    // `authority`, for the extended key `usage`; `days` below 0 makes one that has expired.
    bool issue(const QString &authority,
               const QString &name,
               const QString &commonName,
               int days = 30,
               const QString &usage = QStringLiteral("serverAuth,clientAuth"));

    QString certificate(const QString &name) const { return path(name + QLatin1String(".crt")); }
    QString key(const QString &name) const { return path(name + QLatin1String(".key")); }
    QString path(const QString &file) const { return m_folder.filePath(file); }
    QString errorString() const { return m_error; }

private:
    bool run(const QStringList &arguments);

    QTemporaryDir m_folder;
    QString m_error;
};
