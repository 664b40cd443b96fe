#include "eventwatch.h"

#include "commands.h"
#include "devicesession.h"
#include "journal.h"
#include "replies.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The values the agent's own settings may have left in each field of a Status, on the wire:
// the last one set in it, or an earlier one the amplifier had not yet carried out; and any
// RF state after a Reset, which may clear the fault that held RF off.
struct OwnValues
{
    std::vector<long> wire[Reply::SettingCount];
    bool anyRf = false;

    bool explains(Reply::StatusField field, double value) const
    {
        if (field == Reply::StatusField::Rf && anyRf)
            return true;
        // In wire steps: tenths of a watt and half dB are no exact doubles.
        const long step = std::lround(value * Reply::settingInfo(field).scale);
        const std::vector<long> &own = wire[int(field)];
        return std::find(own.begin(), own.end(), step) != own.end();
    }
};

OwnValues ownValues(const QStringList &lines)
{
    using Kind = Command::Parsed::Kind;
    using Field = Reply::StatusField;
    OwnValues own;
    for (const QString &line : lines) {
        const Command::Parsed command = Command::parse(line.toLatin1(), Command::ErrorText::Skipped);
        const auto add = [&](Field field) { own.wire[int(field)].push_back(command.value); };
        switch (command.kind) {
        case Kind::SetRf:
            add(Field::Rf);
            break;
        case Kind::SetGain:
            add(Reply::GainFields[command.channel]);
            break;
        case Kind::SetLinearity:
            add(Field::Linearity);
            break;
        case Kind::SetMaxPower:
            add(Field::MaxPower);
            break;
        case Kind::SetMaxCellTemp:
            add(Field::MaxCellTemp);
            break;
        case Kind::SetMaxDrvTemp:
            add(Field::MaxDriverTemp);
            break;
        case Kind::Reset:
            own.anyRf = true;
            break;
        default:
            break;
        }
    }
    return own;
}

} // namespace

EventWatch::EventWatch(DeviceSession *device, Journal *journal, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_journal(journal)
{
    const QString deviceKey = QStringLiteral("device");
    connect(device, &DeviceSession::up, this, [this, deviceKey] {
        m_failureReported = false;
        m_journal->record(Event::LinkUp, {{deviceKey, m_device->deviceText()}});
    });
    // The status character is kept across a loss: a fault still latched when the link is
    // back is the same fault, not a new one.
    connect(device, &DeviceSession::down, this, [this, deviceKey](const QString &reason) {
        m_journal->record(Event::LinkDown,
                          {{deviceKey, m_device->deviceText()}, {QStringLiteral("reason"), reason}});
    });
    // A device that stays away is said once, not at every try to open it again.
    connect(device, &DeviceSession::openFailed, this, [this, deviceKey](const QString &reason) {
        if (m_failureReported)
            return;
        m_failureReported = true;
        m_journal->record(Event::LinkFailed,
                          {{deviceKey, m_device->deviceText()}, {QStringLiteral("reason"), reason}});
    });
    connect(device, &DeviceSession::noReply, this, [this](const QString &command) {
        m_journal->record(Event::NoReply, {{QStringLiteral("command"), command}});
    });
    // A setting is journalled when it has left for the amplifier, not when a client sent it.
    connect(device,
            &DeviceSession::settingSent,
            this,
            [this](const QString &line, QJsonObject client) {
                client.insert(QStringLiteral("command"), line);
                m_journal->record(Event::Setting, client);
            });
    connect(device,
            &DeviceSession::settingDropped,
            this,
            [this](const QString &line, QJsonObject client, const QString &reason) {
                client.insert(QStringLiteral("command"), line);
                client.insert(QStringLiteral("reason"), reason);
                m_journal->record(Event::SettingDropped, client);
            });
    connect(device, &DeviceSession::identified, this, &EventWatch::onIdentified);
    connect(device, &DeviceSession::settingsRead, this, &EventWatch::onSettingsRead);
    connect(device, &DeviceSession::measured, this, &EventWatch::onMeasured);
}

void EventWatch::onIdentified(const QString &model)
{
    if (!m_model.isEmpty() && model != m_model) {
        m_journal->record(Event::ModelChanged,
                          {{QStringLiteral("model"), model}, {QStringLiteral("previous"), m_model}});
    } else {
        m_journal->record(Event::ModelIdentified, {{QStringLiteral("model"), model}});
    }
    m_model = model;
}

void EventWatch::onSettingsRead(const Reply::Status &status, const QStringList &ownSettings)
{
    // What a setting through the agent changed is journalled as that setting already; any
    // other difference from the Status before came on another path, even beside ours.
    QJsonObject changed;
    QJsonObject previous;
    const OwnValues own = ownValues(ownSettings);
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        if (!status.has(setting.field) || !m_settings.has(setting.field))
            continue;
        const double value = status.value(setting.field);
        if (value == m_settings.value(setting.field) || own.explains(setting.field, value))
            continue;
        changed.insert(QLatin1String(setting.stateKey), status.jsonValue(setting.field));
        previous.insert(QLatin1String(setting.stateKey), m_settings.jsonValue(setting.field));
    }
    if (!changed.isEmpty()) {
        changed.insert(QStringLiteral("previous"), previous);
        m_journal->record(Event::SettingsChanged, changed);
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
        m_journal->record(over ? Event::TemperatureOver : Event::TemperatureBack,
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
        m_journal->record(Event::FaultSet, details);
        emit faultSet();
    } else if (!isFault && wasFault)
        m_journal->record(Event::FaultCleared, details);
    else if (isFault)
        m_journal->record(Event::StatusChanged, details);
}
