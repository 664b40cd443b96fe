#pragma once

#include "accesspolicy.h"
#include "alarmconfig.h"
#include "amplifierlink.h"
#include "linkoptions.h"
#include "securityoptions.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The agent's command line: which amplifier, where to serve it, to whom, and the journal.
struct AgentOptions
{
    static constexpr quint16 DefaultListenPort = 2101;
    static constexpr int DefaultStatusIntervalMs = 1000;
    static constexpr quint16 DefaultMqttPort = 1883;
    static constexpr int DefaultMqttIntervalMs = 1000;
    static constexpr int DefaultMaxClients = 64;
    static constexpr int DefaultIdleTimeoutS = 300;

    AmplifierLink::Target device;
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 listenPort = DefaultListenPort;
    AccessPolicy access;
    QString eventsPath;
    int timeoutMs = LinkOptions::DefaultTimeoutMs;
    int maxClients = DefaultMaxClients;
    int idleTimeoutS = DefaultIdleTimeoutS;
    int statusIntervalMs = DefaultStatusIntervalMs;
    // Telemetry, off unless asked for: a null metrics address and an empty MQTT host.
    QHostAddress metricsAddress;
    quint16 metricsPort = 0;
    QString mqttHost;
    quint16 mqttPort = DefaultMqttPort;
    QString name;       // empty: the model, once identified
    QString mqttPrefix; // empty: korvane/NAME
    int mqttIntervalMs = DefaultMqttIntervalMs;
    // Where clients should reach the agent, said in the MQTT state; empty: the listen address
    // where that is one a client can use.
    QString advertiseHost;
    quint16 advertisePort = 0;
    SecurityOptions security;
    AlarmConfig alarms;
    QString alarmsPath; // empty: the built-in levels
    int maxShelveS = 8 * 3600;
    QStringList adminNames; // certificate names that may break a lease
    bool checkOnly = false;

    // Reads the arguments (program name first). On --help or --version prints and sets
    // `exitStatus` 0; on a mistake prints it and sets 2. Returns true when the agent should
    // run (or, with --check, report the options).
    bool parse(const QStringList &arguments, int *exitStatus);
    // The options as read, one per line, for --check.
    QString describe() const;
    // The topic prefix for an amplifier of `model`.
    QString topicPrefix(const QString &model) const;
    // "ADDRESS:PORT" for clients, given the address and port the agent is bound to; empty when
    // it listens on every address and none was given to advertise.
    QString advertise(const QHostAddress &bound, quint16 boundPort) const;
};
