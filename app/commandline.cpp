#include "commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

std::optional<int> answerInformationOptions(int argc, char *argv[])
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

    // Only these four words answer. The parser would read single-dash letters clustered,
    // taking the toolkit's -stylesheet or -reverse for -h or -v; every other argument is
    // the toolkit's.
    bool help = false;
    bool version = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        help = help || argument == QLatin1String("-h") || argument == QLatin1String("--help");
        version = version || argument == QLatin1String("-v")
                  || argument == QLatin1String("--version");
    }
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
