#include "amplifiermodel.h"
#include "faultoptions.h"
#include "optionnumber.h"
#include "ptyendpoint.h"
#include "reportlog.h"
#include "simconnection.h"
#include "simserver.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int UsageError = 2;
constexpr quint16 DefaultPort = 2101;

int quitPipe[2] = {-1, -1};

// All a signal handler may safely do: wake the event loop, which then quits.
void onQuitSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &byte, 1);
}

bool quitOnSignals(QCoreApplication *app)
{
    if (pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto *notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

void printReport(const QString &message)
{
    std::fprintf(stderr, "korvane-sim: %s\n", qUtf8Printable(message));
}

int usageError(const QString &message)
{
    printReport(message);
    std::fprintf(stderr, "Try 'korvane-sim --help'.\n");
    return UsageError;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stands in for a Korvane Amplifier: answers its command protocol on TCP "
                       "and, with --pty, on a pseudo-terminal.\nOn start it prints "
                       "'listening <address>:<port>' and, with --pty, 'pty <path>'; reports "
                       "go to standard error."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("Listen on <address> (default 127.0.0.1)."),
                                        QStringLiteral("address"),
                                        QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Listen on TCP <port> (default %1; 0 "
                                                       "picks a free port).")
                                            .arg(DefaultPort),
                                        QStringLiteral("port"));
    const QCommandLineOption ptyOption(QStringLiteral("pty"),
                                       QStringLiteral("Also answer on a pseudo-terminal, to be "
                                                      "opened as a serial port."));
    const QCommandLineOption modelOption(QStringLiteral("model"),
                                         QStringLiteral("Be model <model>: %1 (default %2).")
                                             .arg(AmplifierModel::modelNames().join(
                                                      QStringLiteral(", ")),
                                                  QLatin1String(AmplifierModel::DefaultModel)),
                                         QStringLiteral("model"),
                                         QLatin1String(AmplifierModel::DefaultModel));
    const QCommandLineOption ambientOption(QStringLiteral("ambient"),
                                           QStringLiteral("Ambient temperature in degrees C "
                                                          "(default 25); the device starts "
                                                          "at it."),
                                           QStringLiteral("celsius"));
    const QCommandLineOption burstOption(QStringLiteral("burst"),
                                         QStringLiteral("Fault: write each reply in pieces of "
                                                        "<n> bytes, %1 ms apart.")
                                             .arg(SimConnection::BurstGapMs),
                                         QStringLiteral("n"));
    const QCommandLineOption coalesceOption(QStringLiteral("coalesce"),
                                            QStringLiteral("Fault: hold replies and write them "
                                                           "<n> at a time."),
                                            QStringLiteral("n"));
    const QCommandLineOption junkOption(QStringLiteral("junk"),
                                        QStringLiteral("Fault: send junk bytes (\"xx\" CR LF) "
                                                       "before each frame."));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Fault: carry out each command <ms> "
                                                        "milliseconds after it came in."),
                                         QStringLiteral("ms"));
    const QCommandLineOption dropOption(QStringLiteral("drop-after"),
                                        QStringLiteral("Fault: close the connection after <n> "
                                                       "replies (TCP: disconnect the client; "
                                                       "pty: hang up)."),
                                        QStringLiteral("n"));
    const QCommandLineOption muteOption(QStringLiteral("mute-after"),
                                        QStringLiteral("Fault: stop answering after <n> replies, "
                                                       "still carrying out commands (0: never "
                                                       "answers)."),
                                        QStringLiteral("n"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Send at the pace of a <rate> baud 8N1 "
                                                       "serial line, as the amplifier on its USB "
                                                       "port does (9600: 1.04 ms a byte)."),
                                        QStringLiteral("rate"));
    parser.addOptions({hostOption,
                       portOption,
                       ptyOption,
                       modelOption,
                       ambientOption,
                       burstOption,
                       coalesceOption,
                       junkOption,
                       delayOption,
                       dropOption,
                       muteOption,
                       baudOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().constFirst()));

    const QByteArray model = parser.value(modelOption).toLatin1();
    if (!AmplifierModel::isKnownModel(model))
        return usageError(QStringLiteral("unknown model '%1'; known models: %2")
                              .arg(parser.value(modelOption),
                                   AmplifierModel::modelNames().join(QStringLiteral(", "))));

    QHostAddress address;
    const QString host = parser.value(hostOption);
    if (host == QLatin1String("localhost"))
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(host))
        return usageError(QStringLiteral("--host wants an IP address, not '%1'").arg(host));

    double ambientC = AmplifierModel::DefaultAmbientC;
    if (parser.isSet(ambientOption)) {
        bool ok = false;
        ambientC = parser.value(ambientOption).toDouble(&ok);
        if (!ok || ambientC < -40 || ambientC > 200)
            return usageError(QStringLiteral("--ambient wants degrees C from -40 to 200, not '%1'")
                                  .arg(parser.value(ambientOption)));
    }

    int port = DefaultPort;
    FaultOptions faults;
    QString error;
    const bool valid
        = OptionNumber::read(parser, portOption, 0, 65535, &port, &error)
          && OptionNumber::read(parser, burstOption, 1, 65536, &faults.burstSize, &error)
          && OptionNumber::read(parser, coalesceOption, 1, 1000, &faults.coalesceCount, &error)
          && OptionNumber::read(parser, delayOption, 0, 600000, &faults.delayMs, &error)
          && OptionNumber::read(parser, dropOption, 0, INT_MAX, &faults.dropAfter, &error)
          && OptionNumber::read(parser, muteOption, 0, INT_MAX, &faults.muteAfter, &error)
          && OptionNumber::read(parser, baudOption, 50, 4000000, &faults.baud, &error);
    if (!valid)
        return usageError(error);
    faults.junk = parser.isSet(junkOption);

    if (!quitOnSignals(&app))
        printReport(QStringLiteral("SIGTERM and SIGINT will not end it cleanly"));

    ReportLog log(&printReport);
    AmplifierModel amplifier(model, ambientC);
    QObject::connect(&amplifier, &AmplifierModel::report, &log, &ReportLog::report);

    SimServer server(&amplifier, faults);
    QObject::connect(&server, &SimServer::report, &log, &ReportLog::report);
    if (!server.listen(address, quint16(port))) {
        printReport(QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(address.toString())
                        .arg(port)
                        .arg(server.errorString()));
        return 1;
    }
    std::printf("listening %s:%u\n", qUtf8Printable(server.address().toString()), server.port());

    PtyEndpoint pty(&amplifier, faults);
    QObject::connect(&pty, &PtyEndpoint::report, &log, &ReportLog::report);
    if (parser.isSet(ptyOption)) {
        if (!pty.open()) {
            printReport(QStringLiteral("no pseudo-terminal: %1").arg(pty.errorString()));
            return 1;
        }
        std::printf("pty %s\n", qUtf8Printable(pty.slavePath()));
    }
    std::fflush(stdout);

    return app.exec();
}
