#include "mqttconnection.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int MiscMs = 500;
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

MqttConnection *self(void *data)
{
    return static_cast<MqttConnection *>(data);
}

} // namespace

MqttConnection::MqttConnection(const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_guard(settings.maxIncomingPacket)
{
    static std::once_flag initialised;
    static int initResult = MOSQ_ERR_SUCCESS;
    std::call_once(initialised, [] { initResult = mosquitto_lib_init(); });
    m_client = mosquitto_new(nullptr, true, this);
    // It fails only when memory runs out, at start, before anything is served.
    if (!m_client)
        qFatal("cannot create an MQTT client: %s", std::strerror(errno));
    // Without the will, the login or the TLS asked for, nothing is sent at all: resolve()
    // says why.
    int result = initResult;
    if (result == MOSQ_ERR_SUCCESS && !m_settings.willTopic.isEmpty())
        result = mosquitto_will_set(m_client,
                                    m_settings.willTopic.toUtf8().constData(),
                                    int(m_settings.willPayload.size()),
                                    m_settings.willPayload.constData(),
                                    1,
                                    true);
    if (result == MOSQ_ERR_SUCCESS && !m_settings.user.isEmpty())
        result = mosquitto_username_pw_set(m_client,
                                           m_settings.user.toUtf8().constData(),
                                           m_settings.password.isEmpty()
                                               ? nullptr
                                               : m_settings.password.constData());
    if (result == MOSQ_ERR_SUCCESS && !m_settings.caFile.isEmpty()) {
        // The library verifies the broker's certificate and its name by default, and that is
        // not turned off.
        result = mosquitto_tls_set(m_client,
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
    // MQTT 5 first: under 3.1.1 a broker drops a publish its ACL refuses without a word.
    m_protocol = MQTT_PROTOCOL_V5;
    if (result == MOSQ_ERR_SUCCESS)
        result = mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, m_protocol);
    // The library would otherwise queue beyond its window, unbounded.
    if (result == MOSQ_ERR_SUCCESS && m_settings.sendMaximum > 0)
        result = mosquitto_int_option(m_client, MOSQ_OPT_SEND_MAXIMUM, m_settings.sendMaximum);
    if (result != MOSQ_ERR_SUCCESS)
        m_setupError = tr("cannot set up the will, the login or TLS: %1").arg(reasonOf(result));
    // A failed handshake comes back as "A TLS error occurred"; the library's log says why.
    mosquitto_log_callback_set(m_client, [](mosquitto *, void *data, int level, const char *text) {
        if (level == MOSQ_LOG_ERR)
            self(data)->m_libraryError = QString::fromUtf8(text);
    });
    mosquitto_connect_v5_callback_set(m_client,
                                      [](mosquitto *,
                                         void *data,
                                         int code,
                                         int,
                                         const mosquitto_property *) {
                                          self(data)->onConnack(code);
                                      });
    mosquitto_publish_v5_callback_set(
        m_client,
        [](mosquitto *, void *data, int mid, int reason, const mosquitto_property *properties) {
            MqttConnection *connection = self(data);
            if (mid == connection->m_awaitedMid)
                connection->m_awaitedAcknowledged = true;
            emit connection->published(mid, reason, reasonText(reason, properties));
        });
    mosquitto_message_v5_callback_set(
        m_client,
        [](mosquitto *, void *data, const mosquitto_message *message, const mosquitto_property *) {
            emit self(data)->messageReceived(QString::fromUtf8(message->topic),
                                             QByteArray(static_cast<const char *>(message->payload),
                                                        message->payloadlen),
                                             message->retain);
        });

    m_heldTimer.setSingleShot(true);
    m_heldTimer.setInterval(HeldMs);
    connect(&m_heldTimer, &QTimer::timeout, this, [this] { m_backoff.reset(); });
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &MqttConnection::resolve);
    m_miscTimer.setInterval(MiscMs);
    connect(&m_miscTimer, &QTimer::timeout, this, &MqttConnection::onTick);
}

MqttConnection::~MqttConnection()
{
    abandon();
    mosquitto_destroy(m_client);
}

void MqttConnection::abandon()
{
    m_retryTimer.stop();
    m_miscTimer.stop();
    m_heldTimer.stop();
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
    dropNotifiers();
    if (m_socket >= 0 && mosquitto_socket(m_client) == m_socket)
        ::shutdown(m_socket, SHUT_RDWR);
    m_socket = -1;
    m_phase = Phase::Stopped;
}

QString MqttConnection::brokerText() const
{
    return QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port);
}

