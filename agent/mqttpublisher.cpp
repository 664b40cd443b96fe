#include "mqttpublisher.h"

#include "journal.h"
#include "telemetrystate.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

constexpr char Online[] = "online";
constexpr char Offline[] = "offline";
constexpr int ServiceMs = 500;
constexpr int PartWaitMs = 10;

QString reasonOf(int result)
{
    if (result == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(result));
}

// An MQTT 5 reason code in words, with the broker's own reason string if it sent one.
QString reasonText(int code, const mosquitto_property *properties)
{
    QString text = QString::fromUtf8(mosquitto_reason_string(code));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    char *said = nullptr;
    if (properties
        && mosquitto_property_read_string(properties, MQTT_PROP_REASON_STRING, &said, false)) {
        text += QLatin1String(": ") + QString::fromUtf8(said);
        std::free(said);
    }
    return text;
}

} // namespace

MqttPublisher::MqttPublisher(const Settings &settings,
                             const TelemetryState *state,
                             Journal *journal,
                             QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_state(state)
    , m_journal(journal)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    m_client = mosquitto_new(nullptr, true, this);
    // It fails only when memory runs out, at start, before any client is served.
    if (!m_client)
        qFatal("korvane-agent: cannot create the MQTT client: %s", std::strerror(errno));
    const QByteArray statusTopic = (m_settings.prefix + QLatin1String("/status")).toUtf8();
    // Without the will, the login or the TLS asked for, nothing is sent at all: resolve()
    // says why.
    int secured = mosquitto_will_set(m_client,
                                     statusTopic.constData(),
                                     int(std::strlen(Offline)),
                                     Offline,
                                     1,
                                     true);
    if (secured == MOSQ_ERR_SUCCESS && !m_settings.user.isEmpty())
        secured = mosquitto_username_pw_set(m_client,
                                            m_settings.user.toUtf8().constData(),
                                            m_settings.password.isEmpty()
                                                ? nullptr
                                                : m_settings.password.constData());
    if (secured == MOSQ_ERR_SUCCESS && !m_settings.caFile.isEmpty()) {
        // The files were read and checked at start; the library verifies the broker's
        // certificate and its name by default, and that is not turned off.
        secured = mosquitto_tls_set(m_client,
                                    QFile::encodeName(m_settings.caFile).constData(),
                                    nullptr,
                                    m_settings.certFile.isEmpty()
                                        ? nullptr
                                        : QFile::encodeName(m_settings.certFile).constData(),
                                    m_settings.keyFile.isEmpty()
                                        ? nullptr
                                        : QFile::encodeName(m_settings.keyFile).constData(),
                                    nullptr);
    }
    if (secured != MOSQ_ERR_SUCCESS)
        m_setupError = tr("cannot set up the will, the login or TLS: %1").arg(reasonOf(secured));
    // A failed handshake comes back as "A TLS error occurred"; the library's log says why.
    mosquitto_log_callback_set(m_client, [](mosquitto *, void *self, int level, const char *text) {
        if (level == MOSQ_LOG_ERR)
            static_cast<MqttPublisher *>(self)->m_libraryError = QString::fromUtf8(text);
    });
    // MQTT 5 first: under 3.1.1 a broker drops a publish its ACL refuses without a word.
    m_protocol = MQTT_PROTOCOL_V5;
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, m_protocol);
    mosquitto_connect_v5_callback_set(m_client,
                                      [](mosquitto *,
                                         void *self,
                                         int code,
                                         int,
                                         const mosquitto_property *) {
                                          static_cast<MqttPublisher *>(self)->onConnack(code);
                                      });
    mosquitto_publish_v5_callback_set(
        m_client,
        [](mosquitto *, void *self, int mid, int reason, const mosquitto_property *properties) {
            static_cast<MqttPublisher *>(self)->onPublished(mid,
                                                            reason,
                                                            reasonText(reason, properties));
        });
    // The library would otherwise queue beyond its window, unbounded.
    mosquitto_int_option(m_client, MOSQ_OPT_SEND_MAXIMUM, MaxUnacknowledged + 4);
    m_heldTimer.setSingleShot(true);
    m_heldTimer.setInterval(HeldMs);
    connect(&m_heldTimer, &QTimer::timeout, this, [this] { m_backoff.reset(); });

    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &MqttPublisher::resolve);
    m_stateTimer.setInterval(m_settings.intervalMs);
    connect(&m_stateTimer, &QTimer::timeout, this, [this] {
        // The last one is still being written: the socket is full, and a newer one follows.
        if (!mosquitto_want_write(m_client))
            publishState();
    });
    m_serviceTimer.setInterval(ServiceMs);
    connect(&m_serviceTimer, &QTimer::timeout, this, &MqttPublisher::service);
    m_journal->addListener(this,
                           [this](const QString &time, Event event, const QJsonObject &details) {
                               publishEvent(time, event, details);
                           });
}

