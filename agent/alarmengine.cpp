#include "alarmengine.h"

#include "readingformat.h"

#include <QDateTime>

#include <cmath>

namespace {

using Severity = Alarm::Severity;
using Kind = AlarmDefinition::Kind;

const QString Alarm_ = QStringLiteral("alarm");
const QString Severity_ = QStringLiteral("severity");

QString severityText(Severity severity)
{
    return QLatin1String(Alarm::severityName(severity));
}

} // namespace

AlarmEngine::AlarmEngine(const AlarmConfig &config)
    : m_config(config)
    , m_states(config.alarms().size())
    , m_held(size_t(config.alarms().size()))
{}

QString AlarmEngine::timeText(qint64 ms)
{
    return ReadingFormat::timeText(QDateTime::fromMSecsSinceEpoch(ms));
}

void AlarmEngine::setLimits(int cellLimitC, int driverLimitC)
{
    m_cellLimitC = cellLimitC;
    m_driverLimitC = driverLimitC;
}

int AlarmEngine::indexOf(const QString &name) const
{
    for (int i = 0; i < m_states.size(); ++i) {
        if (definition(i).name == name)
            return i;
    }
    return -1;
}

AlarmEngine::Changes AlarmEngine::measured(const Reply::Measurement &meas, qint64 nowMs)
{
    Changes changes;
    for (int i = 0; i < m_states.size(); ++i) {
        const AlarmDefinition &alarm = definition(i);
        if (!alarm.enabled || alarm.kind == Kind::Link)
            continue;
        if (alarm.kind == Kind::Fault) {
            if (!meas.has(Reply::MeasField::StatusChar)) {
                settle(i, Severity::Invalid, nowMs, &changes);
                continue;
            }
            const bool fault = meas.statusChar != Reply::NoFault;
            evaluate(i, fault ? 1 : 0, qQNaN(), 1, nowMs, &changes);
            continue;
        }
        if (!meas.isReadable(alarm.field)) {
            m_held[size_t(i)] = Held();
            settle(i, Severity::Invalid, nowMs, &changes);
            continue;
        }
        const double value = meas.value(alarm.field);
        if (alarm.kind == Kind::Power) {
            evaluate(i,
                     value,
                     alarm.minorW >= 0 ? alarm.minorW : qQNaN(),
                     alarm.majorW >= 0 ? alarm.majorW : qQNaN(),
                     nowMs,
                     &changes);
            continue;
        }
        // The levels follow the amplifier's limit; until a Status has given it, nothing is
        // known to hold against.
        const int limit = alarm.field == Reply::MeasField::DriverTemp ? m_driverLimitC
                                                                      : m_cellLimitC;
        if (limit < 0)
            continue;
        evaluate(i,
                 value,
                 alarm.marginC >= 0 ? limit - alarm.marginC : qQNaN(),
                 limit,
                 nowMs,
                 &changes);
    }
    return changes;
}

void AlarmEngine::evaluate(
    int i, double value, double minor, double major, qint64 nowMs, Changes *changes)
{
    const AlarmDefinition &alarm = definition(i);
    Held &held = m_held[size_t(i)];
    State &state = m_states[i];
    // Entered at the level, left only below the level less the hysteresis.
    const auto holds = [&](Severity severity, double level) {
        if (std::isnan(level))
            return false;
        return value >= level || (held.raw >= severity && value >= level - alarm.hysteresis);
    };
    held.raw = holds(Severity::Major, major)   ? Severity::Major
               : holds(Severity::Minor, minor) ? Severity::Minor
                                               : Severity::None;
    held.majorSinceMs = held.raw >= Severity::Major
                            ? (held.majorSinceMs < 0 ? nowMs : held.majorSinceMs)
                            : -1;
    held.minorSinceMs = held.raw >= Severity::Minor
                            ? (held.minorSinceMs < 0 ? nowMs : held.minorSinceMs)
                            : -1;
    Severity current = Severity::None;
    if (held.majorSinceMs >= 0 && nowMs - held.majorSinceMs >= alarm.majorDelayMs)
        current = Severity::Major;
    else if (held.minorSinceMs >= 0 && !std::isnan(minor)
             && nowMs - held.minorSinceMs >= alarm.minorDelayMs)
        current = Severity::Minor;
    state.value = value;
    const double level = current == Severity::Major   ? major
                         : current == Severity::Minor ? minor
                                                      : qQNaN();
    if (current != Severity::None)
        state.level = level;
    settle(i, current, nowMs, changes);
}

