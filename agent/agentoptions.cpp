#include "agentoptions.h"

#include "commandlinestart.h"
#include "hostport.h"
#include "linkoptions.h"
#include "optionnumber.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <initializer_list>

namespace {

// "ADDRESS:PORT", with an IPv6 address in brackets ("[::1]:2101").
bool parseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || !address->setAddress(host))
        return false;
    *port = quint16(number);
    return true;
}

// An MQTT topic level or prefix that takes no wildcards and leaves room for "/status".
bool validTopic(const QString &topic)
{
    return !topic.isEmpty() && !topic.contains(QLatin1Char('+'))
           && !topic.contains(QLatin1Char('#')) && !topic.endsWith(QLatin1Char('/'))
           && !topic.contains(QChar(0));
}

// Each of `options` given once at most.
bool onlyOnce(const QCommandLineParser &parser,
              std::initializer_list<const QCommandLineOption *> options,
              QString *error)
{
    for (const QCommandLineOption *option : options) {
        if (parser.values(*option).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(option->names().first());
            return false;
        }
    }
    return true;
}

// The options that say which amplifier and how it is asked: the link, shared with
// korvane-ctl, and the agent's own poll.
struct LinkGroup
{
    QCommandLineOption serial = LinkOptions::option(LinkOptions::Option::Serial,
                                                    QStringLiteral(
                                                        "The amplifier is on serial port <path>."));
    QCommandLineOption host = LinkOptions::option(LinkOptions::Option::Host,
                                                  QStringLiteral(
                                                      "The amplifier is at TCP <address>."));
    QCommandLineOption port = LinkOptions::option(LinkOptions::Option::Port,
                                                  QStringLiteral("The amplifier's TCP <port> "
                                                                 "(default 2101)."));
    QCommandLineOption timeout
        = LinkOptions::option(LinkOptions::Option::Timeout,
                              QStringLiteral(
                                  "Wait <ms> for each reply of the amplifier (default 1000)."));
    QCommandLineOption statusInterval{QStringLiteral("status-interval"),
                                      QStringLiteral("Read the amplifier's settings every <ms> "
                                                     "(default 1000)."),
                                      QStringLiteral("ms")};

    bool read(const QCommandLineParser &parser, AgentOptions *options, QString *error) const
    {
        if (parser.values(statusInterval).size() > 1) {
            *error = QStringLiteral("--status-interval given more than once");
            return false;
        }
        return LinkOptions::read(parser, &options->device, &options->timeoutMs, error)
               && OptionNumber::read(parser,
                                     statusInterval,
                                     100,
                                     3600000,
                                     &options->statusIntervalMs,
                                     error);
    }
};

// Where and to whom the agent serves, and its journal.
struct ServingGroup
{
    QCommandLineOption listen{QStringLiteral("listen"),
                              QStringLiteral("Serve clients on <address:port> (default "
                                             "127.0.0.1:2101)."),
                              QStringLiteral("address:port")};
    QCommandLineOption allow{QStringLiteral("allow"),
                             QStringLiteral("Serve clients from <cidr> as observers (repeatable)."),
                             QStringLiteral("cidr")};
    QCommandLineOption control{QStringLiteral("control"),
                               QStringLiteral("Serve clients from <cidr> as controllers "
                                              "(repeatable)."),
                               QStringLiteral("cidr")};
    QCommandLineOption events{QStringLiteral("events"),
                              QStringLiteral("Append the journal to <file>, a JSON object per "
                                             "line."),
                              QStringLiteral("file")};
    QCommandLineOption maxClients{QStringLiteral("max-clients"),
                                  QStringLiteral("Serve at most <n> clients at once (default "
                                                 "64); more are refused."),
                                  QStringLiteral("n")};
    QCommandLineOption idleTimeout{QStringLiteral("idle-timeout"),
                                   QStringLiteral("Close a client that sends nothing for <s> "
                                                  "seconds (default 300)."),
                                   QStringLiteral("s")};