MqttPublisher::~MqttPublisher()
{
    stop(0);
    mosquitto_destroy(m_client);
}

void MqttPublisher::start()
{
    m_stateTimer.start();
    m_serviceTimer.start();
    resolve();
}

void MqttPublisher::stop(int timeoutMs)
{
    if (m_phase == Phase::Stopped)
        return;
    m_retryTimer.stop();
    m_stateTimer.stop();
    m_serviceTimer.stop();
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
    if (m_phase == Phase::Connected) {
        // A last retained state, so that nobody later takes the final readings for live ones.
        publishState();
        m_offlineMid = -1;
        m_offlineAcknowledged = false;
        const QByteArray topic = (m_settings.prefix + QLatin1String("/status")).toUtf8();
        mosquitto_publish(m_client,
                          &m_offlineMid,
                          topic.constData(),
                          int(std::strlen(Offline)),
                          Offline,
                          1,
                          true);
        // Closing a socket with acknowledgements still unread resets the connection, and the
        // broker drops what it has not handled yet: the goodbye goes once "offline" is
        // acknowledged. Without one, the broker's last will says "offline" all the same.
        const QDeadlineTimer deadline(timeoutMs);
        const auto loopUntil = [&](const std::function<bool()> &done) {
            while (!done() && !deadline.hasExpired()) {
                if (mosquitto_loop(m_client, int(qMax<qint64>(1, deadline.remainingTime())), 1)
                    != MOSQ_ERR_SUCCESS)
                    break;
            }
        };
        loopUntil([this] { return m_offlineAcknowledged; });
        if (m_offlineAcknowledged) {
            mosquitto_disconnect(m_client);
            // The library closes the socket once the goodbye is out.
            loopUntil([this] { return mosquitto_socket(m_client) < 0; });
        }
        emit connectedChanged(false);
    }
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = m_writeNotifier = nullptr;
    m_socket = -1;
    m_phase = Phase::Stopped;
}

void MqttPublisher::resolve()
{
    if (!m_setupError.isEmpty()) {
        fail(m_setupError);
        return;
    }
    m_phase = Phase::Resolving;
    const QHostAddress literal(m_settings.host);
    if (!literal.isNull()) {
        QHostInfo info;
        info.setAddresses({literal});
        onResolved(info);
        return;
    }
    // The system's resolver blocks; Qt asks it on a thread of its own.
    m_lookupId = QHostInfo::lookupHost(m_settings.host, this, &MqttPublisher::onResolved);
}

void MqttPublisher::onResolved(const QHostInfo &info)
{
    m_lookupId = -1;
    if (m_phase != Phase::Resolving)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        fail(tr("cannot find %1: %2").arg(m_settings.host, info.errorString()));
        return;
    }
    m_phase = Phase::Connecting;
    m_connecting.start();
    // A broker's certificate names the broker, not its address: with TLS the library is given
    // the name, which the system now resolves at once, having just done it.
    const QByteArray address = m_settings.caFile.isEmpty()
                                   ? info.addresses().first().toString().toLatin1()
                                   : m_settings.host.toUtf8();
    const int result = mosquitto_connect_async(m_client,
                                               address.constData(),
                                               m_settings.port,
                                               KeepAliveS);
    afterIo(result);
}

void MqttPublisher::onConnack(int code)
{
    // Called from inside the library's loop: what is published here leaves after it returns.
    if (code != 0) {
        m_refusedCode = code;
        return;
    }
    m_phase = Phase::Connected;
    m_heldTimer.start();
    m_failureReported = false;
    m_refusalReported = false;
    enqueue(QStringLiteral("status"), Online, true, true);
    publishState();
    emit connectedChanged(true);
    m_journal->record(Event::MqttConnected,
                      {{QStringLiteral("broker"),
                        QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port)}});
}

