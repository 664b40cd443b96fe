#include "commandline.h"

#include "appstate.h"
#include "hostport.h"
#include "ipv4address.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char ConnectUsage[] = "--connect takes ADDRESS[:PORT], such as 127.0.0.1:2102";

int refuse(const QString &message)
{
    std::fprintf(stderr,
                 "korvane-panel: %s\nTry 'korvane-panel --help' for more information.\n",
                 qPrintable(message));
    return 2;
}

// The address and port of --connect; the amplifier's port when none is given.
std::optional<int> readConnect(const QString &text, PanelOptions *options)
{
    QString host;
    quint16 port = App::DefaultAmplifierTcpPort;
    QString error;
    if (!HostPort::parse(text, &host, &port))
        return refuse(QStringLiteral("%1, not '%2'").arg(QLatin1String(ConnectUsage), text));
    if (!Ipv4::normalizeHost(&host, &error))
        return refuse(QStringLiteral("--connect: invalid address %1").arg(error));
    options->connectHost = host;
    options->connectPort = port;
    return std::nullopt;
}

} // namespace

std::optional<int> readCommandLine(int argc, char *argv[], PanelOptions *options)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control panel for a Korvane Amplifier: finds it on the USB serial ports "
                       "or reaches it over Ethernet (TCP port 2101), switches RF, sets gains, "
                       "linearity and limits, and shows the output powers and temperatures.\n"
                       "The amplifier's IP address is kept for the next run. The toolkit's own "
                       "options, such as -platform or -style, are passed on to it."));
    // Our own help option rather than addHelpOption(): its --help-all would list only the
    // options of the window-less application object made here, not the toolkit's.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays this help."));
    parser.addOption(helpOption);
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("connect"),
        QStringLiteral("Opens the Ethernet link to <address> at start, on TCP port 2101 or the "
                       "port given (an agent's, say). The address saved for the next run is "
                       "left as it is. IPv6 addresses go in brackets: [::1]:2102."),
        QStringLiteral("address[:port]")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("agent"),
        QStringLiteral("The far end of --connect is korvane-agent: the panel then shows this "
                       "client's role there, who holds the control lease, and why the agent "
                       "refused a setting.")));

    // Only these words are ours. The parser would read single-dash letters clustered,
    // taking the toolkit's -stylesheet or -reverse for -h or -v; every other argument is
    // the toolkit's.
    bool help = false;
    bool version = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        help = help || argument == QLatin1String("-h") || argument == QLatin1String("--help");
        version = version || argument == QLatin1String("-v")
                  || argument == QLatin1String("--version");
        const QLatin1String connectWithValue("--connect=");
        if (argument == QLatin1String("--connect")) {
            if (i + 1 >= arguments.size())
                return refuse(QLatin1String(ConnectUsage));
            if (const std::optional<int> status = readConnect(arguments.at(++i), options))
                return status;
        } else if (argument == QLatin1String("--agent")) {
            options->agent = true;
        } else if (argument.startsWith(connectWithValue)) {
            if (const std::optional<int> status = readConnect(argument.mid(connectWithValue.size()),
                                                              options))
                return status;
        }
    }
    if (!help && !version && options->agent && options->connectHost.isEmpty())
        return refuse(QStringLiteral("--agent needs --connect: it tells what is at that address"));
    if (!help && !version)
        return std::nullopt;

    // The help text takes the program's name from the application object, which must not
    // be the widget one: that would need a display.
    QCoreApplication application(argc, argv);
    if (help)
        std::fputs(qPrintable(parser.helpText()), stdout);
    else
        std::puts("korvane-panel " KORVANE_VERSION);
    return 0;
}
