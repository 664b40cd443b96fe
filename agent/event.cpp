#include "event.h"

namespace Events {

const EventInfo &info(Event event)
{
    return Table[int(event)];
}

QString name(Event event)
{
    return QLatin1String(info(event).name);
}

QString levelName(Level level)
{
    switch (level) {
    case Level::Error:
        return QStringLiteral("error");
    case Level::Warning:
        return QStringLiteral("warning");
    case Level::Info:
        break;
    }
    return QStringLiteral("info");
}

QString levelName(Event event)
{
    return levelName(info(event).level);
}

bool fromName(const QString &name, Event *event)
{
    for (const EventInfo &entry : Table) {
        if (name == QLatin1String(entry.name)) {
            *event = entry.event;
            return true;
        }
    }
    return false;
}

} // namespace Events
