#include "setting.h"

#include "commands.h"
#include "ranges.h"

#include <cmath>

namespace {

struct Entry
{
    const char *name;
    Setting::Field field;
    bool hasChannel;
    Reply::StatusField statusField; // where the Status frame carries it; gains add their channel
};

const Entry Entries[] = {
    {"gain", Setting::Gain, true, Reply::StatusField::GainA},
    {"rf", Setting::Rf, false, Reply::StatusField::Rf},
    {"linearity", Setting::Linearity, false, Reply::StatusField::Linearity},
    {"max-power", Setting::MaxPower, false, Reply::StatusField::MaxPower},
    {"max-cell-temp", Setting::MaxCellTemp, false, Reply::StatusField::MaxCellTemp},
    {"max-driver-temp", Setting::MaxDriverTemp, false, Reply::StatusField::MaxDriverTemp},
};

const Entry *entryFor(Setting::Field field)
{
    for (const Entry &entry : Entries) {
        if (entry.field == field)
            return &entry;
    }
    return nullptr;
}

const Entry *entryNamed(const QString &name)
{
    for (const Entry &entry : Entries) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

bool readValue(Setting::Field field, const QString &text, double *value, QString *error)
{
    bool on = false;
    unsigned whole = 0;
    bool ok = false;
    switch (field) {
    case Setting::Gain:
        return Range::gain(text, value, error);
    case Setting::Rf:
        ok = Range::rf(text, &on, error);
        *value = on ? 1 : 0;
        return ok;
    case Setting::Linearity:
        ok = Range::linearity(text, &whole, error);
        break;
    case Setting::MaxPower:
        return Range::powerLimit(text, value, error);
    case Setting::MaxCellTemp:
        ok = Range::temperatureLimit(QStringLiteral("max cell temp"), text, &whole, error);
        break;
    case Setting::MaxDriverTemp:
        ok = Range::temperatureLimit(QStringLiteral("max driver temp"), text, &whole, error);
        break;
    case Setting::None:
        break;
    }
    *value = whole;
    return ok;
}

} // namespace

QStringList Setting::names()
{
    QStringList result;
    for (const Entry &entry : Entries)
        result.append(QLatin1String(entry.name));
    return result;
}

bool Setting::parse(const QStringList &words, Setting *setting, QString *error)
{
    const Entry *entry = words.isEmpty() ? nullptr : entryNamed(words.first());
    if (!entry) {
        *error = QStringLiteral("set what? One of: %1").arg(names().join(QStringLiteral(", ")));
        return false;
    }
    const int wanted = entry->hasChannel ? 3 : 2;
    if (words.size() != wanted) {
        *error = entry->hasChannel
                     ? QStringLiteral("set %1 takes a channel and a value").arg(entry->name)
                     : QStringLiteral("set %1 takes one value").arg(entry->name);
        return false;
    }
    Setting result;
    result.m_field = entry->field;
    if (entry->hasChannel && !Range::channel(words.at(1), &result.m_channel, error))
        return false;
    if (!readValue(entry->field, words.last(), &result.m_value, error))
        return false;
    *setting = result;
    return true;
}

QString Setting::commandText() const
{
    switch (m_field) {
    case Gain:
        return Command::setGain(m_channel, m_value);
    case Rf:
        return Command::setRf(m_value != 0);
    case Linearity:
        return Command::setLinearity(unsigned(m_value));
    case MaxPower:
        return Command::setMaxPower(m_value);
    case MaxCellTemp:
        return Command::setMaxCellTemp(unsigned(m_value));
    case MaxDriverTemp:
        return Command::setMaxDrvTemp(unsigned(m_value));
    case None:
        break;
    }
    return QString();
}

QString Setting::label() const
{
    const Entry *entry = entryFor(m_field);
    if (!entry)
        return QString();
    QString text = QString::fromLatin1(entry->name).replace(QLatin1Char('-'), QLatin1Char(' '));
    if (entry->hasChannel)
        text += QLatin1Char(' ') + QChar('A' + m_channel);
    return text;
}

QString Setting::reportedText(const Reply::Status &status) const
{
    return format(valueIn(status));
}

QString Setting::wantedText() const
{
    return format(m_value);
}

bool Setting::isShownIn(const Reply::Status &status) const
{
    if (status.fieldCount <= statusField())
        return false;
    // Gains travel in half-dB steps and power limits in tenths: compare what went out.
    const double step = m_field == Gain       ? Range::GainStepDb
                        : m_field == MaxPower ? Range::PowerLimitStepW
                                              : 1.0;
    return std::lround(valueIn(status) / step) == std::lround(m_value / step);
}

double Setting::valueIn(const Reply::Status &status) const
{
    switch (m_field) {
    case Gain:
        return status.gainDb[m_channel];
    case Rf:
        return status.rfOn ? 1 : 0;
    case Linearity:
        return status.linearityPct;
    case MaxPower:
        return status.maxPowerW;
    case MaxCellTemp:
        return status.maxCellTempC;
    case MaxDriverTemp:
        return status.maxDrvTempC;
    case None:
        break;
    }
    return 0;
}

QString Setting::format(double value) const
{
    switch (m_field) {
    case Gain:
        return QStringLiteral("%1 dB").arg(value, 0, 'f', 1);
    case Rf:
        return value != 0 ? QStringLiteral("on") : QStringLiteral("off");
    case Linearity:
        return QStringLiteral("%1 %").arg(value);
    case MaxPower:
        return QStringLiteral("%1 W").arg(value, 0, 'f', 1);
    case MaxCellTemp:
    case MaxDriverTemp:
        return QStringLiteral("%1 \u00b0C").arg(value);
    case None:
        break;
    }
    return QString();
}

int Setting::statusField() const
{
    const Entry *entry = entryFor(m_field);
    if (!entry)
        return Reply::StatusFieldCount;
    return int(entry->statusField) + (entry->hasChannel ? m_channel : 0);
}