bool MqttConnection::isWriting() const
{
    return mosquitto_want_write(m_client);
}

void MqttConnection::start()
{
    m_miscTimer.start();
    resolve();
}

void MqttConnection::stop(int timeoutMs, int awaitedMid)
{
    if (m_phase != Phase::Connected) {
        abandon();
        return;
    }
    m_retryTimer.stop();
    m_miscTimer.stop();
    m_heldTimer.stop();
    dropNotifiers();
    // Closing a socket with acknowledgements still unread resets the connection, and the
    // broker drops what it has not handled yet: the goodbye goes once the last message is
    // acknowledged. Without one, the broker's last will speaks all the same.
    m_awaitedMid = awaitedMid;
    m_awaitedAcknowledged = awaitedMid < 0;
    const QDeadlineTimer deadline(timeoutMs);
    const auto pumpUntil = [&](const auto &done) {
        while (!done() && !deadline.hasExpired()) {
            if (pumpOnce(int(qMax<qint64>(1, deadline.remainingTime()))) != MOSQ_ERR_SUCCESS)
                break;
        }
    };
    pumpUntil([this] { return m_awaitedAcknowledged; });
    // The library closes the socket once the goodbye is out.
    if (m_awaitedAcknowledged && mosquitto_disconnect(m_client) == MOSQ_ERR_SUCCESS)
        pumpUntil([this] { return mosquitto_socket(m_client) < 0; });
    m_awaitedMid = -1;
    abandon();
}

int MqttConnection::pumpOnce(int timeoutMs)
{
    const int socket = mosquitto_socket(m_client);
    if (socket < 0)
        return MOSQ_ERR_NO_CONN;
    pollfd ready = {socket, short(POLLIN | (mosquitto_want_write(m_client) ? POLLOUT : 0)), 0};
    if (::poll(&ready, 1, timeoutMs) < 0 && errno != EINTR)
        return MOSQ_ERR_ERRNO;
    int result = MOSQ_ERR_SUCCESS;
    if (ready.revents & (POLLIN | POLLHUP | POLLERR))
        result = mosquitto_loop_read(m_client, 1);
    if (result == MOSQ_ERR_SUCCESS && (ready.revents & POLLOUT))
        result = mosquitto_loop_write(m_client, 1);
    if (result == MOSQ_ERR_SUCCESS)
        result = mosquitto_loop_misc(m_client);
    return result;
}

int MqttConnection::publish(const QString &topic, const QByteArray &payload, int qos, bool retain)
{
    if (m_phase != Phase::Connected)
        return -1;
    int mid = -1;
    const int result = mosquitto_publish(m_client,
                                         &mid,
                                         topic.toUtf8().constData(),
                                         int(payload.size()),
                                         payload.constData(),
                                         qos,
                                         retain);
    // A broken connection shows on the socket too, where the next round finds it.
    watchSocket();
    return result == MOSQ_ERR_SUCCESS ? mid : -1;
}

bool MqttConnection::subscribe(const QString &pattern, int qos)
{
    if (m_phase != Phase::Connected)
        return false;
    const int result = mosquitto_subscribe(m_client, nullptr, pattern.toUtf8().constData(), qos);
    m_subscribed = m_subscribed || result == MOSQ_ERR_SUCCESS;
    watchSocket();
    return result == MOSQ_ERR_SUCCESS;
}

void MqttConnection::resolve()
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
    m_lookupId = QHostInfo::lookupHost(m_settings.host, this, &MqttConnection::onResolved);
}

void MqttConnection::onResolved(const QHostInfo &info)
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
    afterIo(mosquitto_connect_async(m_client, address.constData(), m_settings.port, KeepAliveS));
}

void MqttConnection::onConnack(int code)
{
    // Called from inside the library's read: what is published here leaves after it returns.
    if (code != 0) {
        m_refusedCode = code;
        return;
    }
    m_phase = Phase::Connected;
    m_heldTimer.start();
    m_failureReported = false;
    emit connected();
}

