#pragma once

#include <QString>

class QNetworkAccessManager;

// Asks the Prometheus server on 127.0.0.1:`port` an instant query and returns the value of
// its first result as Prometheus writes it ("1", "32"); empty when there is none.
QString prometheusValue(QNetworkAccessManager *network, quint16 port, const QString &expression);
