#pragma once

#include "event.h"
#include "reconnectbackoff.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostInfo>
#include <QJsonObject>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

class Journal;
class QSocketNotifier;
class TelemetryState;
struct mosquitto;

// Publishes the agent's telemetry to an MQTT broker: a retained "online"/"offline" status
// (the broker's last will says "offline" when the agent dies), a retained state message at
// an interval and each journal event. The client runs in the agent's event loop, on a
// non-blocking socket, and the broker's name is looked up off it, so that a broker that is
// slow, down or gone never holds up the device poll; it is connected again in the
// background. Nothing is subscribed: the amplifier cannot be changed through here. A broker
// that stops acknowledging costs a bounded queue (the oldest events go first, counted), one
// that sends more than a publisher is owed is left, and one that takes each connection only
// to break it does not shorten the pause between tries. It speaks MQTT 5, in which a broker
// says when it refuses a publish (its ACL), and MQTT 3.1.1 to a broker that does not.
class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    static constexpr int KeepAliveS = 10;
    // Messages handed to the library and not yet acknowledged; within the library's own
    // window, so that it keeps no queue of its own.
    static constexpr int MaxUnacknowledged = 16;
    // Events waiting for the window; beyond it the oldest are dropped.
    static constexpr int MaxQueued = 1000;
    // The largest packet taken from a broker: a client that subscribes to nothing gets only
    // acknowledgements and answers of a few bytes.
    static constexpr quint32 MaxIncomingPacket = 4096;
    // A connection that holds this long resets the pause between tries.
    static constexpr int HeldMs = KeepAliveS * 1000;

    struct Settings
    {
        QString host;
        quint16 port = 1883;
        QString prefix; // topics are PREFIX/status, PREFIX/state and PREFIX/events
        int intervalMs = 1000;
        // Logging in; no user: anonymous.
        QString user;
        QByteArray password;
        // TLS, on with an authority to verify the broker against; a client certificate.
        QString caFile;
        QString certFile;
        QString keyFile;
    };

    MqttPublisher(const Settings &settings,
                  const TelemetryState *state,
                  Journal *journal,
                  QObject *parent = nullptr);
    ~MqttPublisher() override;

    void start();
    // Says "offline" and disconnects, waiting at most `timeoutMs` for it to be sent.
    void stop(int timeoutMs = 1000);
    bool isConnected() const { return m_phase == Phase::Connected; }
    quint64 droppedEvents() const { return m_droppedEvents; }

    // The state message for the current telemetry, stamped with `time`.
    static QByteArray stateMessage(const TelemetryState *state, const QString &time);

signals:
    void connectedChanged(bool connected);
    // An event was dropped because the broker did not take the ones before it.
    void eventDropped();

private:
    enum class Phase { Stopped, Resolving, Connecting, Connected, Waiting };

    void resolve();
    void onResolved(const QHostInfo &info);
    void onConnack(int code);
    void service();
    void afterIo(int result);
    void watchSocket();
    // Gives the connection up and tries again after a pause; with no reason, at once and
    // without a word.
    void fail(const QString &reason);
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    void enqueue(const QString &topic, const QByteArray &payload, bool retain, bool first);
    void sendQueued();
    void onPublished(int mid, int reason, const QString &reasonText);
    enum class Incoming { Whole, Part, TooMuch };
    Incoming incoming() const;
    bool hungUp() const;
    void publishState();
    void publishEvent(const QString &time, Event event, const QJsonObject &details);

    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retain = false;
    };

    Settings m_settings;
    const TelemetryState *m_state = nullptr;
    Journal *m_journal = nullptr;
    mosquitto *m_client = nullptr;
    Phase m_phase = Phase::Stopped;
    ReconnectBackoff m_backoff;
    QTimer m_retryTimer;
    QTimer m_stateTimer;
    QTimer m_heldTimer;
    // Keep-alive pings and the broker's silence are the library's to notice, on its clock.
    QTimer m_serviceTimer;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_socket = -1;
    QElapsedTimer m_connecting;
    int m_lookupId = -1;
    bool m_failureReported = false;
    int m_refusedCode = 0;
    int m_protocol;                 // MQTT_PROTOCOL_V5, or V311 once a broker did not take 5
    bool m_refusalReported = false; // a refused publish, once a connection
    QString m_setupError;           // the login or TLS could not be set: nothing is to be sent
    QString m_libraryError; // what the library logged as an error last, such as a TLS failure
    QQueue<Message> m_queue;
    // Kept by the library across reconnects until acknowledged: they stay counted.
    // Their topics, for the journal if the broker refuses them.
    QHash<int, QString> m_unacknowledged;
    quint64 m_droppedEvents = 0;
    QElapsedTimer m_partSince; // a packet has waited unfinished on the socket
    mutable unsigned char m_peek[16 * 1024];
    int m_offlineMid = -1;
    bool m_offlineAcknowledged = false;
};
