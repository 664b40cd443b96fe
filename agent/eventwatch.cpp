#include "eventwatch.h"

#include "devicesession.h"
#include "journal.h"
#include "replies.h"

#include <QJsonObject>

EventWatch::EventWatch(DeviceSession *device, Journal *journal, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_journal(journal)
{
    const QString deviceKey = QStringLiteral("device");
    connect(device, &DeviceSession::up, this, [this, deviceKey] {
        m_failureReported = false;
        m_journal->record(QStringLiteral("link_up"), {{deviceKey, m_device->deviceText()}});
    });
    // The status character is kept across a loss: a fault still latched when the link is
    // back is the same fault, not a new one.
    connect(device, &DeviceSession::down, this, [this, deviceKey](const QString &reason) {
        m_journal->record(QStringLiteral("link_down"),
                          {{deviceKey, m_device->deviceText()}, {QStringLiteral("reason"), reason}});
    });
    // A device that stays away is said once, not at every try to open it again.
    connect(device, &DeviceSession::openFailed, this, [this, deviceKey](const QString &reason) {
        if (m_failureReported)
            return;
        m_failureReported = true;
        m_journal->record(QStringLiteral("link_failed"),
                          {{deviceKey, m_device->deviceText()}, {QStringLiteral("reason"), reason}});
    });
    connect(device, &DeviceSession::noReply, this, [this](const QString &command) {
        m_journal->record(QStringLiteral("no_reply"), {{QStringLiteral("command"), command}});
    });
    // A setting is journalled when it has left for the amplifier, not when a client sent it.
    connect(device,
            &DeviceSession::settingSent,
            this,
            [this](const QString &line, QJsonObject client) {
                client.insert(QStringLiteral("command"), line);
                m_journal->record(QStringLiteral("setting"), client);
            });
    connect(device,
            &DeviceSession::settingDropped,
            this,
            [this](const QString &line, QJsonObject client, const QString &reason) {
                client.insert(QStringLiteral("command"), line);
                client.insert(QStringLiteral("reason"), reason);
                m_journal->record(QStringLiteral("setting_dropped"), client);
            });
    connect(device, &DeviceSession::identified, this, &EventWatch::onIdentified);
    connect(device, &DeviceSession::settingsRead, this, &EventWatch::onSettingsRead);
    connect(device, &DeviceSession::measured, this, &EventWatch::onMeasured);
}

void EventWatch::onIdentified(const QString &model)
{
    if (!m_model.isEmpty() && model != m_model) {
        m_journal->record(QStringLiteral("model_changed"),
                          {{QStringLiteral("model"), model}, {QStringLiteral("previous"), m_model}});
    } else {
        m_journal->record(QStringLiteral("model_identified"), {{QStringLiteral("model"), model}});
    }
    m_model = model;
}

void EventWatch::onSettingsRead(const Reply::Status &status, bool afterSetting)
{
    // What a setting through the agent changed is journalled as that setting already.
    QJsonObject changed;
    QJsonObject previous;
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        if (!status.has(setting.field) || !m_settings.has(setting.field)
            || status.value(setting.field) == m_settings.value(setting.field))
            continue;
        changed.insert(QLatin1String(setting.stateKey), status.jsonValue(setting.field));
        previous.insert(QLatin1String(setting.stateKey), m_settings.jsonValue(setting.field));
    }
    if (!afterSetting && !changed.isEmpty()) {
        changed.insert(QStringLiteral("previous"), previous);
        m_journal->record(QStringLiteral("settings_changed"), changed);
    }
    m_settings = status;
    if (status.has(Reply::StatusField::MaxDriverTemp)) {
        m_cellLimitC = status.maxCellTempC;
        m_driverLimitC = status.maxDrvTempC;
    }
}

void EventWatch::onMeasured(const Reply::Measurement &meas)
{
    if (!meas.has(Reply::MeasField::StatusChar))
        return;
    onStatusCharacter(char(meas.statusChar));
    for (int i = 0; i < Reply::ReadingCount; ++i) {
        const Reply::ReadingInfo &reading = Reply::Readings[i];
        if (!reading.hasLimit || !meas.has(reading.field))
            continue;
        const int limit = reading.limit == Reply::StatusField::MaxCellTemp ? m_cellLimitC
                                                                           : m_driverLimitC;
        if (limit < 0)
            continue;
        const double tenths = meas.tenths(reading.field);
        const bool over = Reply::overLimit(tenths, limit);
        if (over == m_over[i])
            continue;
        m_over[i] = over;
        m_journal->record(over ? QStringLiteral("temperature_over")
                               : QStringLiteral("temperature_back"),
                          {{QStringLiteral("sensor"), QLatin1String(reading.name)},
                           {QStringLiteral("celsius"), tenths / Reply::ReadingScale},
                           {QStringLiteral("limit_c"), limit}});
    }
}

void EventWatch::onStatusCharacter(char status)
{
    if (status == m_status)
        return;
    const bool wasFault = m_status != 0 && m_status != Reply::NoFault;
    const bool isFault = status != Reply::NoFault;
    m_status = status;
    const QJsonObject details{{QStringLiteral("status"), QString(QLatin1Char(status))}};
    if (isFault && !wasFault) {
        m_journal->record(QStringLiteral("fault_set"), details);
        emit faultSet();
    } else if (!isFault && wasFault)
        m_journal->record(QStringLiteral("fault_cleared"), details);
    else if (isFault)
        m_journal->record(QStringLiteral("status_changed"), details);
}
