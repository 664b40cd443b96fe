#pragma once

#include "replies.h"

#include <QByteArray>
#include <QJsonArray>
#include <QVector>
#include <QObject>
#include <QString>

class AgentServer;
class AlarmWatch;
class ControlLease;
class DeviceSession;
class EventWatch;

// What the agent last knew of the amplifier, for the metrics and the MQTT telemetry: kept
// from the replies the agent's own poll gets, so that nobody watching has to ask the device.
class TelemetryState : public QObject
{
    Q_OBJECT

public:
    // A plain copy, safe to hand to another thread.
    struct Snapshot
    {
        // The link is up and the device answered its last question.
        bool up = false;
        QString model; // the last one identified, kept while the link is down
        // Only from the time the device has been up and answering without a break: a
        // fieldCount of 0 means no reading (or no settings) since.
        Reply::Measurement readings;
        Reply::Status settings;
        quint64 linkLosses = 0;
        quint64 faultEvents = 0;
        quint64 droppedClients = 0;
        quint64 refusedClients = 0;
        quint64 droppedMqttEvents = 0;

        struct AlarmSample
        {
            QString name;
            int severity = 0; // 0 none, 1 minor, 2 major, 3 invalid
            bool unacknowledged = false;
            bool shelved = false;
        };
        QVector<AlarmSample> alarms;
        // Those not normal or not acknowledged, as the MQTT state lists them.
        QJsonArray notableAlarms;
        QString worstSeverity;
        bool leaseHeld = false;
        QString leaseHolder;
        QString leaseNote;
        qint64 leaseUntilMs = 0;

        bool hasReadings() const { return up && readings.fieldCount > 0; }
        bool hasSettings() const { return up && settings.fieldCount > 0; }
    };

    // The counters follow the link losses of `device`, the faults `watch` sees and the
    // clients `server` drops or refuses.
    TelemetryState(DeviceSession *device,
                   EventWatch *watch,
                   AgentServer *server,
                   QObject *parent = nullptr);

    // The alarms and the lease join the snapshot, kept as they change.
    void watch(const AlarmWatch *alarms, const ControlLease *lease);

    const Snapshot &snapshot() const { return m_snapshot; }
    // What a state message says of its publisher besides the amplifier: how often another
    // follows, so that a reader can tell a stale one, and where clients reach the agent.
    struct Publication
    {
        int intervalMs = 0;
        QString advertise; // ADDRESS:PORT; empty: not said
    };

    // The MQTT state message of `snapshot`, stamped with `time`: what is known of the
    // amplifier, its readings and settings only while they are live.
    static QByteArray stateMessage(const Snapshot &snapshot,
                                   const QString &time,
                                   const Publication &publication);
    // An event the MQTT publisher could not pass on.
    void countDroppedMqttEvent() { count(&m_snapshot.droppedMqttEvents); }

signals:
    void changed();

private:
    void answered();
    void count(quint64 *counter);
    void forgetReadings();

    Snapshot m_snapshot;
};
