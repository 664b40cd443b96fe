#include "prometheusquery.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

QString prometheusValue(QNetworkAccessManager *network, quint16 port, const QString &expression)
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(port));
    url.setQuery(QStringLiteral("query=")
                 + QString::fromLatin1(QUrl::toPercentEncoding(expression)));
    QNetworkReply *reply = network->get(QNetworkRequest(url));
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
    if (result.isEmpty())
        return QString();
    return result.first().toObject().value(QStringLiteral("value")).toArray().last().toString();
}
