#include "setting.h"

#include "commands.h"
#include "ranges.h"

#include <cmath>

namespace {

bool takesChannel(const Reply::SettingInfo &setting)
{
    return Reply::channelOf(setting.field) >= 0;
}

// The first setting `set` knows by this name; a gain stands for all three.
const Reply::SettingInfo *settingNamed(const QString &name)
{
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        if (name.compare(QLatin1String(setting.setName), Qt::CaseInsensitive) == 0)
            return &setting;
    }
    return nullptr;
}

const Reply::SettingInfo *settingOfChannel(const char *setName, int channel)
{
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        if (qstrcmp(setting.setName, setName) == 0 && Reply::channelOf(setting.field) == channel)
            return &setting;
    }
    return nullptr;
}

} // namespace

QStringList Setting::names()
{
    QStringList result;
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        const QString name = QLatin1String(setting.setName);
        if (!result.contains(name))
            result.append(name);
    }
    return result;
}

bool Setting::parse(const QStringList &words, Setting *setting, QString *error)
{
    const Reply::SettingInfo *named = words.isEmpty() ? nullptr : settingNamed(words.first());
    if (!named) {
        *error = QStringLiteral("set what? One of: %1").arg(names().join(QStringLiteral(", ")));
        return false;
    }
    const bool hasChannel = takesChannel(*named);
    if (words.size() != (hasChannel ? 3 : 2)) {
        *error = hasChannel
                     ? QStringLiteral("set %1 takes a channel and a value").arg(named->setName)
                     : QStringLiteral("set %1 takes one value").arg(named->setName);
        return false;
    }
    Setting result;
    result.m_info = named;
    if (hasChannel) {
        int channel = 0;
        if (!Range::channel(words.at(1), &channel, error))
            return false;
        result.m_info = settingOfChannel(named->setName, channel);
    }
    if (!Range::value(*result.m_info, words.last(), &result.m_value, error))
        return false;
    *setting = result;
    return true;
}

QString Setting::commandText() const
{
    return m_info ? Command::setSetting(m_info->field, m_value) : QString();
}

QString Setting::label() const
{
    return m_info ? QString::fromUtf8(m_info->label) : QString();
}

QString Setting::reportedText(const Reply::Status &status) const
{
    return m_info ? format(status.value(m_info->field)) : QString();
}

QString Setting::wantedText() const
{
    return format(m_value);
}

bool Setting::isShownIn(const Reply::Status &status) const
{
    if (!m_info || !status.has(m_info->field))
        return false;
    // Gains travel in half-dB steps and power limits in tenths: compare what went out.
    const double step = m_info->range.step;
    return std::lround(status.value(m_info->field) / step) == std::lround(m_value / step);
}

QString Setting::format(double value) const
{
    if (!m_info)
        return QString();
    if (m_info->field == Reply::StatusField::Rf)
        return value != 0 ? QStringLiteral("on") : QStringLiteral("off");
    return QStringLiteral("%1 %2").arg(QString::number(value, 'f', m_info->decimals),
                                       QString::fromUtf8(m_info->unit));
}
