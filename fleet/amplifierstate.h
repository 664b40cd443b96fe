#pragma once

#include "extension.h"

#include <QString>
#include <QStringList>

// One amplifier's state message as its agent publishes it (PREFIX/NAME/state), read in full
// or not at all: a message with a key of the wrong kind, a time that is no time or a
// severity that is none tells nothing that can be shown.
struct AmplifierState
{
    // Read from a state without "interval_ms": the agent's own default, so that one that
    // publishes less often turns stale early rather than late.
    static constexpr int DefaultIntervalMs = 1000;
    static constexpr int MinIntervalMs = 100;
    static constexpr int MaxIntervalMs = 3600000;
    // What one tile keeps: texts of at most this many characters, this many alarms.
    static constexpr int MaxTextLength = 256;
    static constexpr int MaxAlarms = 64;

    struct Value
    {
        bool known = false;
        double value = 0;
    };

    qint64 madeMs = 0; // "time", since the epoch
    int intervalMs = DefaultIntervalMs;
    QString model;
    bool up = false; // the amplifier answers its agent
    QString advertise;
    // Only while the amplifier answers: without them nothing is known.
    bool faultKnown = false;
    bool fault = false;
    bool rfKnown = false;
    bool rf = false;
    Value power[3];     // A, B, C in W
    Value temp[3];      // cell 1, cell 2, driver in °C
    Value tempLimit[3]; // the limit each is held against
    Alarm::Severity worst = Alarm::Severity::None;
    bool alarmsKnown = false;
    int unacknowledged = 0;
    QStringList alarmNames; // those the state lists: not normal, or not acknowledged
    QString leaseHolder;    // empty: nobody holds the lease

    // False, with `error`, when `payload` is no state message this can read in full.
    static bool parse(const QByteArray &payload, AmplifierState *state, QString *error);
};
