#include "alarmconfig.h"

#include "smallfile.h"

#include <yaml-cpp/yaml.h>

#include <cmath>

namespace {

using Kind = AlarmDefinition::Kind;

AlarmDefinition reading(const char *name, Kind kind, Reply::MeasField field)
{
    AlarmDefinition alarm;
    alarm.name = QLatin1String(name);
    alarm.kind = kind;
    alarm.field = field;
    alarm.hysteresis = kind == Kind::Power ? 0.1 : 1.0;
    return alarm;
}

AlarmDefinition whole(const char *name, Kind kind)
{
    AlarmDefinition alarm;
    alarm.name = QLatin1String(name);
    alarm.kind = kind;
    alarm.hysteresis = 0;
    alarm.minorDelayMs = 0;
    // A link that comes and goes is seen while it is away; it needs no latch to be noticed.
    alarm.latchMajor = kind == Kind::Fault;
    return alarm;
}

QString lineOf(const YAML::Node &node)
{
    const YAML::Mark mark = node.Mark();
    return mark.is_null() ? QStringLiteral("?") : QString::number(mark.line + 1);
}

// Reads one alarm's keys; a key it does not know is refused rather than ignored, so that
// nobody believes a level holds that does not.
class Reader
{
public:
    explicit Reader(QString *error)
        : m_error(error)
    {}

    bool read(const YAML::Node &node, AlarmDefinition *alarm)
    {
        if (!node.IsMap())
            return fail(node, QStringLiteral("%1: expected a mapping of keys").arg(alarm->name));
        for (const auto &entry : node) {
            const QString key = QString::fromStdString(entry.first.as<std::string>());
            const YAML::Node &value = entry.second;
            bool ok = true;
            if (key == QLatin1String("enabled"))
                ok = boolean(value, &alarm->enabled);
            else if (key == QLatin1String("hysteresis") && alarm->kind != Kind::Fault
                     && alarm->kind != Kind::Link)
                ok = number(value, 0, 100, &alarm->hysteresis);
            else if (key == QLatin1String("margin") && alarm->kind == Kind::Temperature)
                ok = value.IsScalar() && value.as<std::string>() == "false"
                         ? (alarm->marginC = -1, true)
                         : number(value, 0, 255, &alarm->marginC);
            else if (key == QLatin1String("minor") && alarm->kind == Kind::Power)
                ok = number(value, 0, 50, &alarm->minorW);
            else if (key == QLatin1String("major") && alarm->kind == Kind::Power)
                ok = number(value, 0, 50, &alarm->majorW);
            else if (key == QLatin1String("minor_delay") && alarm->kind != Kind::Fault
                     && alarm->kind != Kind::Link)
                ok = seconds(value, &alarm->minorDelayMs);
            else if (key == QLatin1String("major_delay") && alarm->kind != Kind::Link)
                ok = seconds(value, &alarm->majorDelayMs);
            else if (key == QLatin1String("latch"))
                ok = latch(value, alarm);
            else
                return fail(entry.first,
                            QStringLiteral("%1: unknown key \"%2\"").arg(alarm->name, key));
            if (!ok)
                return fail(value, QStringLiteral("%1: %2 %3").arg(alarm->name, key, m_why));
        }
        if (alarm->minorW >= 0 && alarm->majorW >= 0 && alarm->minorW >= alarm->majorW)
            return fail(node, QStringLiteral("%1: minor must be below major").arg(alarm->name));
        return true;
    }

    bool fail(const YAML::Node &node, const QString &why)
    {
        *m_error = QStringLiteral("line %1: %2").arg(lineOf(node), why);
        return false;
    }

private:
    bool boolean(const YAML::Node &value, bool *out)
    {
        m_why = QStringLiteral("must be true or false");
        if (!value.IsScalar())
            return false;
        const std::string text = value.as<std::string>();
        if (text != "true" && text != "false")
            return false;
        *out = text == "true";
        return true;
    }

    bool number(const YAML::Node &value, double low, double high, double *out)
    {
        m_why = QStringLiteral("must be a number from %1 to %2").arg(low).arg(high);
        if (!value.IsScalar())
            return false;
        bool ok = false;
        const double number = QString::fromStdString(value.as<std::string>()).toDouble(&ok);
        if (!ok || !std::isfinite(number) || number < low || number > high)
            return false;
        *out = number;
        return true;
    }

    bool seconds(const YAML::Node &value, int *ms)
    {
        double s = 0;
        if (!number(value, 0, AlarmConfig::MaxDelayMs / 1000, &s)) {
            m_why = QStringLiteral("must be seconds from 0 to %1")
                        .arg(AlarmConfig::MaxDelayMs / 1000);
            return false;
        }
        *ms = int(std::lround(s * 1000));
        return true;
    }

