#include "agentoptions.h"
#include "agentserver.h"
#include "devicesession.h"
#include "eventwatch.h"
#include "journal.h"
#include "signalnotifier.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-agent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));

    AgentOptions options;
    int exitStatus = 0;
    if (!options.parse(QCoreApplication::arguments(), &exitStatus))
        return exitStatus;
    if (options.checkOnly) {
        std::fputs(qPrintable(options.describe()), stdout);
        return 0;
    }

    QTextStream err(stderr);
    Journal journal;
    QString error;
    if (!options.eventsPath.isEmpty() && !journal.open(options.eventsPath, &error)) {
        err << "korvane-agent: cannot open " << options.eventsPath << ": " << error << '\n';
        return 1;
    }

    DeviceSession device(options.device, options.timeoutMs);
    EventWatch watch(&device, &journal);
    AgentServer server(&device, options.access, &journal);
    if (!server.listen(options.listenAddress, options.listenPort)) {
        err << "korvane-agent: cannot listen on " << options.listenAddress.toString() << ':'
            << options.listenPort << ": " << server.errorString() << '\n';
        return 1;
    }
    // The first line tells scripts and tests where the agent serves (with --listen ...:0).
    std::printf("listening %s:%u\n", qPrintable(server.address().toString()), server.port());
    std::fflush(stdout);
    journal.record(QStringLiteral("started"),
                   {{QStringLiteral("device"), device.deviceText()},
                    {QStringLiteral("listen"),
                     QStringLiteral("%1:%2").arg(server.address().toString()).arg(server.port())}});

    SignalNotifier signals_;
    if (!signals_.install()) {
        err << "korvane-agent: cannot take over SIGINT and SIGTERM\n";
        return 1;
    }
    QObject::connect(&signals_, &SignalNotifier::received, &app, [&] {
        device.stop();
        journal.record(QStringLiteral("stopped"));
        QCoreApplication::exit(0);
    });

    device.start();
    return app.exec();
}
