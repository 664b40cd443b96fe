#pragma once

#include "mqttconnection.h"

#include <QObject>
#include <QString>

class FleetModel;

// Feeds a FleetModel from the broker: subscribes to every agent's status and state on each
// connection, and tells the model when the connection is up or down. It never publishes,
// and has no will, so nothing it does can change an amplifier or another's view of it.
class FleetFeed : public QObject
{
    Q_OBJECT

public:
    // The largest packet taken from the broker: a message at the model's bound with a topic of
    // its longest. A larger one ends the connection (MqttPacketGuard), which the status says.
    static constexpr quint32 MaxIncomingPacket = 256 * 1024;

    FleetFeed(const MqttConnection::Settings &broker, FleetModel *model, QObject *parent = nullptr);

    void start();
    void stop();
    QString brokerText() const { return m_connection.brokerText(); }
    // The connection in words: connected, connecting, or why it is down.
    QString statusText() const { return m_status; }

signals:
    void statusChanged(const QString &text);
    // A message came, about to be handed to the model.
    void received(const QString &topic);

private:
    static MqttConnection::Settings subscriberSettings(MqttConnection::Settings broker);
    void setStatus(const QString &text);

    FleetModel *m_model;
    MqttConnection m_connection;
    QString m_status;
};
