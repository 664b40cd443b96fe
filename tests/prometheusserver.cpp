#include "prometheusserver.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>

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
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(m_port));
    QUrlQuery parameters;
    parameters.addQueryItem(QStringLiteral("query"), query);
    url.setQuery(parameters);
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    const QJsonArray result = QJsonDocument::fromJson(reply->readAll())
                                  .object()
                                  .value(QStringLiteral("data"))
                                  .toObject()
                                  .value(QStringLiteral("result"))
                                  .toArray();
    return result.first().toObject().value(QStringLiteral("value")).toArray().last().toString();
}
