#pragma once

#include "replies.h"
#include "trendring.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

// The amplifier a series of samples came from, as identified and as the operator reached it.
struct TrendAmplifier
{
    QString model;   // "700115A"; empty until an amplifier identified itself
    QString address; // "127.0.0.1:2101", "/dev/ttyACM0"

    bool isKnown() const { return !model.isEmpty() || !address.isEmpty(); }
    // "700115A at 127.0.0.1:2101"
    QString text() const;
};

// The temperature limits in force from a time on, until the next change.
struct TrendLimits
{
    qint64 fromMs = 0; // steady clock
    // False from a change of amplifier or a lost link until the next Status.
    bool known = false;
    int cellC = 0;
    int driverC = 0;
};

// The panel's history of readings: every measurement the poll brings, from the first
// connect on, whether or not anyone looks at it. Knows where the line must break (a lost
// link, a silent amplifier, another amplifier), which amplifier each reading came from and
// the limits in force at each time.
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
    // The next sample starts a new line: the link went down or stopped answering. No limit
    // is known from here until the next Status.
    void breakLine();
    // The amplifier that identified itself on the link. Another one than before starts a
    // new series, with no limits until its first Status.
    void setAmplifier(const QString &model, const QString &address);

    const TrendRing &samples() const { return m_ring; }
    qint64 now() const { return m_steady(); }
    // A steady time as the wall clock reads it now: a step of the wall clock moves all the
    // history with it, so the spans between readings stay true.
    QDateTime wallTime(qint64 steadyMs) const;
    qint64 wallOffsetMs() const;

    // The limits in force now.
    bool hasLimits() const { return limitsAt(m_steady()).known; }
    int cellLimitC() const { return limitsAt(m_steady()).cellC; }
    int driverLimitC() const { return limitsAt(m_steady()).driverC; }
    TrendLimits limitsAt(qint64 timeMs) const;
    // Every change of the limits, oldest first, from the one in force at the oldest sample.
    const QVector<TrendLimits> &limitChanges() const { return m_limits; }

    const TrendAmplifier &amplifierOf(const TrendSample &sample) const;
    // The amplifier of the newest series, which the next sample will belong to.
    const TrendAmplifier &amplifier() const { return m_series.last().amplifier; }
    struct SeriesStart
    {
        qint64 timeMs;
        TrendAmplifier amplifier;
    };
    // Where another amplifier's series begins between `fromMs` and `toMs` (both included).
    QVector<SeriesStart> seriesStarts(qint64 fromMs, qint64 toMs) const;

    // The samples from `fromMs` to `toMs` (steady times, both included) as korvane-ctl's
    // CSV log writes them, header first, each row followed by its amplifier's model and
    // address.
    QByteArray csv(qint64 fromMs, qint64 toMs) const;

signals:
    void recorded();
    void limitsChanged();

private:
    struct Series
    {
        quint32 number;
        qint64 startMs; // its first sample's, or -1 while it has none
        TrendAmplifier amplifier;
    };
    void addLimits(const TrendLimits &limits);
    void forgetPushedOut();

    TrendRing m_ring{Capacity};
    Clock m_steady;
    Clock m_wall;
    bool m_breakPending = false;
    // Samples recorded since the last break, and whether an amplifier identified itself
    // since: until one does, they may be the next link's.
    int m_sinceBreak = 0;
    bool m_identified = false;
    QVector<Series> m_series{Series{0, -1, TrendAmplifier()}};
    QVector<TrendLimits> m_limits;
};
