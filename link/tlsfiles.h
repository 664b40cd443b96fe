#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QString>
#include <QStringList>

#include <memory>

// The PEM files of one end of a TLS connection: the authorities it trusts, its own
// certificate and its private key, read and checked before any connection is made.
struct TlsFiles
{
    QString caFile;   // empty: the system's authorities
    QString certFile; // empty: no certificate of its own
    QString keyFile;

    // Reads the files named; false with `error` naming the file that will not do. The key
    // must be the owner's alone (SecretFile).
    bool load(QString *error);
    // The default configuration with these authorities, certificate and key, TLS 1.2 or
    // later, and the peer verified as `verify` says (a client always verifies its server).
    QSslConfiguration configuration(QSslSocket::PeerVerifyMode verify = QSslSocket::VerifyPeer) const;

    // The certificates and key as load() read them. Kept apart and made only there: Qt loads
    // the TLS library, megabytes, for the first key or certificate, which a plain link
    // never needs.
    struct Material
    {
        QList<QSslCertificate> authorities;
        QList<QSslCertificate> chain; // its own certificate first
        QSslKey key;
    };
    std::shared_ptr<const Material> material;

    // Whether Qt can speak TLS here (it loads OpenSSL when first asked); false with `error`
    // set if not.
    static bool available(QString *error);
    // One or more certificates from a PEM file; false with `error` set if it holds none.
    static bool readCertificates(const QString &path,
                                 QList<QSslCertificate> *certificates,
                                 QString *error);
    // A private key (RSA, EC or DSA) from a PEM file that only its owner may read.
    static bool readKey(const QString &path, QSslKey *key, QString *error);
    // Every common name in a certificate's subject, in its order: it may carry several.
    static QStringList commonNames(const QSslCertificate &certificate);
};
