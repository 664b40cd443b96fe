#pragma once

#include "mqttclientoptions.h"
#include "mqttconnection.h"

#include <QString>
#include <QStringList>

// korvane-fleet's command line: which broker, logged in and verified as the agents' are, and
// the prefix the agents publish under.
struct FleetOptions
{
    static constexpr quint16 DefaultMqttPort = 1883;

    QString mqttHost = QStringLiteral("127.0.0.1");
    quint16 mqttPort = DefaultMqttPort;
    QString prefix = QStringLiteral("korvane");
    MqttClientOptions mqtt;
    QString panelProgram = QStringLiteral("korvane-panel");

    // Reads the arguments (program name first). On --help or --version prints and sets
    // `exitStatus` 0; on a mistake prints it and sets 2. Returns true when the program
    // should run.
    bool parse(const QStringList &arguments, int *exitStatus);
    MqttConnection::Settings brokerSettings() const;
};
