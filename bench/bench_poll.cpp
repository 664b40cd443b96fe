// The panel polling korvane-sim over loopback TCP: what the 100 ms poll costs the panel in
// CPU and whether its memory grows. Usage: bench_poll [seconds] (default 30).
#include "appstate.h"
#include "mainwindow.h"
#include "procstats.h"
#include "serialports.h"
#include "simprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 30;

    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });

    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_poll: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    App::amplifierTcpPort = sim.port();

    MainWindow window;
    window.show();
    window.findChild<QLineEdit *>(QStringLiteral("HostIP"))->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QPushButton *>(QStringLiteral("EthernetConnect"))->click();
    if (!QTest::qWaitFor([&] { return window.windowTitle().contains(QLatin1String("700")); },
                         10000)) {
        std::fprintf(stderr, "bench_poll: the simulator never identified itself\n");
        return 1;
    }
    QTest::qWait(1000); // settle: first paints, caches, allocator pools

    auto *poll = window.findChild<QTimer *>();
    QSignalSpy ticks(poll, &QTimer::timeout);
    const qint64 rssStart = ProcStats::residentKiB();
    const double cpuStart = ProcStats::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double wallSeconds = wall.elapsed() / 1000.0;
    const double cpu = ProcStats::cpuSeconds() - cpuStart;
    const qint64 rssEnd = ProcStats::residentKiB();

    std::printf("%-28s %12s\n", "measure", "value");
    std::printf("%-28s %12.1f\n", "wall time (s)", wallSeconds);
    std::printf("%-28s %12d\n", "polls sent", int(ticks.count()));
    std::printf("%-28s %12.2f\n", "polls per second", ticks.count() / wallSeconds);
    std::printf("%-28s %12.3f\n", "panel CPU time (s)", cpu);
    std::printf("%-28s %12.2f\n", "CPU share of one core (%)", 100.0 * cpu / wallSeconds);
    std::printf("%-28s %12lld\n", "resident at start (KiB)", static_cast<long long>(rssStart));
    std::printf("%-28s %12lld\n", "resident at end (KiB)", static_cast<long long>(rssEnd));
    std::printf("%-28s %12lld\n", "growth (KiB)", static_cast<long long>(rssEnd - rssStart));
    return 0;
}
