#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

// Watches that measurement replies keep coming while a link is up. When none has come for
// a while, the readings on show are no longer the amplifier's, and the window says so.
class ReplyWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMs = 1000;

    // Gives the time of each reply, in UTC: local time would ask the system for its time zone
    // at every reply. Tests give a clock of their own.
    using Clock = std::function<QDateTime()>;

    explicit ReplyWatch(QObject *parent = nullptr);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setTimeout(int ms) { m_timer.setInterval(ms); }
    // A link came up: the silence counts from now unless a reply is already overdue.
    void start();
    // No link is left to reply.
    void stop();
    bool isWatching() const { return m_watching; }
    // A measurement reply came.
    void replied();

signals:
    // No reply since `since` (the last one, or the start of the watch).
    void silent(const QDateTime &since);

private:
    void timedOut();

    QTimer m_timer;
    Clock m_clock = [] { return QDateTime::currentDateTimeUtc(); };
    QDateTime m_since;
    bool m_watching = false;
};
