#pragma once

#include "mqttclientoptions.h"
#include "mqttconnection.h"
#include "tlsfiles.h"

#include <QString>
#include <QStringList>

// korvane-fleet's command line: which broker, logged in and verified as the agents' are, the
// prefix the agents publish under, and TLS towards the agents with the operator's certificate
// as korvane-ctl speaks it.
struct FleetOptions
{
    static constexpr quint16 DefaultMqttPort = 1883;

    QString mqttHost = QStringLiteral("127.0.0.1");
    quint16 mqttPort = DefaultMqttPort;
    QString prefix = QStringLiteral("korvane");
    MqttClientOptions mqtt;
    // --tls and its files: "Acknowledge" and "Shelve" reach the agents over TLS.
    bool agentTls = false;
    TlsFiles agentTlsFiles;
    QString panelProgram = QStringLiteral("korvane-panel");

    // Reads the arguments (program name first). On --help or --version prints and sets
    // `exitStatus` 0; on a mistake prints it and sets 2. Returns true when the program
    // should run.
    bool parse(const QStringList &arguments, int *exitStatus);
    MqttConnection::Settings brokerSettings() const;
    // Reads the files the options name, the broker's and the agents'; false with `error`
    // naming the one that will not do.
    bool loadFiles(QString *error);
};