    bool read(const QCommandLineParser &parser, AgentOptions *options, QString *error) const
    {
        if (!onlyOnce(parser, {&listen, &events, &maxClients, &idleTimeout}, error))
            return false;
        if (parser.isSet(listen)
            && !parseListen(parser.value(listen), &options->listenAddress, &options->listenPort)) {
            *error = QStringLiteral("--listen takes ADDRESS:PORT, such as 127.0.0.1:2101");
            return false;
        }
        for (const QString &range : parser.values(allow)) {
            if (!options->access.allow(range, error)) {
                *error = QStringLiteral("--allow: ") + *error;
                return false;
            }
        }
        for (const QString &range : parser.values(control)) {
            if (!options->access.control(range, error)) {
                *error = QStringLiteral("--control: ") + *error;
                return false;
            }
        }
        options->eventsPath = parser.value(events);
        if (parser.isSet(events) && options->eventsPath.isEmpty()) {
            *error = QStringLiteral("--events needs a file name");
            return false;
        }
        return OptionNumber::read(parser,
                                  QStringLiteral("max-clients"),
                                  1,
                                  100000,
                                  &options->maxClients,
                                  error)
               && OptionNumber::read(parser,
                                     QStringLiteral("idle-timeout"),
                                     1,
                                     86400,
                                     &options->idleTimeoutS,
                                     error);
    }
};

// Prometheus metrics and MQTT telemetry, read once the security options have said whether
// the broker is spoken to over TLS (its default port).
struct TelemetryGroup
{
    QCommandLineOption metrics{QStringLiteral("metrics"),
                               QStringLiteral("Serve Prometheus metrics at /metrics on "
                                              "<address:port> (default off)."),
                               QStringLiteral("address:port")};
    QCommandLineOption mqtt{QStringLiteral("mqtt"),
                            QStringLiteral("Publish telemetry to the MQTT broker at <host:port> "
                                           "(default off; port 1883, 8883 with TLS)."),
                            QStringLiteral("host:port")};
    QCommandLineOption name{QStringLiteral("name"),
                            QStringLiteral("The amplifier's <name> in MQTT topics (default its "
                                           "model)."),
                            QStringLiteral("name")};
    QCommandLineOption prefix{QStringLiteral("mqtt-prefix"),
                              QStringLiteral("Publish under <topic> (default korvane/NAME)."),
                              QStringLiteral("topic")};
    QCommandLineOption interval{QStringLiteral("mqtt-interval"),
                                QStringLiteral("Publish the state every <ms> (default 1000)."),
                                QStringLiteral("ms")};
    QCommandLineOption advertise{QStringLiteral("advertise"),
                                 QStringLiteral("Tell MQTT readers that clients reach the agent "
                                                "at <address:port> (default the --listen "
                                                "address, unless it is 0.0.0.0 or ::)."),
                                 QStringLiteral("address:port")};

    // The addresses, before the security options that depend on them.
    bool readAddresses(const QCommandLineParser &parser,
                       AgentOptions *options,
                       quint16 *brokerPort,
                       QString *error) const
    {
        if (!onlyOnce(parser, {&metrics, &mqtt, &name, &prefix, &interval, &advertise}, error))
            return false;
        if (parser.isSet(metrics)
            && !parseListen(parser.value(metrics), &options->metricsAddress, &options->metricsPort)) {
            *error = QStringLiteral("--metrics takes ADDRESS:PORT, such as 127.0.0.1:9725");
            return false;
        }
        if (parser.isSet(mqtt)
            && !HostPort::parse(parser.value(mqtt), &options->mqttHost, brokerPort)) {
            *error = QStringLiteral("--mqtt takes HOST:PORT, such as 127.0.0.1:1883");
            return false;
        }
        return true;
    }

