#pragma once

#include "faultoptions.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class AmplifierModel;

// Serves the one amplifier over TCP to any number of clients at once, each on its own.
class SimServer : public QObject
{
    Q_OBJECT

public:
    SimServer(AmplifierModel *model, const FaultOptions &faults, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

signals:
    void report(const QString &message);

private:
    void acceptConnections();

    AmplifierModel *m_model = nullptr;
    FaultOptions m_faults;
    QTcpServer m_server;
};
