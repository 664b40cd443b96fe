#pragma once

#include <QDeadlineTimer>
#include <QSignalSpy>

// Waits, through the event loop, until `done()` holds, re-checking each time `sender`
// emits `signal`; false if it still does not hold after `timeoutMs`.
template<typename Sender, typename Signal, typename Condition>
bool waitUntil(Sender *sender, Signal signal, Condition done, int timeoutMs)
{
    QSignalSpy spy(sender, signal);
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired() || !spy.wait(int(qMax<qint64>(1, deadline.remainingTime()))))
            return done();
    }
    return true;
}
