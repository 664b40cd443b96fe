#include "commandline.h"
#include "fontconfigpreload.h"
#include "formfonts.h"
#include "mainwindow.h"
#include "rasterwindows.h"
#include "screenscaling.h"
#include "serialports.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    PanelOptions options;
    if (const std::optional<int> exitStatus = readCommandLine(argc, argv, &options))
        return *exitStatus;
    App::FontConfigPreload fontConfig;
    // The window scans the ports as it is made; the list is taken meanwhile.
    Platform::startSerialPortListing();
    App::drawWithoutOpenGl();
    App::enableHighDpiScaling();
    QApplication application(argc, argv);
    App::useFormFonts();
    fontConfig.finish();
    MainWindow window;
    window.show();
    if (!options.connectHost.isEmpty())
        window.connectTo(options.connectHost, options.connectPort, options.agent);
    return application.exec();
}
