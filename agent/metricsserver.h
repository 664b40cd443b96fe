#pragma once

#include "requestdeadline.h"
#include "telemetrystate.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <memory>
#include <mutex>

class WebGuard;
struct MHD_Daemon;
struct WebConfig;

// Serves the telemetry in the Prometheus text format at /metrics, from libmicrohttpd's own
// thread. That thread sees only a copy of the telemetry handed over under a mutex, so a
// scrape never waits on the device and never touches the agent's Qt objects. Slow or many
// connections from one address cannot take every slot: each address has a few, and a request
// not complete within seconds is cut off.
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

private:
    std::unique_ptr<WebGuard> m_guard;
    RequestDeadline m_deadline{std::chrono::seconds(5)};
    MHD_Daemon *m_daemon = nullptr;
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    TelemetryState::Snapshot m_snapshot;
};
