#pragma once

#include "amplifierlink.h"
#include "linkoptions.h"
#include "serialports.h"
#include "setting.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Everything one run of korvane-ctl is asked to do, every value already checked.
struct Invocation
{
    enum Command {
        Identify,
        Status,
        Meas,
        Set,
        Calibrate,
        Reset,
        Scan,
        // korvane-agent's own commands, kept last: isAgentCommand() goes by the order
        Alarms,
        Ack,
        Shelve,
        Unshelve,
        LeaseTake,
        LeaseRenew,
        LeaseRelease,
        LeaseShow,
        LeaseBreak,
    };

    static constexpr int DefaultIntervalMs = 100;

    Command command = Identify;
    AmplifierLink::Target target;
    int timeoutMs = LinkOptions::DefaultTimeoutMs;
    bool json = false;

    // set, calibrate, reset: the line to send, and whether Status is read back after it.
    QString line;
    Setting setting;
    bool confirm = true;

    // meas
    bool watch = false;
    int intervalMs = DefaultIntervalMs;
    int count = 0; // 0: until interrupted
    QString csvPath;

    // scan: replaces the system's port list when not empty
    QList<Platform::SerialPortEntry> probePorts;

    // The agent's commands: the line to send, without its line end.
    QByteArray agentLine;
    // --lease: presented to the agent before the command's own lines.
    QString leaseToken;

    bool isAgentCommand() const { return command >= Alarms; }
    // Only then does the far end get a line of the agent's own, "@hello" first.
    bool talksToAgent() const { return isAgentCommand() || !leaseToken.isEmpty(); }
};
