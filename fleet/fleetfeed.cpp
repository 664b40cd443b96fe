#include "fleetfeed.h"

#include "fleetmodel.h"

FleetFeed::FleetFeed(const MqttConnection::Settings &broker, FleetModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_connection(subscriberSettings(broker))
{
    connect(&m_connection, &MqttConnection::connected, this, [this] {
        // Called from inside the library's read: the subscriptions leave after it returns.
        // Subscriptions do not outlive a connection; the retained messages come again.
        for (const QString &topic : m_model->topics()) {
            if (!m_connection.subscribe(topic, 1)) {
                setStatus(tr("connected to %1, but cannot subscribe to %2")
                              .arg(m_connection.brokerText(), topic));
                m_model->setBrokerConnected(false);
                return;
            }
        }
        m_model->setBrokerConnected(true);
        setStatus(tr("connected to %1").arg(m_connection.brokerText()));
    });
    connect(&m_connection, &MqttConnection::lost, this, [this](const QString &reason) {
        m_model->setBrokerConnected(false);
        setStatus(tr("no connection to %1: %2").arg(m_connection.brokerText(), reason));
    });
    connect(&m_connection, &MqttConnection::failed, this, [this](const QString &reason) {
        m_model->setBrokerConnected(false);
        setStatus(tr("no connection to %1: %2").arg(m_connection.brokerText(), reason));
    });
    connect(&m_connection,
            &MqttConnection::messageReceived,
            m_model,
            [this](const QString &topic, const QByteArray &payload) {
                emit received(topic);
                m_model->take(topic, payload);
            });
    m_status = tr("connecting to %1").arg(m_connection.brokerText());
}

MqttConnection::Settings FleetFeed::subscriberSettings(MqttConnection::Settings broker)
{
    broker.willTopic.clear();
    broker.willPayload.clear();
    broker.maxIncomingPacket = MaxIncomingPacket;
    return broker;
}

void FleetFeed::start()
{
    m_connection.start();
}

void FleetFeed::stop()
{
    m_connection.stop(0);
    m_model->setBrokerConnected(false);
}

void FleetFeed::setStatus(const QString &text)
{
    if (text == m_status)
        return;
    m_status = text;
    emit statusChanged(text);
}
