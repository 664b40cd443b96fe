#pragma once

#include "serverprocess.h"

#include <QByteArray>
#include <QString>

// The real Prometheus server for a test: on a free loopback port, scraping as the test's
// configuration says, keeping its data in a scratch folder, for as long as the object lives.
class PrometheusServer
{
public:
    // The program's path; empty if it is not installed.
    static QString program() { return ServerProcess::find(QStringLiteral("prometheus")); }

    // Writes `config` to FOLDER/prometheus.yml and starts the server on it, waiting until it
    // serves. False with errorString() if it does not.
    bool start(const QByteArray &config, const QString &folder);
    // The value of the first sample `query` returns now, as Prometheus writes it ("1");
    // empty if there is none.
    QString value(const QString &query);
    QString errorString() const { return m_server.errorString(); }

private:
    ServerProcess m_server;
    quint16 m_port = 0;
};
