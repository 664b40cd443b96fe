#pragma once

#include "alarmengine.h"
#include "wallclock.h"

#include <QObject>
#include <QString>
#include <QTimer>

class DeviceSession;
class Journal;

// Runs the alarms on what the device session sees, journals what they do and what people
// do about them, and keeps acknowledgements and shelves in a state file across restarts.
class AlarmWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultMaxShelveS = 8 * 3600;

    AlarmWatch(const AlarmConfig &config,
               DeviceSession *device,
               Journal *journal,
               QObject *parent = nullptr);

    void setClock(const WallClock &clock) { m_clock = clock; }
    void setMaxShelve(int seconds) { m_maxShelveS = seconds; }
    int maxShelve() const { return m_maxShelveS; }
    // Reads what an earlier run kept in `path`, and keeps it there from now on. A file that
    // is there but unreadable is an error, not a fresh start: it holds what people did.
    bool useStateFile(const QString &path, QString *error);
    // The state file that goes beside a journal at `eventsPath`.
    static QString statePathFor(const QString &eventsPath);

    const AlarmEngine &engine() const { return m_engine; }
    AlarmEngine::Result acknowledge(const QString &name, const QString &who, const QString &comment);
    // `seconds` 0: until the alarm next clears.
    AlarmEngine::Result shelve(const QString &name,
                               const QString &who,
                               const QString &reason,
                               int seconds);
    AlarmEngine::Result unshelve(const QString &name, const QString &who);
    // Ends the shelves whose time has come; the watch does it every second by itself.
    void tick();

signals:
    void changed();

private:
    void apply(const AlarmEngine::Changes &changes);
    void save();
    qint64 now() const { return m_clock(); }

    AlarmEngine m_engine;
    Journal *m_journal = nullptr;
    WallClock m_clock;
    QString m_statePath;
    QTimer m_tick;
    int m_maxShelveS = DefaultMaxShelveS;
};
