#pragma once

#include "mqttpacketguard.h"
#include "reconnectbackoff.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
struct mosquitto;

// A client's connection to an MQTT broker, in the program's event loop: libmosquitto's
// external-loop calls are driven from socket notifiers and a timer on a non-blocking socket,
// and the broker's name is looked up off the loop, so that a broker that is slow, down or gone
// never holds the program up. A connection lost or refused is tried again after a growing
// pause, which one that is broken at once does not shorten. It speaks MQTT 5, in which a
// broker says why it refuses a message, and 3.1.1 to a broker that knows no other. What the
// broker sends is held to the size a client of this kind is owed (MqttPacketGuard).
class MqttConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int KeepAliveS = 10;
    // A connection that holds this long resets the pause between tries.
    static constexpr int HeldMs = KeepAliveS * 1000;

    struct Settings
    {
        QString host;
        quint16 port = 1883;
        // Logging in; no user: anonymous.
        QString user;
        QByteArray password;
        // TLS, on with an authority to verify the broker against; a client certificate.
        QString caFile;
        QString certFile;
        QString keyFile;
        // Said by the broker, at QoS 1 and retained, when the client goes without a goodbye;
        // none without a topic.
        QString willTopic;
        QByteArray willPayload;
        // The largest packet taken from the broker: a publisher gets only acknowledgements,
        // a subscriber the messages it asked for besides.
        quint32 maxIncomingPacket = 4096;
        // Messages in flight the library keeps, so that it queues nothing beyond them; 0:
        // its own default.
        int sendMaximum = 0;
    };

    explicit MqttConnection(const Settings &settings, QObject *parent = nullptr);
    ~MqttConnection() override;

    // Starts connecting, and connecting again whenever the connection is lost.
    void start();
    // Once `awaitedMid` (a message published last, if any) is acknowledged, says goodbye;
    // waits at most `timeoutMs` for either. The connection ends in any case.
    void stop(int timeoutMs = 1000, int awaitedMid = -1);
    // Ends the connection without a goodbye, so that the broker says the last will.
    void abandon();
    bool isConnected() const { return m_phase == Phase::Connected; }
    // The library still has bytes to write: the socket is full.
    bool isWriting() const;
    QString brokerText() const;

    // The message id, or -1 when not connected or the library would not take it.
    int publish(const QString &topic, const QByteArray &payload, int qos, bool retain);
    // False when not connected or the library would not take it; subscriptions are not kept
    // across a reconnect: subscribe again on connected().
    bool subscribe(const QString &pattern, int qos);

signals:
    void connected();
    // A connection that was up ended, and why.
    void lost(const QString &reason);
    // A try failed before it was up; said once until a connection works again.
    void failed(const QString &reason);
    // The broker acknowledged message `mid`; `reason` is 0 or an MQTT 5 reason code of 0x80
    // or above when it refused it, with `reasonText` in words.
    void published(int mid, int reason, const QString &reasonText);
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);

private:
    enum class Phase { Stopped, Resolving, Connecting, Connected, Waiting };

    void resolve();
    void onResolved(const QHostInfo &info);
    void onConnack(int code);
    void onReadable();
    void onWritable();
    void onTick();
    bool guardIncoming();
    void afterIo(int result);
    void watchSocket();
    // Waits at most `timeoutMs` for the socket and runs the library's calls once.
    int pumpOnce(int timeoutMs);
    // Gives the connection up and tries again after a pause; with no reason, at once and
    // without a word.
    void fail(const QString &reason);
    void dropNotifiers();

    Settings m_settings;
    mosquitto *m_client = nullptr;
    MqttPacketGuard m_guard;
    Phase m_phase = Phase::Stopped;
    ReconnectBackoff m_backoff;
    QTimer m_retryTimer;
    QTimer m_heldTimer;
    // Keep-alive pings and the broker's silence are the library's to notice, on its clock.
    QTimer m_miscTimer;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_socket = -1;
    QElapsedTimer m_connecting;
    QElapsedTimer m_partSince; // a packet has waited unfinished on the socket
    int m_lookupId = -1;
    bool m_failureReported = false;
    int m_refusedCode = 0;
    int m_protocol;            // MQTT_PROTOCOL_V5, or V311 once a broker did not take 5
    QString m_setupError;      // the will, login or TLS could not be set: nothing is to be sent
    QString m_libraryError;    // what the library logged as an error last, such as a TLS failure
    bool m_subscribed = false; // more is owed to a subscriber than acknowledgements
    int m_awaitedMid = -1;
    bool m_awaitedAcknowledged = false;
};
