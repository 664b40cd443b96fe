#pragma once

#include "fleetmodel.h"

#include <QString>

// A tile's state in words, each line as the tile shows it and all of it as its accessible
// name, so that no state is told by colour alone. Every text from a publisher goes through
// FleetModel::printable.
namespace TileText {

// "MAJOR", "MINOR", "OK", or "STALE"/"OFFLINE"/"NO BROKER"... when nothing live is known.
QString headline(const FleetModel::Tile &tile);
// Why the tile is not live, with the age of its state; empty when it is.
QString staleness(const FleetModel::Tile &tile, qint64 nowMs);
QString agent(const FleetModel::Tile &tile);
QString amplifier(const FleetModel::Tile &tile);
QString powers(const FleetModel::Tile &tile);
QString temperatures(const FleetModel::Tile &tile);
QString alarms(const FleetModel::Tile &tile);
QString lease(const FleetModel::Tile &tile);
// All of the above, for a screen reader.
QString summary(const FleetModel::Tile &tile, qint64 nowMs);
// Whether the tile is shown under `filter` (in its name or model, any case) and, with
// `onlyAlarms`, whether it is in alarm (anything but live and NO_ALARM).
bool matches(const FleetModel::Tile &tile, const QString &filter, bool onlyAlarms);

} // namespace TileText