    bool latch(const YAML::Node &value, AlarmDefinition *alarm)
    {
        m_why = QStringLiteral("must be a list of MINOR and MAJOR");
        if (!value.IsSequence())
            return false;
        bool minor = false;
        bool major = false;
        for (const auto &item : value) {
            const QString name = item.IsScalar() ? QString::fromStdString(item.as<std::string>())
                                                 : QString();
            if (name == QLatin1String("MINOR"))
                minor = true;
            else if (name == QLatin1String("MAJOR"))
                major = true;
            else
                return false;
        }
        alarm->latchMinor = minor;
        alarm->latchMajor = major;
        return true;
    }

    QString *m_error;
    QString m_why;
};

} // namespace

AlarmConfig::AlarmConfig()
{
    using Field = Reply::MeasField;
    m_alarms = {reading("cell1_temperature", Kind::Temperature, Field::Cell1Temp),
                reading("cell2_temperature", Kind::Temperature, Field::Cell2Temp),
                reading("driver_temperature", Kind::Temperature, Field::DriverTemp),
                reading("power_a", Kind::Power, Field::PowerA),
                reading("power_b", Kind::Power, Field::PowerB),
                reading("power_c", Kind::Power, Field::PowerC),
                whole("fault", Kind::Fault),
                whole("link", Kind::Link)};
}

const AlarmDefinition *AlarmConfig::find(const QString &name) const
{
    for (const AlarmDefinition &alarm : m_alarms) {
        if (alarm.name == name)
            return &alarm;
    }
    return nullptr;
}

bool AlarmConfig::load(const QString &path, QString *error)
{
    QByteArray contents;
    if (!SmallFile::read(path, &contents, error))
        return false;
    QString why;
    Reader reader(&why);
    try {
        const YAML::Node root = YAML::Load(contents.toStdString());
        bool ok = true;
        if (root.IsNull()) {
            ok = true;
        } else if (!root.IsMap()) {
            ok = reader.fail(root, QStringLiteral("expected a mapping with the key \"alarms\""));
        } else {
            for (const auto &entry : root) {
                const QString key = QString::fromStdString(entry.first.as<std::string>());
                if (key != QLatin1String("alarms")) {
                    ok = reader.fail(entry.first, QStringLiteral("unknown key \"%1\"").arg(key));
                    break;
                }
                if (!entry.second.IsMap() && !entry.second.IsNull()) {
                    ok = reader.fail(entry.second, QStringLiteral("alarms: expected a mapping"));
                    break;
                }
                for (const auto &alarm : entry.second) {
                    const QString name = QString::fromStdString(alarm.first.as<std::string>());
                    AlarmDefinition *definition = const_cast<AlarmDefinition *>(find(name));
                    if (!definition) {
                        ok = reader.fail(alarm.first,
                                         QStringLiteral("unknown alarm \"%1\"").arg(name));
                        break;
                    }
                    if (!(ok = reader.read(alarm.second, definition)))
                        break;
                }
            }
        }
        if (!ok) {
            *error = QStringLiteral("%1: %2").arg(path, why);
            return false;
        }
    } catch (const YAML::Exception &exception) {
        // Malformed YAML; yaml-cpp's message holds the line.
        *error = QStringLiteral("%1: %2").arg(path, QString::fromStdString(exception.what()));
        return false;
    }
    return true;
}

QString AlarmConfig::describe() const
{
    QString text;
    for (const AlarmDefinition &alarm : m_alarms) {
        text += QStringLiteral("alarm %1:").arg(alarm.name);
        if (!alarm.enabled) {
            text += QStringLiteral(" off\n");
            continue;
        }
        switch (alarm.kind) {
        case Kind::Temperature:
            if (alarm.marginC >= 0)
                text += QStringLiteral(" MINOR at limit - %1 C after %2 s,")
                            .arg(alarm.marginC)
                            .arg(alarm.minorDelayMs / 1000.0);
            text += QStringLiteral(" MAJOR at limit after %1 s, hysteresis %2 C")
                        .arg(alarm.majorDelayMs / 1000.0)
                        .arg(alarm.hysteresis);
            break;
        case Kind::Power:
            if (alarm.minorW >= 0)
                text += QStringLiteral(" MINOR at %1 W after %2 s,")
                            .arg(alarm.minorW)
                            .arg(alarm.minorDelayMs / 1000.0);
            if (alarm.majorW >= 0)
                text += QStringLiteral(" MAJOR at %1 W after %2 s,")
                            .arg(alarm.majorW)
                            .arg(alarm.majorDelayMs / 1000.0);
            if (alarm.minorW < 0 && alarm.majorW < 0)
                text += QStringLiteral(" no levels,");
            text += QStringLiteral(" hysteresis %1 W").arg(alarm.hysteresis);
            break;
        case Kind::Fault:
            text += QStringLiteral(" MAJOR while a fault is latched");
            break;
        case Kind::Link:
            text += QStringLiteral(" INVALID while the amplifier does not answer");
            break;
        }
        QStringList latch;
        if (alarm.latchMinor)
            latch << QStringLiteral("MINOR");
        if (alarm.latchMajor)
            latch << QStringLiteral("MAJOR");
        text += QStringLiteral(", latches %1\n")
                    .arg(latch.isEmpty() ? QStringLiteral("nothing") : latch.join(QLatin1Char('/')));
    }
    return text;
}
