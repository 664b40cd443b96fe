#include "tlsfiles.h"

#include "secretfile.h"
#include "smallfile.h"

#include <QFile>

#include <algorithm>

bool TlsFiles::load(QString *error)
{
    if (caFile.isEmpty() && certFile.isEmpty() && keyFile.isEmpty())
        return true;
    auto loaded = std::make_shared<Material>();
    if (!caFile.isEmpty() && !readCertificates(caFile, &loaded->authorities, error))
        return false;
    if (certFile.isEmpty() != keyFile.isEmpty()) {
        *error = QStringLiteral("a certificate and its key go together");
        return false;
    }
    if (!certFile.isEmpty()
        && (!readCertificates(certFile, &loaded->chain, error)
            || !readKey(keyFile, &loaded->key, error)))
        return false;
    material = loaded;
    return true;
}

QSslConfiguration TlsFiles::configuration(QSslSocket::PeerVerifyMode verify) const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    if (material && !material->authorities.isEmpty())
        config.setCaCertificates(material->authorities);
    if (material && !material->chain.isEmpty()) {
        config.setLocalCertificateChain(material->chain);
        config.setPrivateKey(material->key);
    }
    config.setPeerVerifyMode(verify);
    return config;
}

bool TlsFiles::available(QString *error)
{
    if (QSslSocket::supportsSsl())
        return true;
    *error = QStringLiteral("TLS is not available: Qt found no OpenSSL %1 library")
                 .arg(QSslSocket::sslLibraryBuildVersionString());
    return false;
}

bool TlsFiles::readCertificates(const QString &path,
                                QList<QSslCertificate> *certificates,
                                QString *error)
{
    QByteArray pem;
    if (!SmallFile::read(path, &pem, error))
        return false;
    *certificates = QSslCertificate::fromData(pem, QSsl::Pem);
    if (certificates->isEmpty()) {
        *error = QStringLiteral("%1 holds no PEM certificate").arg(path);
        return false;
    }
    return true;
}

bool TlsFiles::readKey(const QString &path, QSslKey *key, QString *error)
{
    QByteArray pem;
    if (!SecretFile::read(path, &pem, error))
        return false;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        const QSslKey candidate(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!candidate.isNull()) {
            *key = candidate;
            return true;
        }
    }
    *error = QStringLiteral("%1 holds no unencrypted PEM private key").arg(path);
    return false;
}

QStringList TlsFiles::commonNames(const QSslCertificate &certificate)
{
    // Qt keeps them in a multi-map, which gives the last first.
    QStringList names = certificate.subjectInfo(QSslCertificate::CommonName);
    std::reverse(names.begin(), names.end());
    return names;
}
