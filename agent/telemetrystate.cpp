#include "telemetrystate.h"

#include "agentserver.h"
#include "devicesession.h"
#include "eventwatch.h"

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

QByteArray TelemetryState::stateMessage(const Snapshot &snapshot, const QString &time)
{
    QJsonObject message{{QStringLiteral("time"), time},
                        {QStringLiteral("model"), snapshot.model},
                        {QStringLiteral("up"), snapshot.up}};
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
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}