void AlarmEngine::settle(int i, Severity current, qint64 nowMs, Changes *changes)
{
    const AlarmDefinition &alarm = definition(i);
    State &state = m_states[i];
    Held &held = m_held[size_t(i)];
    // An INVALID the link alarm stood for was never raised here: what follows it is new.
    const bool wasByLink = held.byLink;
    held.byLink = false;
    state.current = current;
    const Severity before = state.severity;
    const Severity shown = wasByLink && before == Severity::Invalid ? Severity::None : before;
    Severity next = current;
    // A latched alarm stays until it is acknowledged, whatever the reading does meanwhile.
    if (current < before && alarm.latches(before) && state.unacknowledged != Severity::None)
        next = before;
    if (next == before && !wasByLink)
        return;
    if (next != before)
        state.sinceMs = nowMs;
    state.severity = next;
    if (next == Severity::None || next == Severity::Invalid)
        state.level = qQNaN();
    if (next > shown) {
        if (next > state.unacknowledged)
            state.unacknowledged = next;
        changes->append(change(Change::Kind::Raised, i));
    } else if (next == Severity::None && shown != Severity::None) {
        changes->append(change(Change::Kind::Cleared, i));
        if (state.shelved && state.shelvedUntilClear)
            unshelve(i, QString(), QStringLiteral("cleared"), changes);
    }
}

void AlarmEngine::invalidByLink(int i, qint64 nowMs)
{
    State &state = m_states[i];
    m_held[size_t(i)] = Held();
    m_held[size_t(i)].byLink = true;
    state.current = Severity::Invalid;
    state.value = qQNaN();
    const bool heldByLatch = definition(i).latches(state.severity)
                             && state.unacknowledged != Severity::None;
    if (!heldByLatch && state.severity != Severity::Invalid) {
        state.severity = Severity::Invalid;
        state.level = qQNaN();
        state.sinceMs = nowMs;
    }
}

AlarmEngine::Changes AlarmEngine::linkUp(qint64 nowMs)
{
    m_linkUp = true;
    Changes changes;
    const int link = indexOf(QStringLiteral("link"));
    if (link >= 0 && definition(link).enabled)
        settle(link, Severity::None, nowMs, &changes);
    return changes;
}

AlarmEngine::Changes AlarmEngine::linkDown(qint64 nowMs)
{
    m_linkUp = false;
    Changes changes;
    for (int i = 0; i < m_states.size(); ++i) {
        if (!definition(i).enabled)
            continue;
        if (definition(i).kind == Kind::Link) {
            settle(i, Severity::Invalid, nowMs, &changes);
            continue;
        }
        // No reading is INVALID, never 0; but the cause is one, and the link alarm says it.
        invalidByLink(i, nowMs);
    }
    return changes;
}

AlarmEngine::Changes AlarmEngine::tick(qint64 nowMs)
{
    Changes changes;
    for (int i = 0; i < m_states.size(); ++i) {
        const State &state = m_states[i];
        if (state.shelved && !state.shelvedUntilClear && nowMs >= state.shelvedUntilMs)
            unshelve(i, QString(), QStringLiteral("expired"), &changes);
    }
    return changes;
}

AlarmEngine::Result AlarmEngine::acknowledge(const QString &name,
                                             const QString &who,
                                             const QString &comment,
                                             qint64 nowMs)
{
    Result result;
    const bool all = name == QLatin1String("all");
    const int only = all ? -1 : indexOf(name);
    if (!all && only < 0) {
        result.error = QStringLiteral("no alarm \"%1\"").arg(name);
        return result;
    }
    for (int i = 0; i < m_states.size(); ++i) {
        State &state = m_states[i];
        if ((!all && i != only) || state.unacknowledged == Severity::None)
            continue;
        const Severity acknowledged = state.unacknowledged;
        state.unacknowledged = Severity::None;
        state.ackBy = who;
        state.ackComment = comment;
        state.ackAtMs = nowMs;
        result.alarms << definition(i).name;
        Change done = change(Change::Kind::Acknowledged, i, {{QStringLiteral("comment"), comment}});
        done.details.insert(Severity_, severityText(acknowledged));
        result.changes << done;
        // A latched alarm back to normal ends with its acknowledgement.
        if (m_held[size_t(i)].byLink)
            invalidByLink(i, nowMs);
        else
            settle(i, state.current, nowMs, &result.changes);
    }
    if (!all && result.alarms.isEmpty())
        result.error = QStringLiteral("%1 has nothing to acknowledge").arg(name);
    return result;
}

