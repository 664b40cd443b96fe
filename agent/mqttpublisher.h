#pragma once

#include "event.h"
#include "mqttconnection.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

class Journal;
class TelemetryState;

// Publishes the agent's telemetry through an MqttConnection: a retained "online"/"offline"
// status (the broker's last will says "offline" when the agent dies), a retained state
// message at an interval and each journal event. Nothing is subscribed: the amplifier cannot
// be changed through here. A broker that stops acknowledging costs a bounded queue (the
// oldest events go first, counted).
class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    // Messages handed to the library and not yet acknowledged; within the library's own
    // window, so that it keeps no queue of its own.
    static constexpr int MaxUnacknowledged = 16;
    // Events waiting for the window; beyond it the oldest are dropped.
    static constexpr int MaxQueued = 1000;
    // The largest packet taken from a broker: a client that subscribes to nothing gets only
    // acknowledgements and answers of a few bytes.
    static constexpr quint32 MaxIncomingPacket = 4096;

    struct Settings
    {
        MqttConnection::Settings broker; // its will is set here
        QString prefix;                  // topics are PREFIX/status, PREFIX/state and PREFIX/events
        int intervalMs = 1000;
        QString advertise; // where clients reach the agent, ADDRESS:PORT, said in the state
    };

    MqttPublisher(const Settings &settings,
                  const TelemetryState *state,
                  Journal *journal,
                  QObject *parent = nullptr);

    void start();
    // Says "offline" and disconnects, waiting at most `timeoutMs` for it to be sent.
    void stop(int timeoutMs = 1000);
    bool isConnected() const { return m_connection.isConnected(); }
    quint64 droppedEvents() const { return m_droppedEvents; }

signals:
    void connectedChanged(bool connected);
    // An event was dropped because the broker did not take the ones before it.
    void eventDropped();

private:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retain = false;
    };

    static MqttConnection::Settings withWill(const Settings &settings);
    void onConnected();
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    void enqueue(const QString &topic, const QByteArray &payload, bool retain, bool first);
    void sendQueued();
    void onPublished(int mid, int reason, const QString &reasonText);
    void publishState();
    void publishEvent(const QString &time, Event event, const QJsonObject &details);

    Settings m_settings;
    const TelemetryState *m_state = nullptr;
    Journal *m_journal = nullptr;
    MqttConnection m_connection;
    bool m_running = false;
    QTimer m_stateTimer;
    bool m_refusalReported = false; // a refused publish, once a connection
    QQueue<Message> m_queue;
    // Kept by the library across reconnects until acknowledged: they stay counted.
    // Their topics, for the journal if the broker refuses them.
    QHash<int, QString> m_unacknowledged;
    quint64 m_droppedEvents = 0;
};