void MqttPublisher::service()
{
    if (m_phase != Phase::Connecting && m_phase != Phase::Connected)
        return;
    // A broker that takes the connection but never answers it is given up like a refusal.
    if (m_phase == Phase::Connecting && m_connecting.hasExpired(KeepAliveS * 1000)) {
        fail(tr("the broker did not answer"));
        return;
    }
    switch (incoming()) {
    case Incoming::TooMuch:
        fail(tr("the broker sent more than a publisher is owed"));
        return;
    case Incoming::Part:
        // The library would take it piecemeal, past what was checked: it waits until whole.
        if (!m_partSince.isValid()) {
            m_partSince.start();
        } else if (m_partSince.hasExpired(KeepAliveS * 1000)) {
            fail(tr("the broker left a packet unfinished"));
            return;
        }
        m_readNotifier->setEnabled(false);
        QTimer::singleShot(PartWaitMs, this, [this] {
            if (m_readNotifier)
                m_readNotifier->setEnabled(true);
            service();
        });
        return;
    case Incoming::Whole:
        m_partSince.invalidate();
        break;
    }
    afterIo(mosquitto_loop(m_client, 0, 1));
}

MqttPublisher::Incoming MqttPublisher::incoming() const
{
    // The library makes room for a packet as large as its header says, and reads on while
    // bytes come: what waits on the socket is looked at first, without taking it. A broker
    // sends a client that subscribes to nothing only short answers. The library takes whole
    // packets from here, so the next byte always starts one.
    // Under TLS the socket holds encrypted records, which tell nothing of the packets in
    // them; the broker is then one whose certificate was verified.
    if (m_socket < 0 || !m_settings.caFile.isEmpty())
        return Incoming::Whole;
    int available = 0;
    if (::ioctl(m_socket, FIONREAD, &available) != 0 || available <= 0)
        return Incoming::Whole; // nothing, the end or an error: the library's to find
    if (available > int(sizeof(m_peek)))
        return Incoming::TooMuch;
    const ssize_t got = ::recv(m_socket, m_peek, sizeof(m_peek), MSG_PEEK | MSG_DONTWAIT);
    if (got <= 0)
        return Incoming::Whole;
    ssize_t at = 0;
    while (at < got) {
        quint32 length = 0;
        ssize_t next = at + 1;
        for (int shift = 0;; shift += 7, ++next) {
            if (next >= got)
                return hungUp() ? Incoming::Whole : Incoming::Part;
            if (shift > 21)
                return Incoming::TooMuch;
            length |= quint32(m_peek[next] & 0x7f) << shift;
            if (!(m_peek[next] & 0x80))
                break;
        }
        if (length > MaxIncomingPacket)
            return Incoming::TooMuch;
        at = next + 1 + ssize_t(length);
    }
    return at == got || hungUp() ? Incoming::Whole : Incoming::Part;
}

bool MqttPublisher::hungUp() const
{
    // After a part of a packet: the library finds the end and says so.
    pollfd hangUp = {m_socket, POLLRDHUP, 0};
    return ::poll(&hangUp, 1, 0) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void MqttPublisher::afterIo(int result)
{
    if (result != MOSQ_ERR_SUCCESS) {
        // Under MQTT 5 a refusal's code is a reason code; under 3.1.1 a CONNACK code.
        QString reason = !m_refusedCode ? reasonOf(result)
                         : m_protocol == MQTT_PROTOCOL_V5
                             ? reasonText(m_refusedCode, nullptr)
                             : QString::fromUtf8(mosquitto_connack_string(m_refusedCode));
        // A broker that knows only 3.1.1 refuses version 5, or answers in a form version 5
        // cannot read: the next tries speak 3.1.1.
        const bool oldBroker = m_phase == Phase::Connecting && m_protocol == MQTT_PROTOCOL_V5
                               && (m_refusedCode == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION
                                   || m_refusedCode == CONNACK_REFUSED_PROTOCOL_VERSION
                                   || (m_refusedCode == 0
                                       && (result == MOSQ_ERR_PROTOCOL
                                           || result == MOSQ_ERR_MALFORMED_PACKET)));
        if (oldBroker) {
            // Not a failure yet: the broker is asked again at once, in its own version.
            m_protocol = MQTT_PROTOCOL_V311;
            mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, m_protocol);
            m_libraryError.clear();
            fail(QString());
            return;
        }
        if (result == MOSQ_ERR_TLS && !m_libraryError.isEmpty())
            reason += QLatin1String(" (") + m_libraryError + QLatin1Char(')');
        m_libraryError.clear();
        fail(reason);
        return;
    }
    watchSocket();
}

void MqttPublisher::watchSocket()
{
    const int socket = mosquitto_socket(m_client);
    if (socket != m_socket) {
        delete m_readNotifier;
        delete m_writeNotifier;
        m_readNotifier = m_writeNotifier = nullptr;
        m_socket = socket;
        if (socket >= 0) {
            m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttPublisher::service);
            m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
            connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttPublisher::service);
        }
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
}