    bool readTopics(const QCommandLineParser &parser, AgentOptions *options, QString *error) const
    {
        options->name = parser.value(name);
        if (parser.isSet(name)
            && (!validTopic(options->name) || options->name.contains(QLatin1Char('/')))) {
            *error = QStringLiteral("--name takes a name without '/', '+' or '#'");
            return false;
        }
        options->mqttPrefix = parser.value(prefix);
        if (parser.isSet(prefix) && !validTopic(options->mqttPrefix)) {
            *error = QStringLiteral("--mqtt-prefix takes a topic without '+', '#' or a "
                                    "trailing '/'");
            return false;
        }
        if (!OptionNumber::read(parser,
                                QStringLiteral("mqtt-interval"),
                                100,
                                3600000,
                                &options->mqttIntervalMs,
                                error))
            return false;
        if (options->mqttHost.isEmpty()
            && (parser.isSet(name) || parser.isSet(prefix) || parser.isSet(interval))) {
            *error = QStringLiteral("--name, --mqtt-prefix and --mqtt-interval go with --mqtt");
            return false;
        }
        if (!parser.isSet(advertise))
            return true;
        if (options->mqttHost.isEmpty()) {
            *error = QStringLiteral("--advertise goes with --mqtt");
            return false;
        }
        options->advertisePort = 0;
        if (!HostPort::parse(parser.value(advertise),
                             &options->advertiseHost,
                             &options->advertisePort)
            || options->advertisePort == 0) {
            *error = QStringLiteral("--advertise takes ADDRESS:PORT, such as 192.0.2.21:2101");
            return false;
        }
        return true;
    }
};

// The alarms, and who may break another's control lease.
struct AlarmGroup
{
    QCommandLineOption alarms{QStringLiteral("alarms"),
                              QStringLiteral("Read the alarms' levels from the YAML <file> "
                                             "(default: built in)."),
                              QStringLiteral("file")};
    QCommandLineOption maxShelve{QStringLiteral("max-shelve"),
                                 QStringLiteral("Shelve an alarm for at most <s> seconds "
                                                "(default 28800)."),
                                 QStringLiteral("s")};
    QCommandLineOption admin{QStringLiteral("admin"),
                             QStringLiteral("Clients from <cidr> may break a control lease "
                                            "(repeatable)."),
                             QStringLiteral("cidr")};
    QCommandLineOption adminCn{QStringLiteral("admin-cn"),
                               QStringLiteral("Clients whose certificate names <name> may break "
                                              "a control lease (repeatable)."),
                               QStringLiteral("name")};

    bool read(const QCommandLineParser &parser, AgentOptions *options, QString *error) const
    {
        if (!onlyOnce(parser, {&alarms, &maxShelve}, error))
            return false;
        options->alarmsPath = parser.value(alarms);
        if (parser.isSet(alarms) && !options->alarms.load(options->alarmsPath, error))
            return false;
        for (const QString &range : parser.values(admin)) {
            if (!options->access.admin(range, error)) {
                *error = QStringLiteral("--admin: ") + *error;
                return false;
            }
        }
        options->adminNames = parser.values(adminCn);
        if (!options->adminNames.isEmpty() && !options->security.verifiesClients()) {
            *error = QStringLiteral("--admin-cn goes with --tls-client-ca");
            return false;
        }
        if (options->adminNames.contains(QString())) {
            *error = QStringLiteral("--admin-cn is empty");
            return false;
        }
        return OptionNumber::read(parser,
                                  QStringLiteral("max-shelve"),
                                  60,
                                  7 * 86400,
                                  &options->maxShelveS,
                                  error);
    }
};

// Reads the whole command line; `error` empty and false after --help or --version.
bool readArguments(const QStringList &arguments, AgentOptions *options, bool *done, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shares one Korvane Amplifier with any number of clients: it owns the "
                       "link to the amplifier\nand serves the amplifier's own protocol on TCP, "
                       "so that the panel and korvane-ctl --host\nwork through it unchanged."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const LinkGroup link;
    const ServingGroup serving;
    const TelemetryGroup telemetry;
    const AlarmGroup alarmGroup;
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Only check the options and print them."));
    // In the order --help has always listed them.
    parser.addOptions({link.serial,
                       link.host,
                       link.port,
                       serving.listen,
                       serving.allow,
                       serving.control,
                       serving.events,
                       link.timeout,
                       serving.maxClients,
                       serving.idleTimeout,
                       link.statusInterval,
                       telemetry.metrics,
                       telemetry.mqtt,
                       telemetry.name,
                       telemetry.prefix,
                       telemetry.interval,
                       telemetry.advertise,
                       alarmGroup.alarms,
                       alarmGroup.maxShelve,
                       alarmGroup.admin,
                       alarmGroup.adminCn,
                       check});
    options->security.addOptions(&parser);

    if (!CommandLineStart::parse(&parser, arguments, help, version, done, error))
        return false;
    quint16 brokerPort = 0;
    if (!link.read(parser, options, error) || !serving.read(parser, options, error)
        || !telemetry.readAddresses(parser, options, &brokerPort, error)
        || !options->security.read(parser,
                                   !options->mqttHost.isEmpty(),
                                   !options->metricsAddress.isNull(),
                                   parser.isSet(link.host),
                                   error))
        return false;
    options->mqttPort = brokerPort
                            ? brokerPort
                            : options->security.defaultMqttPort(AgentOptions::DefaultMqttPort);
    if (!telemetry.readTopics(parser, options, error) || !alarmGroup.read(parser, options, error))
        return false;
    options->checkOnly = parser.isSet(check);
    return true;
}

} // namespace

