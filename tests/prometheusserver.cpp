#include "prometheusserver.h"

#include "prometheusquery.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>

bool PrometheusServer::start(const QByteArray &config, const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("prometheus.yml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) < 0)
        return false;
    file.close();
    m_port = ServerProcess::freePort();
    return m_server.start(program(),
                          {QStringLiteral("--config.file=") + path,
                           QStringLiteral("--storage.tsdb.path=")
                               + QDir(folder).filePath(QStringLiteral("tsdb")),
                           QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port)},
                          QStringLiteral("Server is ready to receive web requests"),
                          60000);
}

QString PrometheusServer::value(const QString &query)
{
    QNetworkAccessManager network;
    return prometheusValue(&network, m_port, query);
}
