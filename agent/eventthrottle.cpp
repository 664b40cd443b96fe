#include "eventthrottle.h"

#include "journal.h"

EventThrottle::EventThrottle(Journal *journal, QObject *parent)
    : QObject(parent)
    , m_journal(journal)
{
    m_flushTimer.setInterval(IntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &EventThrottle::flush);
    m_journal->addCountHolder(this, [this] { writeCounts(); });
}

EventThrottle::~EventThrottle()
{
    // The counts of the last second are not lost on a clean exit.
    writeCounts();
}

void EventThrottle::writeCounts()
{
    for (Entry &entry : m_entries) {
        if (entry.repeated > 0)
            write(entry);
    }
}

void EventThrottle::record(const QString &source, Event event, const QJsonObject &details)
{
    record(source, event, details, Pace());
}

void EventThrottle::record(const QString &source,
                           Event event,
                           const QJsonObject &details,
                           const Pace &pace)
{
    QString key = Events::name(event) + QLatin1Char(' ') + source;
    if (!m_entries.contains(key) && m_entries.size() >= MaxSources)
        key = Events::name(event) + QLatin1String(" *");
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        QJsonObject first = details;
        if (!pace.countKey.isEmpty())
            first.insert(pace.countKey, 1);
        m_journal->record(event, first);
        Entry entry{event, pace, {}, 0, {}};
        entry.since.start();
        m_entries.insert(key, entry);
        if (!m_flushTimer.isActive())
            m_flushTimer.start();
        return;
    }
    it->repeated += 1;
    it->last = details;
    if (it->since.hasExpired(it->pace.intervalMs))
        write(*it);
}

void EventThrottle::write(Entry &entry)
{
    QJsonObject details = entry.last;
    details.insert(entry.pace.countKey.isEmpty() ? QStringLiteral("repeated") : entry.pace.countKey,
                   entry.repeated);
    m_journal->record(entry.event, details);
    entry.repeated = 0;
    entry.since.start();
}

void EventThrottle::flush()
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->since.hasExpired(it->pace.intervalMs)) {
            ++it;
        } else if (it->repeated > 0) {
            write(*it);
            ++it;
        } else {
            // Quiet for its interval: the next one is news again.
            it = m_entries.erase(it);
        }
    }
    if (m_entries.isEmpty())
        m_flushTimer.stop();
}
