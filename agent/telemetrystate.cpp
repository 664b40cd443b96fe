#include "telemetrystate.h"

#include "agentserver.h"
#include "alarmwatch.h"
#include "controllease.h"
#include "devicesession.h"
#include "eventwatch.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

TelemetryState::TelemetryState(DeviceSession *device,
                               EventWatch *watch,
                               AgentServer *server,
                               QObject *parent)
    : QObject(parent)
{
    // Up only once the device answers on the new link: an open port is not yet an amplifier.
    connect(device, &DeviceSession::up, this, [this] {
        forgetReadings();
        m_snapshot.settings = Reply::Status();
        emit changed();
    });
    connect(device, &DeviceSession::down, this, [this] {
        forgetReadings();
        m_snapshot.settings = Reply::Status();
        count(&m_snapshot.linkLosses);
    });
    // A reading the device no longer confirms must not be shown as live.
    connect(device, &DeviceSession::noReply, this, [this] {
        forgetReadings();
        emit changed();
    });
    connect(device, &DeviceSession::identified, this, [this](const QString &model) {
        m_snapshot.model = model;
        answered();
    });
    connect(device,
            &DeviceSession::settingsRead,
            this,
            [this](const Reply::Status &status, const QStringList &) {
                m_snapshot.settings = status;
                answered();
            });
    connect(device, &DeviceSession::measured, this, [this](const Reply::Measurement &meas) {
        m_snapshot.readings = meas;
        answered();
    });
    connect(watch, &EventWatch::faultSet, this, [this] { count(&m_snapshot.faultEvents); });
    connect(server, &AgentServer::clientDropped, this, [this] {
        count(&m_snapshot.droppedClients);
    });
    connect(server, &AgentServer::clientRefused, this, [this] {
        count(&m_snapshot.refusedClients);
    });
}

void TelemetryState::watch(const AlarmWatch *alarms, const ControlLease *lease)
{
    const auto takeAlarms = [this, alarms] {
        const AlarmEngine &engine = alarms->engine();
        m_snapshot.alarms.clear();
        for (int i = 0; i < engine.count(); ++i) {
            if (!engine.definition(i).enabled)
                continue;
            const AlarmEngine::State &state = engine.state(i);
            m_snapshot.alarms.append({engine.definition(i).name,
                                      int(state.severity),
                                      state.reportedUnacknowledged() != Alarm::Severity::None,
                                      state.shelved});
        }
        // What changes with each reading would be stale between the alarms' own changes.
        QJsonArray notable;
        for (QJsonValue alarm : engine.toJson(true)) {
            QJsonObject object = alarm.toObject();
            object.remove(QStringLiteral("value"));
            object.remove(QStringLiteral("current"));
            object.remove(QStringLiteral("enabled"));
            notable.append(object);
        }
        m_snapshot.notableAlarms = notable;
        m_snapshot.worstSeverity = QLatin1String(Alarm::severityName(engine.worst()));
        emit changed();
    };
    const auto takeLease = [this, lease] {
        m_snapshot.leaseHeld = lease->isHeld();
        m_snapshot.leaseHolder = lease->holder();
        m_snapshot.leaseNote = lease->note();
        m_snapshot.leaseUntilMs = lease->untilMs();
        emit changed();
    };
    connect(alarms, &AlarmWatch::changed, this, takeAlarms);
    connect(lease, &ControlLease::changed, this, takeLease);
    takeAlarms();
    takeLease();
}

void TelemetryState::answered()
{
    m_snapshot.up = true;
    emit changed();
}

void TelemetryState::count(quint64 *counter)
{
    ++*counter;
    emit changed();
}

void TelemetryState::forgetReadings()
{
    m_snapshot.up = false;
    m_snapshot.readings = Reply::Measurement();
}

QByteArray TelemetryState::stateMessage(const Snapshot &snapshot,
                                        const QString &time,
                                        const Publication &publication)
{
    QJsonObject message{{QStringLiteral("time"), time},
                        {QStringLiteral("interval_ms"), publication.intervalMs},
                        {QStringLiteral("model"), snapshot.model},
                        {QStringLiteral("up"), snapshot.up}};
    if (!publication.advertise.isEmpty())
        message.insert(QStringLiteral("advertise"), publication.advertise);
    if (snapshot.hasReadings()) {
        const Reply::Measurement &meas = snapshot.readings;
        message.insert(QStringLiteral("status"), QString(QLatin1Char(meas.statusChar)));
        message.insert(QStringLiteral("fault"), meas.statusChar != Reply::NoFault);
        QJsonObject readings;
        for (const Reply::ReadingInfo &reading : Reply::Readings) {
            if (meas.has(reading.field))
                readings.insert(QLatin1String(reading.stateKey), meas.value(reading.field));
        }
        message.insert(QStringLiteral("readings"), readings);
    }
    if (snapshot.hasSettings()) {
        const Reply::Status &status = snapshot.settings;
        QJsonObject settings;
        for (const Reply::SettingInfo &setting : Reply::Settings) {
            if (status.has(setting.field))
                settings.insert(QLatin1String(setting.stateKey), status.jsonValue(setting.field));
        }
        message.insert(QStringLiteral("settings"), settings);
    }
    if (!snapshot.worstSeverity.isEmpty()) {
        message.insert(QStringLiteral("worst_severity"), snapshot.worstSeverity);
        message.insert(QStringLiteral("alarms"), snapshot.notableAlarms);
        QJsonObject lease{{QStringLiteral("held"), snapshot.leaseHeld}};
        if (snapshot.leaseHeld) {
            lease.insert(QStringLiteral("holder"), snapshot.leaseHolder);
            lease.insert(QStringLiteral("note"), snapshot.leaseNote);
            lease.insert(QStringLiteral("until"), AlarmEngine::timeText(snapshot.leaseUntilMs));
            const qint64 left = snapshot.leaseUntilMs - QDateTime::currentMSecsSinceEpoch();
            lease.insert(QStringLiteral("seconds_left"), qMax<qint64>(0, (left + 999) / 1000));
        }
        message.insert(QStringLiteral("lease"), lease);
    }
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}
