#include "fleetfeed.h"
#include "fleetmodel.h"
#include "fleetoptions.h"
#include "fleetwindow.h"
#include "screenscaling.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("korvane-fleet"));
    QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
    // Read with an application object that opens no display: --help and --version need none.
    FleetOptions options;
    int exitStatus = 0;
    {
        QCoreApplication reading(argc, argv);
        if (!options.parse(QCoreApplication::arguments(), &exitStatus))
            return exitStatus;
    }

    // The tiles are laid out in the font's units: the toolkit scales them with the screen.
    App::enableHighDpiScaling();
    QApplication application(argc, argv);
    QString error;
    if (!options.loadFiles(&error)) {
        QTextStream(stderr) << "korvane-fleet: " << error << '\n';
        return 1;
    }

    FleetModel model(options.prefix);
    FleetWindow window(&model, options.panelProgram);
    if (options.agentTls)
        window.useAgentTls(options.agentTlsFiles);
    FleetFeed feed(options.brokerSettings(), &model);
    window.setWindowTitle(QStringLiteral("Korvane fleet – %1").arg(feed.brokerText()));
    window.setBrokerStatus(feed.statusText(), false);
    QObject::connect(&feed, &FleetFeed::statusChanged, &window, [&](const QString &text) {
        window.setBrokerStatus(text, model.brokerConnected());
    });
    feed.start();
    window.show();
    return application.exec();
}
