#include "commandline.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const std::optional<int> exitStatus = answerInformationOptions(argc, argv))
        return *exitStatus;
    QApplication application(argc, argv);
    MainWindow window;
    window.show();
    return application.exec();
}
