#include "commandline.h"
#include "formfonts.h"
#include "mainwindow.h"
#include "screenscaling.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitStatus = answerInformationOptions(argc, argv))
        return *exitStatus;
    App::enableHighDpiScaling();
    QApplication application(argc, argv);
    App::useFormFonts();
    MainWindow window;
    window.show();
    return application.exec();
}
