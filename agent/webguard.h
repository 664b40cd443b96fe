#pragma once

#include "webconfig.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// Keeps the metrics to those a web configuration admits: the TLS settings for the HTTP
// daemon, and a check of each request's client certificate and basic-auth password, made
// on the request's own thread. bcrypt is slow on purpose, so wrong logins must not be able
// to buy it in bulk: one check at a time from an address, few at a time in all, and a wrong
// login repeated within a minute is refused from memory.
class WebGuard
{
public:
    static constexpr char Realm[] = "korvane-agent";
    using Clock = std::chrono::steady_clock;
    // Told of each refused login, on the server's threads: the address, the user named (if
    // any) and why.
    using FailureListener
        = std::function<void(const QString &address, const QString &user, const QString &reason)>;

    explicit WebGuard(const WebConfig &config);
    WebGuard(const WebGuard &) = delete;
    WebGuard &operator=(const WebGuard &) = delete;

    // What to add to the daemon's flags and options (the array ends in MHD_OPTION_END).
    unsigned daemonFlags() const;
    const MHD_OptionItem *daemonOptions() const { return m_options.data(); }
    void setFailureListener(const FailureListener &listener) { m_onFailure = listener; }

    // True if the request from `address` may be answered; otherwise the refusal is queued,
    // with `*result` to return from the request handler.
    bool admit(MHD_Connection *connection, const QString &address, MHD_Result *result);
    quint64 failures() const { return m_failures; }

private:
    enum class Check { Matches, Wrong, Busy };

    QString certificateProblem(MHD_Connection *connection) const;
    Check checkPassword(const QString &address, const QByteArray &user, const QByteArray &password);
    void refuseLogin(const QString &address, const QByteArray &user, const QString &reason);

    WebConfig m_config;
    QByteArray m_priorities;
    std::vector<MHD_OptionItem> m_options;
    FailureListener m_onFailure;
    std::atomic<quint64> m_failures{0};

    std::mutex m_mutex;
    std::condition_variable m_cryptFree;
    int m_crypting = 0;
    // Digests of the logins already checked: a scraper sends the same login every few
    // seconds, and it costs no bcrypt after the first.
    QSet<QByteArray> m_verified;
    // Digests of wrong logins, with when they were found wrong.
    QHash<QByteArray, Clock::time_point> m_wrong;
    // Addresses with a login being checked.
    QSet<QString> m_checking;
};
