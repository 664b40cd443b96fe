#pragma once

#include "simprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// The simulator and a korvane-agent in front of it, both real processes on free loopback
// ports, for the agent's tests.
namespace AgentPair {

// Starts the simulator into `sim` and the agent at `agentPath` into `agent`, the agent with
// --host and --port of the simulator, --listen 127.0.0.1:0 and `agentArguments`, and waits
// until its journal says `awaited`.
bool start(std::unique_ptr<SimProcess> *sim,
           std::unique_ptr<SimProcess> *agent,
           const QString &agentPath,
           const QStringList &agentArguments,
           const QString &awaited = QStringLiteral("model_identified"),
           int timeoutMs = 10000);
// Asks `line` of the agent on `port` as a client and returns the reply frame; empty if none
// came within 5 s.
QByteArray ask(quint16 port, const QByteArray &line);
// Where the agent serves its metrics, as its journal says; 0 if it does not.
quint16 metricsPort(SimProcess *agent);

} // namespace AgentPair
