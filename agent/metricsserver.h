#pragma once

#include "requestdeadline.h"
#include "telemetrystate.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>

struct sockaddr;

class WebGuard;
struct MHD_Connection;
struct MHD_Daemon;
struct WebConfig;

// Serves the telemetry in the Prometheus text format at /metrics, each connection on a
// thread of libmicrohttpd's own, so that one slow to check (bcrypt) holds up no other. Those
// threads see only a copy of the telemetry handed over under a mutex, so a scrape never waits
// on the device and never touches the agent's Qt objects. Slow or many connections cannot
// take every slot: each address has a few, strangers share most of the rest, and some are
// kept for the addresses that were served lately (the scrapers); a request not complete
// within seconds is cut off.
class MetricsServer
{
public:
    MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;
    ~MetricsServer();

    // TLS and who may scrape, from a web configuration; before listen().
    void setWebConfig(const WebConfig &config);
    WebGuard *guard() const { return m_guard.get(); }
    // Listens on `address` only; false with `error` set if it cannot.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_port; }
    void update(const TelemetryState::Snapshot &snapshot);
    // The page for the latest snapshot; called on the server's thread.
    QByteArray page() const;

    static QByteArray exposition(const TelemetryState::Snapshot &snapshot);

    // For the server's callbacks, on its threads.
    bool admits(const sockaddr *address);
    void connectionStarted(MHD_Connection *connection, void **context);
    void connectionClosed(MHD_Connection *connection, void **context);
    void served(MHD_Connection *connection);

private:
    using Clock = std::chrono::steady_clock;

    std::unique_ptr<WebGuard> m_guard;
    RequestDeadline m_deadline{std::chrono::seconds(5)};
    MHD_Daemon *m_daemon = nullptr;
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    TelemetryState::Snapshot m_snapshot;

    std::mutex m_slotsMutex;
    QHash<QString, int> m_perAddress;
    int m_connections = 0;
    // Addresses served lately, with when.
    QHash<QString, Clock::time_point> m_served;
};
