#include "metricsserver.h"

#include "fields.h"
#include "webguard.h"

#include <microhttpd.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace {

// Scrapers read the page seconds apart; the limits cut off anything that holds a connection
// or sends more than a scrape would. One request per connection: a scraper's next one comes
// seconds later, and the deadline counts from the connection's start.
constexpr int ConnectionLimit = 64;
constexpr int ConnectionsPerAddress = 4;
// The rest are kept for the addresses served within ServedMemory.
constexpr int StrangerConnections = 48;
constexpr int MaxServedAddresses = 64;
constexpr auto ServedMemory = std::chrono::minutes(10);
// A connection's thread does little: TLS, a bcrypt now and then, a page of text.
constexpr size_t ThreadStackBytes = 512 * 1024;
constexpr unsigned ConnectionTimeoutS = 10;
constexpr size_t ConnectionMemory = 16 * 1024;

constexpr char MetricsPath[] = "/metrics";
constexpr char ContentType[] = "text/plain; version=0.0.4; charset=utf-8";

QString addressText(const sockaddr *address)
{
    if (!address)
        return QString();
    QHostAddress host(address);
    // An IPv4 client on a dual-stack socket arrives as ::ffff:a.b.c.d.
    bool mapped = false;
    const quint32 ipv4 = host.toIPv4Address(&mapped);
    return (mapped ? QHostAddress(ipv4) : host).toString();
}

QString addressOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection,
                                                             MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return addressText(info ? info->client_addr : nullptr);
}

MHD_Result reply(MHD_Connection *connection, unsigned status, const QByteArray &body)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(body.size()),
                                                             const_cast<char *>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, ContentType);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result answer(void *server,
                  MHD_Connection *connection,
                  const char *url,
                  const char *method,
                  const char *,
                  const char *,
                  size_t *,
                  void **)
{
    // Nothing, not even which paths exist, for those the web configuration keeps out.
    MHD_Result refusal = MHD_NO;
    auto *metrics = static_cast<MetricsServer *>(server);
    WebGuard *guard = metrics->guard();
    if (guard && !guard->admit(connection, addressOf(connection), &refusal))
        return refusal;
    if (std::strcmp(url, MetricsPath) != 0)
        return reply(connection, MHD_HTTP_NOT_FOUND, "not found\n");
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0
        && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n");
    metrics->served(connection);
    return reply(connection, MHD_HTTP_OK, metrics->page());
}

MHD_Result accept(void *server, const sockaddr *address, socklen_t)
{
    return static_cast<MetricsServer *>(server)->admits(address) ? MHD_YES : MHD_NO;
}

void notify(void *server,
            MHD_Connection *connection,
            void **context,
            MHD_ConnectionNotificationCode code)
{
    auto *metrics = static_cast<MetricsServer *>(server);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED)
        metrics->connectionClosed(connection, context);
    else
        metrics->connectionStarted(connection, context);
}

// Writes one metric family: help, type, then its samples.
class Writer
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type
                  + '\n';
    }
    void sample(const char *name, double value, const QByteArray &labels = {})
    {
        m_text += name;
        if (!labels.isEmpty())
            m_text += '{' + labels + '}';
        m_text += ' ' + QByteArray::number(value, 'g', 12) + '\n';
    }
    // A sample of a gauge whose family is written when its first sample is.
    void gauge(const char *name, double value, const QByteArray &labels = {})
    {
        if (m_family != name) {
            m_family = name;
            family(name, "gauge", Reply::metricHelp(name));
        }
        sample(name, value, labels);
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
    QByteArray m_family;
};

QByteArray label(const char *name, const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QByteArray(name) + "=\"" + escaped.toUtf8() + '"';
}

} // namespace

MetricsServer::MetricsServer() = default;

