#include "fleetmodel.h"

#include <QDateTime>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

Alarm::Severity FleetModel::Tile::severity() const
{
    if (!isLive() || !state.up)
        return Alarm::Severity::Invalid;
    return state.worst;
}

FleetModel::FleetModel(const QString &prefix, Clock clock, QObject *parent)
    : QObject(parent)
    , m_prefix(prefix)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentMSecsSinceEpoch(); }))
{
    m_recheckTimer.setSingleShot(true);
    connect(&m_recheckTimer, &QTimer::timeout, this, &FleetModel::recheck);
}

QString FleetModel::printable(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar::ReplacementCharacter;
    }
    return shown;
}

QStringList FleetModel::topics() const
{
    return {m_prefix + QLatin1String("/+/status"), m_prefix + QLatin1String("/+/state")};
}

bool FleetModel::ignore(const QString &reason)
{
    ++m_ignored;
    m_lastIgnored = reason;
    emit ignored(reason);
    return false;
}

bool FleetModel::take(const QString &topic, const QByteArray &payload)
{
    const QString head = m_prefix + QLatin1Char('/');
    if (!topic.startsWith(head))
        return ignore(QStringLiteral("a topic outside %1").arg(head));
    const QString rest = topic.mid(head.size());
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString name = rest.left(slash);
    const QString kind = rest.mid(slash + 1);
    if (slash <= 0 || (kind != QLatin1String("status") && kind != QLatin1String("state")))
        return ignore(QStringLiteral("a topic that is no amplifier's status or state"));
    if (name.size() > MaxNameLength)
        return ignore(QStringLiteral("a name longer than %1 characters").arg(MaxNameLength));
    if (payload.size() > MaxPayloadBytes)
        return ignore(QStringLiteral("a message larger than %1 KiB").arg(MaxPayloadBytes / 1024));

    // An empty retained message takes the one before it off the broker.
    const bool cleared = payload.isEmpty();
    Agent agent = Agent::Unknown;
    AmplifierState state;
    if (kind == QLatin1String("status") && !cleared) {
        if (payload == "online")
            agent = Agent::Online;
        else if (payload == "offline")
            agent = Agent::Offline;
        else
            return ignore(QStringLiteral("a status that is neither online nor offline"));
    } else if (!cleared) {
        QString error;
        if (!AmplifierState::parse(payload, &state, &error))
            return ignore(QStringLiteral("a state that cannot be read: %1").arg(error));
    }

    Tile *found = tileFor(name);
    if (!found) {
        if (cleared)
            return true;
        if (m_tiles.size() >= MaxTiles)
            return ignore(QStringLiteral("more than %1 amplifiers").arg(MaxTiles));
        found = &m_tiles.insert(name, Tile{}).value();
        found->name = name;
        m_order.append(name);
    }
    if (kind == QLatin1String("status")) {
        found->agent = agent;
    } else {
        found->hasState = !cleared;
        found->state = state;
        found->receivedMs = m_clock();
    }
    if (found->agent == Agent::Unknown && !found->hasState) {
        m_tiles.remove(name);
        m_order.removeOne(name);
        emit tileRemoved(name);
        return true;
    }
    refresh(name, true);
    scheduleRecheck();
    return true;
}

void FleetModel::setBrokerConnected(bool connected)
{
    if (m_brokerConnected == connected)
        return;
    m_brokerConnected = connected;
    if (connected)
        m_connectedSinceMs = m_clock();
    recheck();
}

void FleetModel::recheck()
{
    for (const QString &name : QStringList(m_order))
        refresh(name, false);
    scheduleRecheck();
}

const FleetModel::Tile *FleetModel::tile(const QString &name) const
{
    const auto found = m_tiles.constFind(name);
    return found == m_tiles.constEnd() ? nullptr : &found.value();
}

FleetModel::Tile *FleetModel::tileFor(const QString &name)
{
    const auto found = m_tiles.find(name);
    return found == m_tiles.end() ? nullptr : &found.value();
}

FleetModel::Staleness FleetModel::stalenessOf(const Tile &tile) const
{
    if (!m_brokerConnected)
        return Staleness::BrokerDown;
    if (tile.agent == Agent::Offline)
        return Staleness::AgentOffline;
    if (!tile.hasState)
        return Staleness::NoState;
    // What the agent said before the broker went away may have changed while it was: its
    // will, say, which comes again with the rest.
    if (tile.receivedMs < m_connectedSinceMs)
        return Staleness::NotSinceReconnect;
    // The agent's clock says when it was made, ours when it came: a retained state of an
    // agent long gone comes at once, and a state from a clock behind ours is no younger
    // than its arrival.
    const qint64 limit = qint64(StaleIntervals) * tile.state.intervalMs;
    const qint64 now = m_clock();
    if (now - tile.state.madeMs > limit || now - tile.receivedMs > limit)
        return Staleness::TooOld;
    return Staleness::Live;
}

void FleetModel::refresh(const QString &name, bool changed)
{
    Tile *found = tileFor(name);
    const Staleness staleness = stalenessOf(*found);
    if (staleness != found->staleness) {
        found->staleness = staleness;
        changed = true;
    }
    if (!changed)
        return;
    emit tileChanged(name);
    reorder();
}

void FleetModel::reorder()
{
    // Each tile's severity once, not once a comparison.
    std::vector<std::pair<int, QString>> keyed;
    keyed.reserve(size_t(m_order.size()));
    for (const QString &name : qAsConst(m_order))
        keyed.emplace_back(-int(m_tiles.constFind(name)->severity()), name);
    std::sort(keyed.begin(), keyed.end());
    QStringList order;
    order.reserve(int(keyed.size()));
    for (const auto &entry : keyed)
        order.append(entry.second);
    if (order == m_order)
        return;
    m_order = order;
    emit orderChanged();
}

void FleetModel::scheduleRecheck()
{
    if (!m_brokerConnected) {
        m_recheckTimer.stop();
        return;
    }
    // The next moment a live tile turns stale.
    qint64 next = std::numeric_limits<qint64>::max();
    for (const Tile &tile : qAsConst(m_tiles)) {
        if (!tile.isLive())
            continue;
        const qint64 limit = qint64(StaleIntervals) * tile.state.intervalMs;
        next = std::min({next, tile.state.madeMs + limit, tile.receivedMs + limit});
    }
    if (next == std::numeric_limits<qint64>::max()) {
        m_recheckTimer.stop();
        return;
    }
    m_recheckTimer.start(int(qBound<qint64>(0, next - m_clock() + 1, 3600000)));
}
