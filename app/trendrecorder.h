#pragma once

#include "replies.h"
#include "trendring.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <functional>

// The panel's history of readings: every measurement the poll brings, from the first
// connect on, whether or not anyone looks at it. Knows where the line must break (a lost
// link, a silent amplifier) and the limits the amplifier last reported.
class TrendRecorder : public QObject
{
    Q_OBJECT

public:
    // An hour of the 100 ms poll.
    static constexpr int Capacity = 36000;
    // A longer silence between two readings is a gap, not a line: ten polls went unanswered.
    static constexpr qint64 MaxSampleGapMs = 1000;
    // Readings closer than this (a burst of queued replies) share one sample: the newest
    // values, with a fault kept if any of them had one. So a flood cannot push the hour out.
    static constexpr qint64 MinSampleSpacingMs = 50;

    using Clock = std::function<qint64()>;

    explicit TrendRecorder(QObject *parent = nullptr);

    // The steady clock places the samples; the wall clock only names their times.
    void setClocks(Clock steady, Clock wall);

    void record(const Reply::Measurement &meas);
    void setLimits(const Reply::Status &status);
    // The next sample starts a new line: the link went down or stopped answering.
    void breakLine();

    const TrendRing &samples() const { return m_ring; }
    qint64 now() const { return m_steady(); }
    // A steady time as the wall clock reads it now: a step of the wall clock moves all the
    // history with it, so the spans between readings stay true.
    QDateTime wallTime(qint64 steadyMs) const;
    qint64 wallOffsetMs() const;

    bool hasLimits() const { return m_hasLimits; }
    int cellLimitC() const { return m_cellLimitC; }
    int driverLimitC() const { return m_driverLimitC; }

    // The samples from `fromMs` to `toMs` (steady times, both included) as korvane-ctl's
    // CSV log writes them, header first.
    QByteArray csv(qint64 fromMs, qint64 toMs) const;

signals:
    void recorded();
    void limitsChanged();

private:
    TrendRing m_ring{Capacity};
    Clock m_steady;
    Clock m_wall;
    bool m_breakPending = false;
    bool m_hasLimits = false;
    int m_cellLimitC = 0;
    int m_driverLimitC = 0;
};
