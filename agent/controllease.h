#pragma once

#include "wallclock.h"
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class Journal;

// Exclusive control for a time: while one controller holds the lease, the others' settings
// are refused, all but switching RF off. The holder is the connection that took it and any
// that presents its token; a dropped connection does not end it, its time does.
class ControlLease : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxSeconds = 24 * 3600;

    struct Result
    {
        QString error; // empty: done
        QString token;
        qint64 untilMs = 0;
    };

    explicit ControlLease(Journal *journal, QObject *parent = nullptr);

    void setClock(const WallClock &clock) { m_clock = clock; }

    // `client`: the connection's own number, never reused.
    Result take(quint64 client, const QString &who, const QString &note, int seconds);
    Result renew(quint64 client, int seconds);
    Result release(quint64 client);
    Result use(quint64 client, const QString &token);
    Result breakLease(const QString &who, const QString &reason);
    // Ends the lease if its time has come; the lease does it by itself at that time.
    void expireIfDue();

    bool isHeld() const { return !m_token.isEmpty(); }
    bool isHolder(quint64 client) const { return isHeld() && m_holders.contains(client); }
    // Why `client` may not change settings now; empty when it may.
    QString refusal(quint64 client) const;
    QString holder() const { return m_holder; }
    QString note() const { return m_note; }
    qint64 untilMs() const { return m_untilMs; }
    qint64 secondsLeft() const;
    // The lease as a client sees it (`yours`: whether it holds it).
    QJsonObject toJson(quint64 client) const;

signals:
    void changed();

private:
    QString checkSeconds(int seconds) const;
    void end(int event, QJsonObject details);
    void armTimer();
    qint64 now() const { return m_clock(); }
    QJsonObject details() const;

    Journal *m_journal = nullptr;
    WallClock m_clock;
    QTimer m_expiry;
    QString m_token;
    QString m_holder;
    QString m_note;
    qint64 m_untilMs = 0;
    QSet<quint64> m_holders;
};
