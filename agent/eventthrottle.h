#pragma once

#include "event.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

class Journal;

// Keeps a flood of one event from one source to a row a second (or another pace): the first
// goes into the journal at once, the ones after it within the interval are counted, and the
// count follows as "repeated" with the details of the last of them.
class EventThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 1000;

    struct Pace
    {
        int intervalMs = IntervalMs;
        // If set, every row carries its count under this name, the first row's 1 included,
        // instead of "repeated" in the rows after the first.
        QString countKey;
    };
    // Sources beyond this many within an interval share one count, so that an attacker
    // changing addresses cannot grow the table.
    static constexpr int MaxSources = 1024;

    explicit EventThrottle(Journal *journal, QObject *parent = nullptr);
    ~EventThrottle() override;

    // At a row a second.
    void record(const QString &source, Event event, const QJsonObject &details);
    void record(const QString &source, Event event, const QJsonObject &details, const Pace &pace);

    // Writes the counts not yet written, at once.
    void writeCounts();

private:
    struct Entry
    {
        Event event;
        Pace pace;
        QElapsedTimer since; // the last row written
        int repeated = 0;
        QJsonObject last;
    };

    void flush();
    void write(Entry &entry);

    Journal *m_journal = nullptr;
    QHash<QString, Entry> m_entries;
    QTimer m_flushTimer;
};
