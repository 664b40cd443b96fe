#include "commandline.h"
#include "commandrunner.h"
#include "signalnotifier.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));

    CommandLine commandLine;
    int exitStatus = 0;
    if (!commandLine.parse(QCoreApplication::arguments(), &exitStatus))
        return exitStatus;

    CommandRunner runner(commandLine.invocation());
    QObject::connect(&runner, &CommandRunner::finished, &app, &QCoreApplication::exit);

    // Only a watch runs long enough to need a clean end; elsewhere a signal may kill.
    SignalNotifier signalNotifier;
    if (commandLine.invocation().watch) {
        signalNotifier.install();
        QObject::connect(&signalNotifier, &SignalNotifier::received, &runner, &CommandRunner::stop);
    }

    QTimer::singleShot(0, &runner, &CommandRunner::start);
    return app.exec();
}