void MqttPublisher::fail(const QString &reason)
{
    const bool wasConnected = m_phase == Phase::Connected;
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = m_writeNotifier = nullptr;
    // Still the library's: it is closed on the next try, and meanwhile nothing more comes.
    if (m_socket >= 0 && mosquitto_socket(m_client) == m_socket)
        ::shutdown(m_socket, SHUT_RDWR);
    m_socket = -1;
    m_refusedCode = 0;
    m_phase = Phase::Waiting;
    m_heldTimer.stop();
    m_partSince.invalidate();
    if (reason.isEmpty()) {
        m_retryTimer.start(0);
        return;
    }
    const QString broker = QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port);
    if (wasConnected) {
        emit connectedChanged(false);
        m_journal->record(Event::MqttLost,
                          {{QStringLiteral("broker"), broker}, {QStringLiteral("reason"), reason}});
    } else if (!m_failureReported) {
        // A broker that stays away is said once, not at every try.
        m_failureReported = true;
        m_journal->record(Event::MqttFailed,
                          {{QStringLiteral("broker"), broker}, {QStringLiteral("reason"), reason}});
    }
    m_retryTimer.start(m_backoff.next());
}

void MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (m_phase != Phase::Connected)
        return;
    const QByteArray name = (m_settings.prefix + QLatin1Char('/') + topic).toUtf8();
    // The state comes again in a second: it is not worth a queue of acknowledgements.
    const int qos = topic == QLatin1String("state") ? 0 : 1;
    int mid = 0;
    if (mosquitto_publish(
            m_client, &mid, name.constData(), int(payload.size()), payload.constData(), qos, retain)
        == MOSQ_ERR_SUCCESS) {
        if (qos > 0)
            m_unacknowledged.insert(mid, topic);
    }
    // Errors show on the socket, where the next round of the loop finds them.
    watchSocket();
}

void MqttPublisher::enqueue(const QString &topic, const QByteArray &payload, bool retain, bool first)
{
    if (m_phase == Phase::Stopped)
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
    while (m_phase == Phase::Connected && m_unacknowledged.size() < MaxUnacknowledged
           && !m_queue.isEmpty()) {
        const Message message = m_queue.dequeue();
        publish(message.topic, message.payload, message.retain);
    }
}

void MqttPublisher::onPublished(int mid, int reason, const QString &reasonText)
{
    if (mid == m_offlineMid)
        m_offlineAcknowledged = true;
    const auto found = m_unacknowledged.find(mid);
    if (found == m_unacknowledged.end())
        return;
    // A broker refuses the same topic for every message: said once a connection.
    if (reason >= MQTT_RC_UNSPECIFIED && !m_refusalReported) {
        m_refusalReported = true;
        m_journal->record(Event::MqttRefused,
                          {{QStringLiteral("broker"),
                            QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port)},
                           {QStringLiteral("topic"),
                            m_settings.prefix + QLatin1Char('/') + found.value()},
                           {QStringLiteral("reason"), reasonText}});
    }
    m_unacknowledged.erase(found);
    sendQueued();
}

void MqttPublisher::publishState()
{
    publish(QStringLiteral("state"), stateMessage(m_state, Journal::now()), true);
}

void MqttPublisher::publishEvent(const QString &time, Event event, const QJsonObject &details)
{
    enqueue(QStringLiteral("events"), Journal::line(time, event, details), false, false);
}

QByteArray MqttPublisher::stateMessage(const TelemetryState *state, const QString &time)
{
    const TelemetryState::Snapshot &snapshot = state->snapshot();
    QJsonObject message{{QStringLiteral("time"), time},
                        {QStringLiteral("model"), snapshot.model},
                        {QStringLiteral("up"), snapshot.up}};
    if (snapshot.hasReadings()) {
        const Reply::Measurement &meas = snapshot.readings;
        message.insert(QStringLiteral("status"), QString(QLatin1Char(meas.statusChar)));
        message.insert(QStringLiteral("fault"), meas.statusChar != Reply::NoFault);
        QJsonObject readings;
        for (const Reply::ReadingInfo &reading : Reply::Readings) {
            if (meas.has(reading.field))
                readings.insert(QLatin1String(reading.stateKey), meas.value(reading.field));
        }
        message.insert(QStringLiteral("readings"), readings);
    }
    if (snapshot.hasSettings()) {
        const Reply::Status &status = snapshot.settings;
        QJsonObject settings;
        for (const Reply::SettingInfo &setting : Reply::Settings) {
            if (status.has(setting.field))
                settings.insert(QLatin1String(setting.stateKey), status.jsonValue(setting.field));
        }
        message.insert(QStringLiteral("settings"), settings);
    }
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}
