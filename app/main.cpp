#include "commandline.h"
#include "formfonts.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitStatus = answerInformationOptions(argc, argv))
        return *exitStatus;
    QApplication application(argc, argv);
    App::useFormFonts();
    MainWindow window;
    window.show();
    return application.exec();
}
