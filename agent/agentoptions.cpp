#include "agentoptions.h"

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
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Only check the options and print them."));
    parser.addOptions({serial, host, port, listen, allow, control, events, timeout, check});

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
    for (const QCommandLineOption *single : {&serial, &host, &port, &listen, &events, &timeout}) {
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
    if (parser.isSet(timeout)) {
        bool ok = false;
        timeoutMs = parser.value(timeout).toInt(&ok);
        if (!ok || timeoutMs < 10 || timeoutMs > 60000)
            return fail(QStringLiteral("--timeout takes milliseconds from 10 to 60000"), exitStatus);
    }
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
    return text;
}
