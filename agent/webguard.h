#pragma once

#include "webconfig.h"

#include <QByteArray>
#include <QSet>

#include <microhttpd.h>

#include <mutex>
#include <vector>

// Keeps the metrics to those a web configuration admits: the TLS settings for the HTTP
// daemon, and a check of each request's client certificate and basic-auth password, made
// on the daemon's thread.
class WebGuard
{
public:
    static constexpr char Realm[] = "korvane-agent";

    explicit WebGuard(const WebConfig &config);
    WebGuard(const WebGuard &) = delete;
    WebGuard &operator=(const WebGuard &) = delete;

    // What to add to the daemon's flags and options (the array ends in MHD_OPTION_END).
    unsigned daemonFlags() const;
    const MHD_OptionItem *daemonOptions() const { return m_options.data(); }

    // True if the request may be answered; otherwise the refusal is queued, with `*result`
    // to return from the request handler.
    bool admit(MHD_Connection *connection, MHD_Result *result);

private:
    QString certificateProblem(MHD_Connection *connection) const;
    bool passwordMatches(const QByteArray &user, const QByteArray &password);

    WebConfig m_config;
    QByteArray m_priorities;
    std::vector<MHD_OptionItem> m_options;
    std::mutex m_mutex;
    // Digests of the logins already checked: bcrypt is slow on purpose, and a scraper sends
    // the same login every few seconds.
    QSet<QByteArray> m_verified;
};