bool AgentOptions::parse(const QStringList &arguments, int *exitStatus)
{
    bool done = false;
    QString error;
    if (readArguments(arguments, this, &done, &error)) {
        *exitStatus = 0;
        return true;
    }
    if (done) {
        *exitStatus = 0;
        return false;
    }
    QTextStream(stderr) << "korvane-agent: " << error
                        << "\nTry 'korvane-agent --help' for more information.\n";
    *exitStatus = 2;
    return false;
}

QString AgentOptions::describe() const
{
    QString text;
    QTextStream out(&text);
    out << "device " << device.text() << '\n';
    const bool v6 = listenAddress.protocol() == QAbstractSocket::IPv6Protocol;
    out << "listen " << (v6 ? "[" : "") << listenAddress.toString() << (v6 ? "]" : "") << ':'
        << listenPort << '\n';
    out << "events " << (eventsPath.isEmpty() ? QStringLiteral("-") : eventsPath) << '\n';
    out << "timeout " << timeoutMs << " ms\n";
    out << "max-clients " << maxClients << '\n';
    out << "idle-timeout " << idleTimeoutS << " s\n";
    out << "status-interval " << statusIntervalMs << " ms\n";
    if (metricsAddress.isNull()) {
        out << "metrics -\n";
    } else {
        const bool metricsV6 = metricsAddress.protocol() == QAbstractSocket::IPv6Protocol;
        out << "metrics " << (metricsV6 ? "[" : "") << metricsAddress.toString()
            << (metricsV6 ? "]" : "") << ':' << metricsPort << '\n';
    }
    if (mqttHost.isEmpty()) {
        out << "mqtt -\n";
    } else {
        const bool brokerV6 = mqttHost.contains(QLatin1Char(':'));
        out << "mqtt " << (brokerV6 ? "[" : "") << mqttHost << (brokerV6 ? "]" : "") << ':'
            << mqttPort << '\n';
        out << "mqtt-prefix " << topicPrefix(QStringLiteral("MODEL")) << '\n';
        out << "mqtt-interval " << mqttIntervalMs << " ms\n";
        out << "advertise "
            << (advertiseHost.isEmpty() ? QStringLiteral("the listen address")
                                        : advertise(QHostAddress(), 0))
            << '\n';
    }
    security.describe(out);
    out << "alarms " << (alarmsPath.isEmpty() ? QStringLiteral("built in") : alarmsPath) << '\n';
    out << alarms.describe();
    out << "max-shelve " << maxShelveS << " s\n";
    out << "admin " << (access.hasAdmins() ? QStringLiteral("ranges") : QStringLiteral("-"));
    if (!adminNames.isEmpty())
        out << ", cn " << adminNames.join(QLatin1Char(','));
    out << '\n';
    return text;
}

QString AgentOptions::topicPrefix(const QString &model) const
{
    if (!mqttPrefix.isEmpty())
        return mqttPrefix;
    return QStringLiteral("korvane/") + (name.isEmpty() ? model : name);
}

QString AgentOptions::advertise(const QHostAddress &bound, quint16 boundPort) const
{
    QString host = advertiseHost;
    quint16 port = advertisePort;
    if (host.isEmpty()) {
        // Every address is no address a client can be sent to.
        if (bound.isNull() || bound == QHostAddress::Any || bound == QHostAddress::AnyIPv6
            || bound == QHostAddress::AnyIPv4)
            return QString();
        host = bound.toString();
        port = boundPort;
    }
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return host + QLatin1Char(':') + QString::number(port);
}
