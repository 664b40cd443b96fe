#pragma once

#include <QString>

#include <optional>

// The panel's own options. Everything else on the command line is the toolkit's.
struct PanelOptions
{
    // Where the Ethernet link opens at start; empty for nowhere. The saved address is left
    // alone, so that a panel opened for one amplifier does not change the operator's own.
    QString connectHost;
    quint16 connectPort = 0;
    // --agent: the far end of --connect is korvane-agent, whose own frames the panel may
    // then ask for. Nothing else is told so.
    bool agent = false;
};

// Answers --help and --version before the window exists, so that both work without a
// display (help2man runs them at build time), and reads --connect and --agent. Returns the exit
// status when the program is to end now: 0 after --help or --version, 2 after a bad option.
std::optional<int> readCommandLine(int argc, char *argv[], PanelOptions *options);
