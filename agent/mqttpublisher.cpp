#include "mqttpublisher.h"

#include "journal.h"
#include "telemetrystate.h"

namespace {

constexpr char Online[] = "online";
constexpr char Offline[] = "offline";
// The lowest MQTT 5 reason code of a refusal.
constexpr int FirstRefusal = 0x80;

} // namespace

MqttPublisher::MqttPublisher(const Settings &settings,
                             const TelemetryState *state,
                             Journal *journal,
                             QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_state(state)
    , m_journal(journal)
    , m_connection(withWill(settings))
{
    connect(&m_connection, &MqttConnection::connected, this, &MqttPublisher::onConnected);
    connect(&m_connection, &MqttConnection::lost, this, [this](const QString &reason) {
        emit connectedChanged(false);
        m_journal->record(Event::MqttLost,
                          {{QStringLiteral("broker"), m_connection.brokerText()},
                           {QStringLiteral("reason"), reason}});
    });
    connect(&m_connection, &MqttConnection::failed, this, [this](const QString &reason) {
        m_journal->record(Event::MqttFailed,
                          {{QStringLiteral("broker"), m_connection.brokerText()},
                           {QStringLiteral("reason"), reason}});
    });
    connect(&m_connection, &MqttConnection::published, this, &MqttPublisher::onPublished);
    m_stateTimer.setInterval(m_settings.intervalMs);
    connect(&m_stateTimer, &QTimer::timeout, this, [this] {
        // The last one is still being written: the socket is full, and a newer one follows.
        if (!m_connection.isWriting())
            publishState();
    });
    m_journal->addListener(this,
                           [this](const QString &time, Event event, const QJsonObject &details) {
                               publishEvent(time, event, details);
                           });
}

MqttConnection::Settings MqttPublisher::withWill(const Settings &settings)
{
    MqttConnection::Settings broker = settings.broker;
    broker.willTopic = settings.prefix + QLatin1String("/status");
    broker.willPayload = Offline;
    broker.maxIncomingPacket = MaxIncomingPacket;
    broker.sendMaximum = MaxUnacknowledged + 4;
    return broker;
}

void MqttPublisher::start()
{
    m_running = true;
    m_stateTimer.start();
    m_connection.start();
}

void MqttPublisher::stop(int timeoutMs)
{
    if (!m_running)
        return;
    m_running = false;
    m_stateTimer.stop();
    if (!m_connection.isConnected()) {
        m_connection.stop(0);
        return;
    }
    // A last retained state, so that nobody later takes the final readings for live ones.
    publishState();
    const int offline = m_connection.publish(m_settings.prefix + QLatin1String("/status"),
                                             Offline,
                                             1,
                                             true);
    // Not taken by the library: the last will says "offline" instead.
    if (offline < 0)
        m_connection.abandon();
    else
        m_connection.stop(timeoutMs, offline);
    emit connectedChanged(false);
}

void MqttPublisher::onConnected()
{
    // Called from inside the library's read: what is published here leaves after it returns.
    m_refusalReported = false;
    enqueue(QStringLiteral("status"), Online, true, true);
    publishState();
    emit connectedChanged(true);
    m_journal->record(Event::MqttConnected, {{QStringLiteral("broker"), m_connection.brokerText()}});
}

void MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    // The state comes again in a second: it is not worth a queue of acknowledgements.
    const int qos = topic == QLatin1String("state") ? 0 : 1;
    const int mid = m_connection.publish(m_settings.prefix + QLatin1Char('/') + topic,
                                         payload,
                                         qos,
                                         retain);
    if (mid >= 0 && qos > 0)
        m_unacknowledged.insert(mid, topic);
}

void MqttPublisher::enqueue(const QString &topic, const QByteArray &payload, bool retain, bool first)
{
    if (!m_running)
        return;
    if (m_queue.size() >= MaxQueued) {
        m_queue.dequeue();
        ++m_droppedEvents;
        emit eventDropped();
    }
    if (first)
        m_queue.prepend({topic, payload, retain});
    else
        m_queue.enqueue({topic, payload, retain});
    sendQueued();
}

void MqttPublisher::sendQueued()
{
    while (m_connection.isConnected() && m_unacknowledged.size() < MaxUnacknowledged
           && !m_queue.isEmpty()) {
        const Message message = m_queue.dequeue();
        publish(message.topic, message.payload, message.retain);
    }
}

void MqttPublisher::onPublished(int mid, int reason, const QString &reasonText)
{
    const auto found = m_unacknowledged.find(mid);
    if (found == m_unacknowledged.end())
        return;
    // A broker refuses the same topic for every message: said once a connection.
    if (reason >= FirstRefusal && !m_refusalReported) {
        m_refusalReported = true;
        m_journal->record(Event::MqttRefused,
                          {{QStringLiteral("broker"), m_connection.brokerText()},
                           {QStringLiteral("topic"),
                            m_settings.prefix + QLatin1Char('/') + found.value()},
                           {QStringLiteral("reason"), reasonText}});
    }
    m_unacknowledged.erase(found);
    sendQueued();
}

void MqttPublisher::publishState()
{
    if (m_connection.isConnected())
        publish(QStringLiteral("state"),
                TelemetryState::stateMessage(m_state->snapshot(),
                                             Journal::now(),
                                             {m_settings.intervalMs, m_settings.advertise}),
                true);
}

void MqttPublisher::publishEvent(const QString &time, Event event, const QJsonObject &details)
{
    enqueue(QStringLiteral("events"), Journal::line(time, event, details), false, false);
}
