#pragma once

#include <QString>

// Every event the agent journals, with the name the journal, its text lines, the MQTT events
// and the tests know it by and the level it is written with: one table, so that a new event
// cannot be written without a level or named two ways.
enum class Event {
    Started,
    Stopped,
    LinkUp,
    LinkDown,
    LinkFailed,
    NoReply,
    ModelIdentified,
    ModelChanged,
    Setting,
    SettingDropped,
    SettingRefused,
    SettingsChanged,
    TemperatureOver,
    TemperatureBack,
    FaultSet,
    FaultCleared,
    StatusChanged,
    AcceptFailed,
    ClientConnected,
    ClientDisconnected,
    ClientRefused,
    ClientDropped,
    ClientsClosed,
    ClientJunk,
    ClientCnAmbiguous,
    MetricsAuthFailed,
    MqttConnected,
    MqttLost,
    MqttFailed,
    MqttRefused,
    AlarmRaised,
    AlarmCleared,
    AlarmAcknowledged,
    AlarmShelved,
    AlarmUnshelved,
    LeaseTaken,
    LeaseReleased,
    LeaseExpired,
    LeaseBroken,
    RequestRefused,
};

namespace Events {

// The amplifier not there, or latched in a fault, needs someone; so may what is odd.
enum class Level { Info, Warning, Error };

struct EventInfo
{
    Event event;
    const char *name;
    Level level;
};

inline constexpr EventInfo Table[] = {
    {Event::Started, "started", Level::Info},
    {Event::Stopped, "stopped", Level::Info},
    {Event::LinkUp, "link_up", Level::Info},
    {Event::LinkDown, "link_down", Level::Error},
    {Event::LinkFailed, "link_failed", Level::Error},
    {Event::NoReply, "no_reply", Level::Warning},
    {Event::ModelIdentified, "model_identified", Level::Info},
    {Event::ModelChanged, "model_changed", Level::Warning},
    {Event::Setting, "setting", Level::Info},
    {Event::SettingDropped, "setting_dropped", Level::Info},
    {Event::SettingRefused, "setting_refused", Level::Warning},
    {Event::SettingsChanged, "settings_changed", Level::Info},
    {Event::TemperatureOver, "temperature_over", Level::Warning},
    {Event::TemperatureBack, "temperature_back", Level::Info},
    {Event::FaultSet, "fault_set", Level::Error},
    {Event::FaultCleared, "fault_cleared", Level::Info},
    {Event::StatusChanged, "status_changed", Level::Warning},
    {Event::AcceptFailed, "accept_failed", Level::Info},
    {Event::ClientConnected, "client_connected", Level::Info},
    {Event::ClientDisconnected, "client_disconnected", Level::Info},
    {Event::ClientRefused, "client_refused", Level::Warning},
    {Event::ClientDropped, "client_dropped", Level::Warning},
    {Event::ClientsClosed, "clients_closed", Level::Warning},
    {Event::ClientJunk, "client_junk", Level::Warning},
    {Event::ClientCnAmbiguous, "client_cn_ambiguous", Level::Warning},
    {Event::MetricsAuthFailed, "metrics_auth_failed", Level::Warning},
    {Event::MqttConnected, "mqtt_connected", Level::Info},
    {Event::MqttLost, "mqtt_lost", Level::Warning},
    {Event::MqttFailed, "mqtt_failed", Level::Warning},
    {Event::MqttRefused, "mqtt_refused", Level::Warning},
    // A raised alarm's row is written at a level its severity gives.
    {Event::AlarmRaised, "alarm_raised", Level::Warning},
    {Event::AlarmCleared, "alarm_cleared", Level::Info},
    {Event::AlarmAcknowledged, "alarm_acknowledged", Level::Info},
    {Event::AlarmShelved, "alarm_shelved", Level::Info},
    {Event::AlarmUnshelved, "alarm_unshelved", Level::Info},
    {Event::LeaseTaken, "lease_taken", Level::Info},
    {Event::LeaseReleased, "lease_released", Level::Info},
    {Event::LeaseExpired, "lease_expired", Level::Info},
    {Event::LeaseBroken, "lease_broken", Level::Warning},
    {Event::RequestRefused, "request_refused", Level::Warning},
};

constexpr bool inOrder()
{
    for (int i = 0; i < int(sizeof(Table) / sizeof(Table[0])); ++i) {
        if (int(Table[i].event) != i)
            return false;
    }
    return true;
}
// Looked up by position: a row out of place would give an event another's name.
static_assert(inOrder() && int(Event::RequestRefused) + 1 == sizeof(Table) / sizeof(Table[0]),
              "one row per event, in the order of the enum");

const EventInfo &info(Event event);
QString name(Event event);
QString levelName(Level level);
QString levelName(Event event);
// False for a name no event has.
bool fromName(const QString &name, Event *event);

} // namespace Events
