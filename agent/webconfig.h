#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The web configuration file of Prometheus's exporters (their --web.config.file): TLS for
// the metrics endpoint, which client certificates it asks for, and the users who may scrape
// it with their bcrypt hashes. Files it names are relative to its own folder.
struct WebConfig
{
    // client_auth_type, as the exporters name it.
    enum class ClientAuth {
        NoClientCert,
        RequestClientCert,
        RequireAnyClientCert,
        VerifyClientCertIfGiven,
        RequireAndVerifyClientCert
    };

    QString path;
    QString certFile;
    QString keyFile;
    QString clientCaFile;
    ClientAuth clientAuth = ClientAuth::NoClientCert;
    QString minVersion = QStringLiteral("TLS12");
    QString maxVersion = QStringLiteral("TLS13");
    QMap<QString, QByteArray> users; // name: bcrypt hash

    // The files' contents, read by load().
    QByteArray certPem;
    QByteArray keyPem;
    QByteArray clientCaPem;

    bool usesTls() const { return !certFile.isEmpty(); }
    bool asksForCertificate() const { return clientAuth != ClientAuth::NoClientCert; }
    bool requiresCertificate() const
    {
        return clientAuth == ClientAuth::RequireAnyClientCert
               || clientAuth == ClientAuth::RequireAndVerifyClientCert;
    }
    bool verifiesCertificate() const
    {
        return clientAuth == ClientAuth::VerifyClientCertIfGiven
               || clientAuth == ClientAuth::RequireAndVerifyClientCert;
    }

    // Reads `file` and the files it names; false with `error` saying what is wrong and
    // where. Keys it does not know are mistakes, as they are for the exporters.
    bool load(const QString &file, QString *error);
    // The TLS versions from min_version to max_version, as GnuTLS priorities.
    QByteArray tlsPriorities() const;
    // One line for --check.
    QString summary() const;
};