AlarmEngine::Result AlarmEngine::shelve(
    const QString &name, const QString &who, const QString &reason, qint64 untilMs, qint64 nowMs)
{
    Result result;
    const int i = indexOf(name);
    if (i < 0) {
        result.error = QStringLiteral("no alarm \"%1\"").arg(name);
        return result;
    }
    if (!definition(i).shelvable()) {
        result.error = QStringLiteral("%1 cannot be shelved").arg(name);
        return result;
    }
    if (reason.trimmed().isEmpty()) {
        result.error = QStringLiteral("a shelve needs a reason");
        return result;
    }
    if (untilMs != 0 && untilMs <= nowMs) {
        result.error = QStringLiteral("a shelve must end in the future");
        return result;
    }
    State &state = m_states[i];
    state.shelved = true;
    state.shelvedUntilClear = untilMs == 0;
    state.shelvedUntilMs = untilMs;
    state.shelvedBy = who;
    state.shelveReason = reason;
    result.alarms << name;
    result.changes << change(Change::Kind::Shelved, i);
    return result;
}

AlarmEngine::Result AlarmEngine::unshelve(const QString &name, const QString &who, qint64)
{
    Result result;
    const int i = indexOf(name);
    if (i < 0)
        result.error = QStringLiteral("no alarm \"%1\"").arg(name);
    else if (!m_states[i].shelved)
        result.error = QStringLiteral("%1 is not shelved").arg(name);
    else {
        result.alarms << name;
        unshelve(i, who, QStringLiteral("asked"), &result.changes);
    }
    return result;
}

void AlarmEngine::unshelve(int i, const QString &who, const QString &why, Changes *changes)
{
    State &state = m_states[i];
    Change done = change(Change::Kind::Unshelved, i, {{QStringLiteral("reason"), why}});
    if (!who.isEmpty())
        done.details.insert(QStringLiteral("who"), who);
    state.shelved = false;
    state.shelvedUntilClear = false;
    state.shelvedUntilMs = 0;
    state.shelvedBy.clear();
    state.shelveReason.clear();
    changes->append(done);
}

AlarmEngine::Change AlarmEngine::change(Change::Kind kind, int i, QJsonObject more) const
{
    const State &state = m_states.at(i);
    more.insert(Alarm_, definition(i).name);
    switch (kind) {
    case Change::Kind::Raised:
    case Change::Kind::Cleared:
        more.insert(Severity_, severityText(state.severity));
        if (!std::isnan(state.value))
            more.insert(QStringLiteral("value"), state.value);
        if (!std::isnan(state.level))
            more.insert(QStringLiteral("alarm_level"), state.level);
        break;
    case Change::Kind::Acknowledged:
        more.insert(QStringLiteral("who"), state.ackBy);
        break;
    case Change::Kind::Shelved:
        more.insert(QStringLiteral("who"), state.shelvedBy);
        more.insert(QStringLiteral("comment"), state.shelveReason);
        more.insert(QStringLiteral("until"),
                    state.shelvedUntilClear ? QStringLiteral("until_clear")
                                            : timeText(state.shelvedUntilMs));
        break;
    case Change::Kind::Unshelved:
        break;
    }
    return {kind, state.severity, more};
}

Alarm::Severity AlarmEngine::worst() const
{
    Severity worst = Severity::None;
    for (int i = 0; i < m_states.size(); ++i) {
        if (definition(i).enabled && m_states[i].severity > worst)
            worst = m_states[i].severity;
    }
    return worst;
}

