// The yardstick for the panel's start-up: an empty QMainWindow, shown at once. Built twice,
// once also linked with Qwt, to show what loading the plotting library would cost.
#include <QApplication>
#include <QMainWindow>

#ifdef KORVANE_WITH_QWT
#include <qwt_plot.h>
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
#ifdef KORVANE_WITH_QWT
    // Never true; it keeps the library among the program's needs.
    if (argc > 1000)
        window.setCentralWidget(new QwtPlot);
#endif
    window.show();
    return app.exec();
}