void MqttConnection::onReadable()
{
    if (!guardIncoming())
        return;
    // The library's handshake step of TLS is reached only through its own loop
    // (eclipse-mosquitto#942): until the broker's CONNACK, a TLS connection goes through it.
    if (m_phase == Phase::Connecting && !m_settings.caFile.isEmpty())
        afterIo(mosquitto_loop(m_client, 0, 1));
    else
        afterIo(mosquitto_loop_read(m_client, 1));
}

void MqttConnection::onWritable()
{
    if (m_phase == Phase::Connecting && !m_settings.caFile.isEmpty())
        afterIo(mosquitto_loop(m_client, 0, 1));
    else
        afterIo(mosquitto_loop_write(m_client, 1));
}

void MqttConnection::onTick()
{
    if (m_phase != Phase::Connecting && m_phase != Phase::Connected)
        return;
    // A broker that takes the connection but never answers it is given up like a refusal.
    if (m_phase == Phase::Connecting && m_connecting.hasExpired(KeepAliveS * 1000)) {
        fail(tr("the broker did not answer"));
        return;
    }
    afterIo(mosquitto_loop_misc(m_client));
}

bool MqttConnection::guardIncoming()
{
    // Under TLS the socket holds encrypted records, which tell nothing of the packets in them;
    // the broker is then one whose certificate was verified.
    if (m_socket < 0 || !m_settings.caFile.isEmpty())
        return true;
    switch (m_guard.inspect(m_socket)) {
    case MqttPacketGuard::Verdict::TooMuch:
        fail(m_subscribed ? tr("the broker sent more than a subscriber is owed")
                          : tr("the broker sent more than a publisher is owed"));
        return false;
    case MqttPacketGuard::Verdict::Unfinished:
        if (!m_partSince.isValid()) {
            m_partSince.start();
        } else if (m_partSince.hasExpired(KeepAliveS * 1000)) {
            fail(tr("the broker left a packet unfinished"));
            return false;
        }
        // The rest is awaited without the notifier, which would fire at once again.
        m_readNotifier->setEnabled(false);
        QTimer::singleShot(PartWaitMs, this, [this] {
            if (m_readNotifier) {
                m_readNotifier->setEnabled(true);
                onReadable();
            }
        });
        return false;
    case MqttPacketGuard::Verdict::Whole:
        m_partSince.invalidate();
        break;
    }
    return true;
}

void MqttConnection::afterIo(int result)
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
            const int set = mosquitto_int_option(m_client,
                                                 MOSQ_OPT_PROTOCOL_VERSION,
                                                 MQTT_PROTOCOL_V311);
            if (set == MOSQ_ERR_SUCCESS) {
                // Not a failure yet: the broker is asked again at once, in its own version.
                m_protocol = MQTT_PROTOCOL_V311;
                m_libraryError.clear();
                fail(QString());
                return;
            }
        }
        if (result == MOSQ_ERR_TLS && !m_libraryError.isEmpty())
            reason += QLatin1String(" (") + m_libraryError + QLatin1Char(')');
        m_libraryError.clear();
        fail(reason);
        return;
    }
    watchSocket();
}

void MqttConnection::watchSocket()
{
    const int socket = mosquitto_socket(m_client);
    if (socket != m_socket) {
        dropNotifiers();
        m_socket = socket;
        // The kernel doubles what it is given, for its own bookkeeping besides the bytes.
        if (socket >= 0 && m_guard.capacity() > MqttPacketGuard::PeekBytes) {
            const int bytes = m_guard.capacity() / 4;
            ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
        }
        if (socket >= 0) {
            m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
            connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttConnection::onReadable);
            m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
            connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttConnection::onWritable);
        }
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
}

void MqttConnection::dropNotifiers()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = m_writeNotifier = nullptr;
}

void MqttConnection::fail(const QString &reason)
{
    const bool wasConnected = m_phase == Phase::Connected;
    dropNotifiers();
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
    if (wasConnected) {
        emit lost(reason);
    } else if (!m_failureReported) {
        // A broker that stays away is said once, not at every try.
        m_failureReported = true;
        emit failed(reason);
    }
    m_retryTimer.start(m_backoff.next());
}