QJsonObject AlarmEngine::toJson(int i) const
{
    const State &state = m_states.at(i);
    QJsonObject object{{QStringLiteral("name"), definition(i).name},
                       {Severity_, severityText(state.severity)},
                       {QStringLiteral("current"), severityText(state.current)},
                       {QStringLiteral("unacknowledged"),
                        severityText(state.reportedUnacknowledged())},
                       {QStringLiteral("enabled"), definition(i).enabled}};
    if (state.sinceMs > 0)
        object.insert(QStringLiteral("since"), timeText(state.sinceMs));
    if (!std::isnan(state.value))
        object.insert(QStringLiteral("value"), state.value);
    if (!std::isnan(state.level) && state.severity != Severity::None)
        object.insert(QStringLiteral("level"), state.level);
    if (state.ackAtMs > 0) {
        object.insert(QStringLiteral("acknowledged_by"), state.ackBy);
        object.insert(QStringLiteral("acknowledged_at"), timeText(state.ackAtMs));
        object.insert(QStringLiteral("comment"), state.ackComment);
    }
    if (state.shelved) {
        object.insert(QStringLiteral("shelved_until"),
                      state.shelvedUntilClear ? QStringLiteral("until_clear")
                                              : timeText(state.shelvedUntilMs));
        object.insert(QStringLiteral("shelved_by"), state.shelvedBy);
        object.insert(QStringLiteral("shelve_reason"), state.shelveReason);
    }
    return object;
}

QJsonArray AlarmEngine::toJson(bool onlyNotable) const
{
    QJsonArray alarms;
    for (int i = 0; i < m_states.size(); ++i) {
        const State &state = m_states[i];
        if (onlyNotable
            && (!definition(i).enabled
                || (state.severity == Severity::None && state.unacknowledged == Severity::None
                    && !state.shelved)))
            continue;
        alarms.append(toJson(i));
    }
    return alarms;
}

QJsonObject AlarmEngine::saved() const
{
    QJsonObject alarms;
    for (int i = 0; i < m_states.size(); ++i) {
        const State &state = m_states[i];
        QJsonObject kept{{QStringLiteral("unacknowledged"), severityText(state.unacknowledged)}};
        if (state.ackAtMs > 0) {
            kept.insert(QStringLiteral("acknowledged_by"), state.ackBy);
            kept.insert(QStringLiteral("acknowledged_at_ms"), state.ackAtMs);
            kept.insert(QStringLiteral("comment"), state.ackComment);
        }
        if (state.shelved) {
            kept.insert(QStringLiteral("shelved_until_ms"), state.shelvedUntilMs);
            kept.insert(QStringLiteral("shelved_by"), state.shelvedBy);
            kept.insert(QStringLiteral("shelve_reason"), state.shelveReason);
        }
        alarms.insert(definition(i).name, kept);
    }
    return {{QStringLiteral("alarms"), alarms}};
}

bool AlarmEngine::restore(const QJsonObject &saved, QString *error)
{
    const QJsonObject alarms = saved.value(QStringLiteral("alarms")).toObject();
    QVector<State> states = m_states;
    for (auto it = alarms.begin(); it != alarms.end(); ++it) {
        const int i = indexOf(it.key());
        if (i < 0)
            continue; // an alarm a later version dropped: nothing to show it on
        const QJsonObject kept = it.value().toObject();
        State &state = states[i];
        if (!Alarm::severityFromName(kept.value(QStringLiteral("unacknowledged")).toString(),
                                     &state.unacknowledged)) {
            *error = QStringLiteral("%1: no severity").arg(it.key());
            return false;
        }
        state.ackBy = kept.value(QStringLiteral("acknowledged_by")).toString();
        state.ackAtMs = qint64(kept.value(QStringLiteral("acknowledged_at_ms")).toDouble());
        state.ackComment = kept.value(QStringLiteral("comment")).toString();
        if (kept.contains(QStringLiteral("shelved_until_ms")) && definition(i).shelvable()) {
            state.shelved = true;
            state.shelvedUntilMs = qint64(kept.value(QStringLiteral("shelved_until_ms")).toDouble());
            state.shelvedUntilClear = state.shelvedUntilMs == 0;
            state.shelvedBy = kept.value(QStringLiteral("shelved_by")).toString();
            state.shelveReason = kept.value(QStringLiteral("shelve_reason")).toString();
        }
    }
    m_states = states;
    return true;
}
