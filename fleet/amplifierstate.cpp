#include "amplifierstate.h"

#include "fields.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const Reply::SettingInfo *settingOf(Reply::StatusField field)
{
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        if (setting.field == field)
            return &setting;
    }
    return nullptr;
}

// A number at `key` of `object`, if there is one; false if there is something else.
bool readNumber(const QJsonObject &object, const char *key, AmplifierState::Value *value)
{
    const QJsonValue found = object.value(QLatin1String(key));
    if (found.isUndefined())
        return true;
    if (!found.isDouble())
        return false;
    *value = {true, found.toDouble()};
    return true;
}

// An object, or nothing, at `key`.
bool readObject(const QJsonObject &object, const char *key, QJsonObject *found)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return true;
    *found = value.toObject();
    return value.isObject();
}

bool readReadings(const QJsonObject &message, AmplifierState *state)
{
    QJsonObject readings;
    QJsonObject settings;
    if (!readObject(message, "readings", &readings) || !readObject(message, "settings", &settings))
        return false;
    int power = 0;
    int temp = 0;
    for (const Reply::ReadingInfo &reading : Reply::Readings) {
        AmplifierState::Value *value = reading.hasLimit ? &state->temp[temp] : &state->power[power];
        if (!readNumber(readings, reading.stateKey, value))
            return false;
        if (reading.hasLimit) {
            const Reply::SettingInfo *limit = settingOf(reading.limit);
            if (limit && !readNumber(settings, limit->stateKey, &state->tempLimit[temp]))
                return false;
            ++temp;
        } else {
            ++power;
        }
    }
    const QJsonValue rf = settings.value(QLatin1String(settingOf(Reply::StatusField::Rf)->stateKey));
    if (rf.isBool()) {
        state->rfKnown = true;
        state->rf = rf.toBool();
    } else if (rf.isDouble()) {
        state->rfKnown = true;
        state->rf = rf.toDouble() != 0;
    } else if (!rf.isUndefined()) {
        return false;
    }
    const QJsonValue fault = message.value(QLatin1String("fault"));
    state->faultKnown = fault.isBool();
    state->fault = fault.toBool();
    return fault.isBool() || fault.isUndefined();
}

bool readAlarms(const QJsonObject &message, AmplifierState *state)
{
    const QJsonValue worst = message.value(QLatin1String("worst_severity"));
    if (worst.isUndefined())
        return message.value(QLatin1String("alarms")).isUndefined();
    if (!Alarm::severityFromName(worst.toString(), &state->worst))
        return false;
    const QJsonValue alarms = message.value(QLatin1String("alarms"));
    if (!alarms.isArray())
        return false;
    state->alarmsKnown = true;
    if (alarms.toArray().size() > AmplifierState::MaxAlarms)
        return false;
    for (const QJsonValue &alarm : alarms.toArray()) {
        Alarm::Severity unacknowledged = Alarm::Severity::None;
        if (!alarm.isObject()
            || !Alarm::severityFromName(alarm.toObject()
                                            .value(QLatin1String("unacknowledged"))
                                            .toString(),
                                        &unacknowledged))
            return false;
        const QJsonValue name = alarm.toObject().value(QLatin1String("name"));
        if (!name.isString())
            return false;
        state->alarmNames.append(name.toString());
        if (unacknowledged != Alarm::Severity::None)
            ++state->unacknowledged;
    }
    QJsonObject lease;
    if (!readObject(message, "lease", &lease))
        return false;
    const QJsonValue held = lease.value(QLatin1String("held"));
    if (held.toBool()) {
        const QJsonValue holder = lease.value(QLatin1String("holder"));
        if (!holder.isString())
            return false;
        state->leaseHolder = holder.toString();
    }
    return held.isBool() || held.isUndefined();
}

} // namespace

bool AmplifierState::parse(const QByteArray &payload, AmplifierState *state, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? QStringLiteral("not JSON: %1").arg(parseError.errorString())
                     : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject message = document.object();
    AmplifierState read;
    const QDateTime made = QDateTime::fromString(message.value(QLatin1String("time")).toString(),
                                                 Qt::ISODateWithMs);
    if (!made.isValid()) {
        *error = QStringLiteral("no time it was made");
        return false;
    }
    read.madeMs = made.toMSecsSinceEpoch();
    const QJsonValue interval = message.value(QLatin1String("interval_ms"));
    if (!interval.isUndefined()) {
        const double ms = interval.toDouble(-1);
        if (!interval.isDouble() || ms < MinIntervalMs || ms > MaxIntervalMs) {
            *error = QStringLiteral("interval_ms is not %1 to %2")
                         .arg(MinIntervalMs)
                         .arg(MaxIntervalMs);
            return false;
        }
        read.intervalMs = int(ms);
    }
    const QJsonValue up = message.value(QLatin1String("up"));
    const QJsonValue model = message.value(QLatin1String("model"));
    const QJsonValue advertise = message.value(QLatin1String("advertise"));
    if (!up.isBool() || !(model.isString() || model.isUndefined())
        || !(advertise.isString() || advertise.isUndefined())) {
        *error = QStringLiteral("up, model or advertise is of the wrong kind");
        return false;
    }
    read.up = up.toBool();
    read.model = model.toString();
    read.advertise = advertise.toString();
    if (read.up && !readReadings(message, &read)) {
        *error = QStringLiteral("a reading or setting is of the wrong kind");
        return false;
    }
    if (!readAlarms(message, &read)) {
        *error = QStringLiteral("the alarms or the lease are of the wrong kind");
        return false;
    }
    for (const QString &text :
         QStringList{read.model, read.advertise, read.leaseHolder} + read.alarmNames) {
        if (text.size() > MaxTextLength) {
            *error = QStringLiteral("a text longer than %1 characters").arg(MaxTextLength);
            return false;
        }
    }
    *state = read;
    return true;
}
