#include "agentoptions.h"

#include "hostport.h"
#include "ipv4address.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

bool fail(const QString &message, int *exitStatus)
{
    QTextStream(stderr) << "korvane-agent: " << message
                        << "\nTry 'korvane-agent --help' for more information.\n";
    *exitStatus = 2;
    return false;
}

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

// A whole number from `low` to `high`; false, and `value` untouched, if the text is not one.
bool numberIn(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

} // namespace

bool AgentOptions::parse(const QStringList &arguments, int *exitStatus)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shares one Korvane Amplifier with any number of clients: it owns the "
                       "link to the amplifier\nand serves the amplifier's own protocol on TCP, "
                       "so that the panel and korvane-ctl --host\nwork through it unchanged."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("The amplifier is on serial port <path>."),
                                    QStringLiteral("path"));
    const QCommandLineOption host(QStringLiteral("host"),
                                  QStringLiteral("The amplifier is at TCP <address>."),
                                  QStringLiteral("address"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The amplifier's TCP <port> (default 2101)."),
                                  QStringLiteral("port"));
    const QCommandLineOption
        listen(QStringLiteral("listen"),
               QStringLiteral("Serve clients on <address:port> (default 127.0.0.1:2101)."),
               QStringLiteral("address:port"));
    const QCommandLineOption allow(QStringLiteral("allow"),
                                   QStringLiteral(
                                       "Serve clients from <cidr> as observers (repeatable)."),
                                   QStringLiteral("cidr"));
    const QCommandLineOption control(QStringLiteral("control"),
                                     QStringLiteral(
                                         "Serve clients from <cidr> as controllers (repeatable)."),
                                     QStringLiteral("cidr"));
    const QCommandLineOption events(QStringLiteral("events"),
                                    QStringLiteral("Append the journal to <file>, a JSON "
                                                   "object per line."),
                                    QStringLiteral("file"));
    const QCommandLineOption
        timeout(QStringLiteral("timeout"),
                QStringLiteral("Wait <ms> for each reply of the amplifier (default 1000)."),
                QStringLiteral("ms"));
    const QCommandLineOption maxClientsOption(QStringLiteral("max-clients"),
                                              QStringLiteral("Serve at most <n> clients at once "
                                                             "(default 64); more are refused."),
                                              QStringLiteral("n"));
    const QCommandLineOption idleOption(QStringLiteral("idle-timeout"),
                                        QStringLiteral("Close a client that sends nothing for "
                                                       "<s> seconds (default 300)."),
                                        QStringLiteral("s"));
    const QCommandLineOption
        statusInterval(QStringLiteral("status-interval"),
                       QStringLiteral("Read the amplifier's settings every <ms> (default 1000)."),
                       QStringLiteral("ms"));
    const QCommandLineOption metricsOption(QStringLiteral("metrics"),
                                           QStringLiteral("Serve Prometheus metrics at /metrics on "
                                                          "<address:port> (default off)."),
                                           QStringLiteral("address:port"));
    const QCommandLineOption mqttOption(QStringLiteral("mqtt"),
                                        QStringLiteral(
                                            "Publish telemetry to the MQTT broker at "
                                            "<host:port> (default off; port 1883, 8883 with "
                                            "TLS)."),
                                        QStringLiteral("host:port"));
    const QCommandLineOption nameOption(QStringLiteral("name"),
                                        QStringLiteral("The amplifier's <name> in MQTT topics "
                                                       "(default its model)."),
                                        QStringLiteral("name"));
    const QCommandLineOption prefixOption(QStringLiteral("mqtt-prefix"),
                                          QStringLiteral("Publish under <topic> (default "
                                                         "korvane/NAME)."),
                                          QStringLiteral("topic"));
    const QCommandLineOption intervalOption(QStringLiteral("mqtt-interval"),
                                            QStringLiteral(
                                                "Publish the state every <ms> (default 1000)."),
                                            QStringLiteral("ms"));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Only check the options and print them."));
    parser.addOptions({serial,
                       host,
                       port,
                       listen,
                       allow,
                       control,
                       events,
                       timeout,
                       maxClientsOption,
                       idleOption,
                       statusInterval,
                       metricsOption,
                       mqttOption,
                       nameOption,
                       prefixOption,
                       intervalOption,
                       check});
    security.addOptions(&parser);

    if (!parser.parse(arguments))
        return fail(parser.errorText(), exitStatus);
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        *exitStatus = 0;
        return false;
    }
    if (parser.isSet(version)) {
        std::printf("korvane-agent %s\n", qPrintable(QCoreApplication::applicationVersion()));
        *exitStatus = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'")
                        .arg(parser.positionalArguments().first()),
                    exitStatus);
    for (const QCommandLineOption *single : {&serial,
                                             &host,
                                             &port,
                                             &listen,
                                             &events,
                                             &timeout,
                                             &maxClientsOption,
                                             &idleOption,
                                             &statusInterval,
                                             &metricsOption,
                                             &mqttOption,
                                             &nameOption,
                                             &prefixOption,
                                             &intervalOption}) {
        if (parser.values(*single).size() > 1)
            return fail(QStringLiteral("--%1 given more than once").arg(single->names().first()),
                        exitStatus);
    }
    if (parser.isSet(serial) == parser.isSet(host))
        return fail(QStringLiteral("give the amplifier as --serial PATH or --host ADDRESS"),
                    exitStatus);
    if (parser.isSet(port) && !parser.isSet(host))
        return fail(QStringLiteral("--port goes with --host"), exitStatus);
    device.serialPath = parser.value(serial);
    device.host = parser.value(host);
    if (parser.isSet(port)) {
        bool ok = false;
        const uint number = parser.value(port).toUInt(&ok);
        if (!ok || number == 0 || number > 65535)
            return fail(QStringLiteral("--port takes a number from 1 to 65535"), exitStatus);
        device.port = quint16(number);
    }
    if ((parser.isSet(serial) && device.serialPath.isEmpty())
        || (parser.isSet(host) && device.host.isEmpty()))
        return fail(QStringLiteral("the amplifier's address is empty"), exitStatus);
    QString why;
    if (parser.isSet(host) && !Ipv4::normalizeHost(&device.host, &why))
        return fail(QStringLiteral("--host ") + why, exitStatus);
    if (parser.isSet(listen) && !parseListen(parser.value(listen), &listenAddress, &listenPort))
        return fail(QStringLiteral("--listen takes ADDRESS:PORT, such as 127.0.0.1:2101"),
                    exitStatus);
    QString error;
    for (const QString &range : parser.values(allow)) {
        if (!access.allow(range, &error))
            return fail(QStringLiteral("--allow: ") + error, exitStatus);
    }
    for (const QString &range : parser.values(control)) {
        if (!access.control(range, &error))
            return fail(QStringLiteral("--control: ") + error, exitStatus);
    }
    eventsPath = parser.value(events);
    if (parser.isSet(events) && eventsPath.isEmpty())
        return fail(QStringLiteral("--events needs a file name"), exitStatus);
    if (parser.isSet(timeout) && !numberIn(parser.value(timeout), 10, 60000, &timeoutMs))
        return fail(QStringLiteral("--timeout takes milliseconds from 10 to 60000"), exitStatus);
    if (parser.isSet(maxClientsOption)
        && !numberIn(parser.value(maxClientsOption), 1, 100000, &maxClients))
        return fail(QStringLiteral("--max-clients takes a number from 1 to 100000"), exitStatus);
    if (parser.isSet(idleOption) && !numberIn(parser.value(idleOption), 1, 86400, &idleTimeoutS))
        return fail(QStringLiteral("--idle-timeout takes seconds from 1 to 86400"), exitStatus);
    if (parser.isSet(statusInterval)) {
        bool ok = false;
        statusIntervalMs = parser.value(statusInterval).toInt(&ok);
        if (!ok || statusIntervalMs < 100 || statusIntervalMs > 3600000)
            return fail(QStringLiteral("--status-interval takes milliseconds from 100 to 3600000"),
                        exitStatus);
    }
    if (parser.isSet(metricsOption)
        && !parseListen(parser.value(metricsOption), &metricsAddress, &metricsPort))
        return fail(QStringLiteral("--metrics takes ADDRESS:PORT, such as 127.0.0.1:9725"),
                    exitStatus);
    quint16 brokerPort = 0;
    if (parser.isSet(mqttOption)
        && !HostPort::parse(parser.value(mqttOption), &mqttHost, &brokerPort))
        return fail(QStringLiteral("--mqtt takes HOST:PORT, such as 127.0.0.1:1883"), exitStatus);
    if (!security.read(parser,
                       !mqttHost.isEmpty(),
                       !metricsAddress.isNull(),
                       parser.isSet(host),
                       &error))
        return fail(error, exitStatus);
    mqttPort = brokerPort ? brokerPort : security.defaultMqttPort(DefaultMqttPort);
    name = parser.value(nameOption);
    if (parser.isSet(nameOption) && (!validTopic(name) || name.contains(QLatin1Char('/'))))
        return fail(QStringLiteral("--name takes a name without '/', '+' or '#'"), exitStatus);
    mqttPrefix = parser.value(prefixOption);
    if (parser.isSet(prefixOption) && !validTopic(mqttPrefix))
        return fail(QStringLiteral("--mqtt-prefix takes a topic without '+', '#' or a "
                                   "trailing '/'"),
                    exitStatus);
    if (parser.isSet(intervalOption)) {
        bool ok = false;
        mqttIntervalMs = parser.value(intervalOption).toInt(&ok);
        if (!ok || mqttIntervalMs < 100 || mqttIntervalMs > 3600000)
            return fail(QStringLiteral("--mqtt-interval takes milliseconds from 100 to 3600000"),
                        exitStatus);
    }
    if (mqttHost.isEmpty()
        && (parser.isSet(nameOption) || parser.isSet(prefixOption) || parser.isSet(intervalOption)))
        return fail(QStringLiteral("--name, --mqtt-prefix and --mqtt-interval go with --mqtt"),
                    exitStatus);
    checkOnly = parser.isSet(check);
    *exitStatus = 0;
    return true;
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
    }
    security.describe(out);
    return text;
}

QString AgentOptions::topicPrefix(const QString &model) const
{
    if (!mqttPrefix.isEmpty())
        return mqttPrefix;
    return QStringLiteral("korvane/") + (name.isEmpty() ? model : name);
}
