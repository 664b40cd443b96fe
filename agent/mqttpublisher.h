#pragma once

#include "reconnectbackoff.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QJsonObject>
#include <QObject>
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
// background. Nothing is subscribed: the amplifier cannot be changed through here.
class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    static constexpr int KeepAliveS = 10;

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

    // The state message for the current telemetry, stamped with `time`.
    static QByteArray stateMessage(const TelemetryState *state, const QString &time);

signals:
    void connectedChanged(bool connected);

private:
    enum class Phase { Stopped, Resolving, Connecting, Connected, Waiting };

    void resolve();
    void onResolved(const QHostInfo &info);
    void onConnack(int code);
    void service();
    void afterIo(int result);
    void watchSocket();
    void fail(const QString &reason);
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    void publishState();
    void publishEvent(const QString &time, const QString &event, const QJsonObject &details);

    Settings m_settings;
    const TelemetryState *m_state = nullptr;
    Journal *m_journal = nullptr;
    mosquitto *m_client = nullptr;
    Phase m_phase = Phase::Stopped;
    ReconnectBackoff m_backoff;
    QTimer m_retryTimer;
    QTimer m_stateTimer;
    // Keep-alive pings and the broker's silence are the library's to notice, on its clock.
    QTimer m_serviceTimer;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_socket = -1;
    QElapsedTimer m_connecting;
    int m_lookupId = -1;
    bool m_failureReported = false;
    int m_refusedCode = 0;
    QString m_libraryError; // what the library logged as an error last, such as a TLS failure
    int m_offlineMid = -1;
    bool m_offlineAcknowledged = false;
};
