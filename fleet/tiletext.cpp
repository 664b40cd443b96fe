#include "tiletext.h"

#include <QCoreApplication>
#include <QStringList>

namespace TileText {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TileText", text);
}

QString number(const AmplifierState::Value &value, int decimals)
{
    return value.known ? QString::number(value.value, 'f', decimals) : QStringLiteral("–");
}

QString age(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s < 120)
        return tr("%1 s").arg(s);
    if (s < 7200)
        return tr("%1 min").arg(s / 60);
    if (s < 2 * 86400)
        return tr("%1 h").arg(s / 3600);
    return tr("%1 days").arg(s / 86400);
}

} // namespace

QString headline(const FleetModel::Tile &tile)
{
    using S = FleetModel::Staleness;
    switch (tile.staleness) {
    case S::BrokerDown:
        return tr("NO BROKER");
    case S::AgentOffline:
        return tr("AGENT OFFLINE");
    case S::NoState:
        return tr("NO STATE");
    case S::TooOld:
    case S::NotSinceReconnect:
        return tr("STALE");
    case S::Live:
        break;
    }
    if (!tile.state.up)
        return tr("NOT ANSWERING");
    switch (tile.state.worst) {
    case Alarm::Severity::None:
        return tr("OK");
    case Alarm::Severity::Minor:
        return tr("MINOR");
    case Alarm::Severity::Major:
        return tr("MAJOR");
    case Alarm::Severity::Invalid:
        return tr("INVALID");
    }
    return QString();
}

QString staleness(const FleetModel::Tile &tile, qint64 nowMs)
{
    using S = FleetModel::Staleness;
    const QString last = tile.hasState
                             ? tr("last state made %1 ago").arg(age(nowMs - tile.state.madeMs))
                             : tr("no state received");
    switch (tile.staleness) {
    case S::Live:
        return QString();
    case S::BrokerDown:
        return tr("Not live: no connection to the broker; %1").arg(last);
    case S::AgentOffline:
        return tr("Not live: the agent is offline; %1").arg(last);
    case S::NoState:
        return tr("Not live: %1").arg(last);
    case S::TooOld:
        return tr("Not live: %1, expected every %2 ms").arg(last).arg(tile.state.intervalMs);
    case S::NotSinceReconnect:
        return tr("Not live: nothing from its agent since the broker came back; %1").arg(last);
    }
    return QString();
}

QString agent(const FleetModel::Tile &tile)
{
    switch (tile.agent) {
    case FleetModel::Agent::Online:
        return tr("Agent online");
    case FleetModel::Agent::Offline:
        return tr("Agent offline");
    case FleetModel::Agent::Unknown:
        break;
    }
    return tr("Agent status unknown");
}

QString amplifier(const FleetModel::Tile &tile)
{
    if (!tile.hasState)
        return tr("Amplifier: unknown");
    const AmplifierState &s = tile.state;
    if (!s.up)
        return tr("Amplifier not answering");
    QStringList parts{tr("Amplifier answering")};
    if (s.faultKnown)
        parts << (s.fault ? tr("FAULT") : tr("no fault"));
    if (s.rfKnown)
        parts << (s.rf ? tr("RF on") : tr("RF off"));
    return parts.join(QStringLiteral(", "));
}

QString powers(const FleetModel::Tile &tile)
{
    const AmplifierState &s = tile.state;
    return tr("Power A %1 W, B %2 W, C %3 W")
        .arg(number(s.power[0], 1), number(s.power[1], 1), number(s.power[2], 1));
}

QString temperatures(const FleetModel::Tile &tile)
{
    static const char *const names[] = {QT_TRANSLATE_NOOP("TileText", "Cell 1"),
                                        QT_TRANSLATE_NOOP("TileText", "Cell 2"),
                                        QT_TRANSLATE_NOOP("TileText", "Driver")};
    const AmplifierState &s = tile.state;
    QStringList parts;
    for (int i = 0; i < 3; ++i) {
        QString part = tr("%1 %2 of %3 °C")
                           .arg(tr(names[i]), number(s.temp[i], 1), number(s.tempLimit[i], 0));
        if (s.temp[i].known && s.tempLimit[i].known && s.temp[i].value >= s.tempLimit[i].value)
            part += tr(" (OVER LIMIT)");
        parts << part;
    }
    return parts.join(QStringLiteral(", "));
}

QString alarms(const FleetModel::Tile &tile)
{
    const AmplifierState &s = tile.state;
    if (!tile.hasState || !s.alarmsKnown)
        return tr("Alarms: not published");
    return tr("Worst alarm %1, %2 not acknowledged")
        .arg(QLatin1String(Alarm::severityName(s.worst)))
        .arg(s.unacknowledged);
}

QString lease(const FleetModel::Tile &tile)
{
    if (tile.state.leaseHolder.isEmpty())
        return tr("No lease held");
    return tr("Lease held by %1").arg(FleetModel::printable(tile.state.leaseHolder));
}

QString summary(const FleetModel::Tile &tile, qint64 nowMs)
{
    QStringList parts{FleetModel::printable(tile.name)};
    if (!tile.state.model.isEmpty())
        parts << FleetModel::printable(tile.state.model);
    parts << headline(tile);
    const QString stale = staleness(tile, nowMs);
    if (!stale.isEmpty())
        parts << stale;
    parts << agent(tile) << amplifier(tile);
    if (tile.hasState && tile.state.up)
        parts << powers(tile) << temperatures(tile);
    parts << alarms(tile) << lease(tile);
    return parts.join(QStringLiteral("; "));
}

bool matches(const FleetModel::Tile &tile, const QString &filter, bool onlyAlarms)
{
    if (onlyAlarms && tile.severity() == Alarm::Severity::None)
        return false;
    return filter.isEmpty() || tile.name.contains(filter, Qt::CaseInsensitive)
           || tile.state.model.contains(filter, Qt::CaseInsensitive);
}

} // namespace TileText
