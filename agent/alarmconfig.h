#pragma once

#include "extension.h"
#include "fields.h"

#include <QString>
#include <QVector>

// The alarms the agent evaluates and their levels: defaults that work with no file, changed
// by a YAML file of the lab's own.
struct AlarmDefinition
{
    enum class Kind { Temperature, Power, Fault, Link };

    QString name;
    Kind kind = Kind::Link;
    Reply::MeasField field = Reply::MeasField::StatusChar; // of Temperature and Power
    bool enabled = true;
    // Temperature: MINOR at the amplifier's own limit less this, MAJOR at the limit; a
    // negative margin turns MINOR off.
    double marginC = 5;
    // Power: absolute levels in watts, off while negative.
    double minorW = -1;
    double majorW = -1;
    // Left only below the level less this much.
    double hysteresis = 1;
    // How long a level must hold before the alarm is raised.
    int minorDelayMs = 5000;
    int majorDelayMs = 0;
    // Severities that stay until acknowledged and back to normal.
    bool latchMinor = false;
    bool latchMajor = true;

    bool latches(Alarm::Severity severity) const
    {
        return (severity == Alarm::Severity::Minor && latchMinor)
               || (severity == Alarm::Severity::Major && latchMajor);
    }
    // Shelving hides an alarm someone knows about; a latched fault must always be seen.
    bool shelvable() const { return kind != Kind::Fault; }
};

class AlarmConfig
{
public:
    static constexpr int MaxDelayMs = 3600 * 1000;

    // The defaults: every alarm of the amplifier, the power ones off until given levels.
    AlarmConfig();

    // Reads `path` over the defaults; false with `error` naming the file, line and reason.
    bool load(const QString &path, QString *error);
    const QVector<AlarmDefinition> &alarms() const { return m_alarms; }
    const AlarmDefinition *find(const QString &name) const;
    // One line per alarm, for --check.
    QString describe() const;

private:
    QVector<AlarmDefinition> m_alarms;
};
