#include "fleetoptions.h"

#include "commandlinestart.h"
#include "hostport.h"
#include "tlsclientoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

bool readArguments(const QStringList &arguments, FleetOptions *options, bool *done, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows every Korvane Amplifier of the lab in one window, from what "
                       "their agents publish\nto the lab's MQTT broker. It only reads the "
                       "broker: it publishes nothing."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Read the MQTT broker at <host:port> (default "
                                                 "127.0.0.1:1883; port 8883 with TLS)."),
                                  QStringLiteral("host:port"));
    const QCommandLineOption prefix(QStringLiteral("mqtt-prefix"),
                                    QStringLiteral("The agents publish under <topic>/NAME "
                                                   "(default korvane)."),
                                    QStringLiteral("topic"));
    const QCommandLineOption panel(QStringLiteral("panel"),
                                   QStringLiteral("\"Open panel\" starts <program> (default "
                                                  "korvane-panel)."),
                                   QStringLiteral("program"));
    parser.addOptions({mqtt, prefix});
    parser.addOptions(MqttClientOptions::options());
    // korvane-ctl's options, said of the agents that "Acknowledge" and "Shelve" go to.
    QList<QCommandLineOption> agentTls = TlsClientOptions::options();
    agentTls.first().setDescription(
        QStringLiteral("Send \"Acknowledge\" and \"Shelve\" to the agents over TLS, "
                       "verifying their certificates and names."));
    parser.addOptions(agentTls);
    parser.addOption(panel);
    // The toolkit's own options are its to read, as it does once the window is made: taken
    // here without a word, with a single dash as the toolkit writes them.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char *name : {"platform",
                             "display",
                             "style",
                             "stylesheet",
                             "platformtheme",
                             "qwindowgeometry",
                             "qwindowtitle",
                             "qwindowicon",
                             "session"}) {
        QCommandLineOption toolkit(QLatin1String(name), QString(), QStringLiteral("value"));
        toolkit.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(toolkit);
    }
    for (const char *name : {"reverse", "nograb", "dograb", "sync"}) {
        QCommandLineOption toolkit{QLatin1String(name)};
        toolkit.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(toolkit);
    }

    if (!CommandLineStart::parse(&parser, arguments, help, version, done, error))
        return false;
    for (const QCommandLineOption *option : {&mqtt, &prefix, &panel}) {
        if (parser.values(*option).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(option->names().first());
            return false;
        }
    }
    // The login and TLS options go with a broker, which always is one here.
    if (!options->mqtt.read(parser, true, error))
        return false;
    // The TLS options go with the agents' client ports, which always are TCP ones.
    if (!TlsClientOptions::read(parser,
                                QString(),
                                true,
                                &options->agentTls,
                                &options->agentTlsFiles,
                                error))
        return false;
    quint16 port = 0;
    if (parser.isSet(mqtt) && !HostPort::parse(parser.value(mqtt), &options->mqttHost, &port)) {
        *error = QStringLiteral("--mqtt takes HOST:PORT, such as 127.0.0.1:1883");
        return false;
    }
    options->mqttPort = port ? port : options->mqtt.defaultPort(FleetOptions::DefaultMqttPort);
    if (parser.isSet(prefix)) {
        options->prefix = parser.value(prefix);
        if (options->prefix.isEmpty() || options->prefix.contains(QLatin1Char('+'))
            || options->prefix.contains(QLatin1Char('#'))
            || options->prefix.endsWith(QLatin1Char('/')) || options->prefix.contains(QChar(0))) {
            *error = QStringLiteral("--mqtt-prefix takes a topic without '+', '#' or a "
                                    "trailing '/'");
            return false;
        }
    }
    if (parser.isSet(panel)) {
        options->panelProgram = parser.value(panel);
        if (options->panelProgram.isEmpty()) {
            *error = QStringLiteral("--panel is empty");
            return false;
        }
    }
    return true;
}

} // namespace

bool FleetOptions::parse(const QStringList &arguments, int *exitStatus)
{
    bool done = false;
    QString error;
    if (readArguments(arguments, this, &done, &error)) {
        *exitStatus = 0;
        return true;
    }
    *exitStatus = done ? 0 : 2;
    if (!done)
        QTextStream(stderr) << "korvane-fleet: " << error
                            << "\nTry 'korvane-fleet --help' for more information.\n";
    return false;
}

MqttConnection::Settings FleetOptions::brokerSettings() const
{
    MqttConnection::Settings settings;
    settings.host = mqttHost;
    settings.port = mqttPort;
    mqtt.applyTo(&settings);
    return settings;
}

bool FleetOptions::loadFiles(QString *error)
{
    return mqtt.loadFiles(error)
           && (!agentTls || (TlsFiles::available(error) && agentTlsFiles.load(error)));
}