MetricsServer::~MetricsServer()
{
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

void MetricsServer::setWebConfig(const WebConfig &config)
{
    m_guard = std::make_unique<WebGuard>(config);
}

bool MetricsServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    sockaddr_in v4 = {};
    sockaddr_in6 v6 = {};
    sockaddr *where = nullptr;
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_THREAD_PER_CONNECTION
                     | (m_guard ? m_guard->daemonFlags() : 0);
    static const MHD_OptionItem noOptions[] = {{MHD_OPTION_END, 0, nullptr}};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(address.toIPv4Address());
        where = reinterpret_cast<sockaddr *>(&v4);
    } else {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &bytes, sizeof(bytes));
        where = reinterpret_cast<sockaddr *>(&v6);
        flags |= MHD_USE_IPv6;
    }
    errno = 0;
    m_daemon = MHD_start_daemon(flags,
                                port,
                                &accept,
                                this,
                                &answer,
                                this,
                                MHD_OPTION_SOCK_ADDR,
                                where,
                                MHD_OPTION_CONNECTION_LIMIT,
                                unsigned(ConnectionLimit),
                                MHD_OPTION_NOTIFY_CONNECTION,
                                &notify,
                                this,
                                MHD_OPTION_THREAD_STACK_SIZE,
                                ThreadStackBytes,
                                MHD_OPTION_CONNECTION_TIMEOUT,
                                ConnectionTimeoutS,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                                ConnectionMemory,
                                MHD_OPTION_ARRAY,
                                m_guard ? m_guard->daemonOptions() : noOptions,
                                MHD_OPTION_END);
    if (!m_daemon) {
        *error = errno ? QString::fromLocal8Bit(std::strerror(errno))
                       : QStringLiteral("the HTTP server did not start");
        if (m_guard && m_guard->daemonFlags() & MHD_USE_TLS)
            *error += MHD_is_feature_supported(MHD_FEATURE_TLS)
                          ? QStringLiteral(" (are its certificate and key a pair?)")
                          : QStringLiteral(" (libmicrohttpd has no TLS here)");
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : port;
    return true;
}

void MetricsServer::update(const TelemetryState::Snapshot &snapshot)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_snapshot = snapshot;
}

QByteArray MetricsServer::page() const
{
    TelemetryState::Snapshot snapshot;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        snapshot = m_snapshot;
    }
    return exposition(snapshot)
           + "# HELP korvane_metrics_auth_failures_total Logins to /metrics refused.\n"
             "# TYPE korvane_metrics_auth_failures_total counter\n"
             "korvane_metrics_auth_failures_total "
           + QByteArray::number(m_guard ? m_guard->failures() : 0) + '\n';
}

bool MetricsServer::admits(const sockaddr *address)
{
    const QString peer = addressText(address);
    const std::lock_guard<std::mutex> lock(m_slotsMutex);
    if (m_perAddress.value(peer) >= ConnectionsPerAddress)
        return false;
    if (m_connections < StrangerConnections)
        return true;
    const auto served = m_served.constFind(peer);
    return served != m_served.constEnd() && Clock::now() - served.value() < ServedMemory;
}

void MetricsServer::connectionStarted(MHD_Connection *connection, void **context)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection,
                                                             MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info)
        m_deadline.started(connection, info->connect_fd);
    auto *address = new QString(addressOf(connection));
    *context = address;
    const std::lock_guard<std::mutex> lock(m_slotsMutex);
    ++m_perAddress[*address];
    ++m_connections;
}

void MetricsServer::connectionClosed(MHD_Connection *connection, void **context)
{
    m_deadline.closed(connection);
    auto *address = static_cast<QString *>(*context);
    if (!address)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_slotsMutex);
        if (--m_perAddress[*address] <= 0)
            m_perAddress.remove(*address);
        --m_connections;
    }
    delete address;
    *context = nullptr;
}

void MetricsServer::served(MHD_Connection *connection)
{
    const QString address = addressOf(connection);
    const Clock::time_point now = Clock::now();
    const std::lock_guard<std::mutex> lock(m_slotsMutex);
    if (!m_served.contains(address) && m_served.size() >= MaxServedAddresses) {
        for (auto it = m_served.begin(); it != m_served.end();)
            it = now - it.value() < ServedMemory ? std::next(it) : m_served.erase(it);
        // All lately: the one served longest ago gives way.
        if (m_served.size() >= MaxServedAddresses)
            m_served.erase(std::min_element(m_served.begin(), m_served.end()));
    }
    m_served.insert(address, now);
}

