#include "formfonts.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    App::useFormFonts();
    MainWindow window;
    window.show();
    return application.exec();
}
