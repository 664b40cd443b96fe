#pragma once

#include "alarmconfig.h"
#include "extension.h"
#include "replies.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <vector>

// Evaluates the alarms from the readings, the limits of the last Status and the link, and
// keeps what people did about them: acknowledgements and shelves. Times are milliseconds
// since the epoch, given by the caller, so that delays and expiry can be driven in tests.
class AlarmEngine
{
public:
    using Severity = Alarm::Severity;

    struct State
    {
        Severity severity = Severity::None;       // the alarm's, held while latched
        Severity current = Severity::None;        // as evaluated now
        Severity unacknowledged = Severity::None; // the highest not yet acknowledged
        qint64 sinceMs = 0;                       // when `severity` was entered
        double value = qQNaN();                   // the last reading, in its unit
        double level = qQNaN();                   // the level of `severity`, where there is one
        QString ackBy;
        QString ackComment;
        qint64 ackAtMs = 0;
        bool shelved = false;
        bool shelvedUntilClear = false;
        qint64 shelvedUntilMs = 0;
        QString shelvedBy;
        QString shelveReason;

        // Not counted while shelved: someone knows.
        Severity reportedUnacknowledged() const
        {
            return shelved ? Severity::None : unacknowledged;
        }
    };

    // What happened, for the journal: the event's name in `kind`, its details.
    struct Change
    {
        enum class Kind { Raised, Cleared, Acknowledged, Shelved, Unshelved };
        Kind kind;
        Severity severity;
        QJsonObject details;
    };
    using Changes = QVector<Change>;

    struct Result
    {
        QString error; // empty: done
        QStringList alarms;
        Changes changes;
    };

    explicit AlarmEngine(const AlarmConfig &config);

    // The amplifier's own limits, from each Status.
    void setLimits(int cellLimitC, int driverLimitC);
    Changes measured(const Reply::Measurement &meas, qint64 nowMs);
    Changes linkUp(qint64 nowMs);
    Changes linkDown(qint64 nowMs);
    // Ends the shelves whose time has come.
    Changes tick(qint64 nowMs);

    // `name` may be "all".
    Result acknowledge(const QString &name,
                       const QString &who,
                       const QString &comment,
                       qint64 nowMs);
    // `untilMs` 0: until the alarm next clears.
    Result shelve(const QString &name,
                  const QString &who,
                  const QString &reason,
                  qint64 untilMs,
                  qint64 nowMs);
    Result unshelve(const QString &name, const QString &who, qint64 nowMs);

    int count() const { return m_states.size(); }
    const AlarmDefinition &definition(int i) const { return m_config.alarms().at(i); }
    const State &state(int i) const { return m_states.at(i); }
    Severity worst() const;
    QJsonObject toJson(int i) const;
    // Every alarm; or, with `onlyNotable`, those not normal or not acknowledged.
    QJsonArray toJson(bool onlyNotable) const;

    // What must survive a restart: acknowledgements, shelves, what is not yet acknowledged.
    QJsonObject saved() const;
    // False with `error` if `saved` is not what saved() writes.
    bool restore(const QJsonObject &saved, QString *error);

    static QString timeText(qint64 ms);

private:
    struct Held
    {
        Severity raw = Severity::None; // the level the reading holds, with hysteresis
        qint64 minorSinceMs = -1;
        qint64 majorSinceMs = -1;
        bool byLink = false; // INVALID only because the link is down: the link alarm says so
    };

    int indexOf(const QString &name) const;
    void evaluate(int i, double value, double minor, double major, qint64 nowMs, Changes *changes);
    void settle(int i, Severity current, qint64 nowMs, Changes *changes);
    void invalidByLink(int i, qint64 nowMs);
    void unshelve(int i, const QString &who, const QString &why, Changes *changes);
    Change change(Change::Kind kind, int i, QJsonObject more = {}) const;

    AlarmConfig m_config;
    QVector<State> m_states;
    std::vector<Held> m_held;
    int m_cellLimitC = -1;
    int m_driverLimitC = -1;
    bool m_linkUp = false;
};