QByteArray MetricsServer::exposition(const TelemetryState::Snapshot &snapshot)
{
    Writer out;
    out.family("korvane_up", "gauge", "1 while the amplifier's link is up and it answers.");
    out.sample("korvane_up", snapshot.up ? 1 : 0);
    if (!snapshot.model.isEmpty()) {
        out.family("korvane_info", "gauge", "The amplifier's model.");
        out.sample("korvane_info", 1, label("model", snapshot.model));
    }

    const Reply::Measurement &meas = snapshot.readings;
    if (snapshot.hasReadings()) {
        // A short frame leaves the later readings out.
        for (const Reply::ReadingInfo &reading : Reply::Readings) {
            if (meas.has(reading.field))
                out.gauge(reading.metric,
                          meas.value(reading.field),
                          label(reading.metricLabel, QLatin1String(reading.name)));
        }
        out.family("korvane_fault", "gauge", "1 while a fault is latched.");
        out.sample("korvane_fault", meas.statusChar != Reply::NoFault ? 1 : 0);
        out.family("korvane_status_code", "gauge", "Character code of the status character.");
        out.sample("korvane_status_code", quint8(meas.statusChar));
    }

    const Reply::Status &settings = snapshot.settings;
    if (snapshot.hasSettings()) {
        for (const Reply::SettingInfo &setting : Reply::Settings) {
            if (!settings.has(setting.field))
                continue;
            out.gauge(setting.metric,
                      settings.value(setting.field) / setting.metricScale,
                      setting.metricLabel
                          ? label(setting.metricLabel, QLatin1String(setting.metricLabelValue))
                          : QByteArray());
        }
    }

    if (!snapshot.alarms.isEmpty()) {
        out.family("korvane_alarm_severity",
                   "gauge",
                   "The alarm's severity: 0 none, 1 minor, 2 major, 3 invalid.");
        for (const auto &alarm : snapshot.alarms)
            out.sample("korvane_alarm_severity", alarm.severity, label("alarm", alarm.name));
        out.family("korvane_alarm_unacknowledged",
                   "gauge",
                   "1 while the alarm has a severity nobody acknowledged and is not shelved.");
        for (const auto &alarm : snapshot.alarms)
            out.sample("korvane_alarm_unacknowledged",
                       alarm.unacknowledged ? 1 : 0,
                       label("alarm", alarm.name));
        out.family("korvane_alarm_shelved", "gauge", "1 while the alarm is shelved.");
        for (const auto &alarm : snapshot.alarms)
            out.sample("korvane_alarm_shelved", alarm.shelved ? 1 : 0, label("alarm", alarm.name));
        out.family("korvane_lease_held", "gauge", "1 while a client holds the control lease.");
        out.sample("korvane_lease_held", snapshot.leaseHeld ? 1 : 0);
        if (snapshot.leaseHeld) {
            out.family("korvane_lease_info", "gauge", "Who holds the control lease, and why.");
            out.sample("korvane_lease_info",
                       1,
                       label("holder", snapshot.leaseHolder) + ','
                           + label("note", snapshot.leaseNote));
            out.family("korvane_lease_expiry_timestamp_seconds",
                       "gauge",
                       "When the control lease ends, in seconds since the epoch.");
            out.sample("korvane_lease_expiry_timestamp_seconds",
                       double(snapshot.leaseUntilMs) / 1000.0);
        }
    }
    out.family("korvane_link_losses_total", "counter", "Times the amplifier's link was lost.");
    out.sample("korvane_link_losses_total", double(snapshot.linkLosses));
    out.family("korvane_fault_events_total", "counter", "Faults the amplifier latched.");
    out.sample("korvane_fault_events_total", double(snapshot.faultEvents));
    out.family("korvane_dropped_clients_total",
               "counter",
               "Clients dropped for their conduct: not reading, flooding, idle or junk.");
    out.sample("korvane_dropped_clients_total", double(snapshot.droppedClients));
    out.family("korvane_refused_clients_total",
               "counter",
               "Connections refused: address not allowed, link down or too many clients.");
    out.sample("korvane_refused_clients_total", double(snapshot.refusedClients));
    out.family("korvane_mqtt_dropped_events_total",
               "counter",
               "Events not published: the broker did not take the ones before them.");
    out.sample("korvane_mqtt_dropped_events_total", double(snapshot.droppedMqttEvents));
    return out.text();
}
