// The serial port scan's cost per responsive amplifier, against its floor, and the time from
// launching the panel to its window on screen with no serial ports present.
// Usage: bench_scan [ports] [rounds] (defaults 3 and 5).
#include "appstate.h"
#include "mainwindow.h"
#include "probe.h"
#include "serialports.h"
#include "simprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr char StartupChildFlag[] = "--startup-child";

// Bytes the probe writes: "?" with 1 to 7 line ends.
int probeBytes()
{
    int bytes = 0;
    for (int k = 1; k <= Probe::Sends; ++k)
        bytes += 1 + 2 * k;
    return bytes;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Started as a child: builds and shows the window with no ports, says so, and ends.
int startupChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    std::printf("shown\n");
    std::fflush(stdout);
    return 0;
}

double launchToShownMs(const QString &program)
{
    QProcess child;
    QElapsedTimer clock;
    clock.start();
    child.start(program, {QString::fromLatin1(StartupChildFlag)});
    while (!child.readAllStandardOutput().contains("shown") && child.waitForReadyRead(10000)) {
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    child.waitForFinished(10000);
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && qstrcmp(argv[1], StartupChildFlag) == 0)
        return startupChild(argc, argv);

    QApplication app(argc, argv);
    const int portCount = argc > 1 ? QByteArray(argv[1]).toInt() : 3;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 5;
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

    std::vector<std::unique_ptr<SimProcess>> sims;
    QList<Platform::SerialPortEntry> ports;
    for (int i = 0; i < portCount; ++i) {
        sims.push_back(std::make_unique<SimProcess>());
        if (!sims.back()->start({QStringLiteral("--pty")})) {
            std::fprintf(stderr, "bench_scan: %s\n", qPrintable(sims.back()->errorString()));
            return 1;
        }
        ports.append({sims.back()->ptyPath(), QStringLiteral("USB Serial Device"), 0x483});
    }
    Platform::setSerialPortProvider([ports] { return ports; });

    MainWindow window;
    auto *refresh = window.findChild<QPushButton *>(QStringLiteral("SerialRefresh"));
    std::vector<double> perPort;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        refresh->click();
        perPort.push_back(clock.nsecsElapsed() / 1e6 / portCount);
    }

    const double transferMs = probeBytes() * 10 * 1000.0 / 9600; // 8N1: 10 bits a byte
    std::vector<double> startup;
    for (int i = 0; i < rounds; ++i)
        startup.push_back(launchToShownMs(QCoreApplication::applicationFilePath()));

    std::printf("%-44s %10s\n", "measure", "ms");
    std::printf("%-44s %10.1f\n", "scan time per responsive port (median)", median(perPort));
    std::printf("%-44s %10.1f\n",
                "scan time per responsive port (worst)",
                *std::max_element(perPort.begin(), perPort.end()));
    std::printf("%-44s %10.1f\n",
                "floor on a pseudo-terminal (pause only)",
                double(Probe::AnswerMs));
    std::printf("%-44s %10.1f\n",
                "floor at 9600 baud (pause + 63 bytes)",
                Probe::AnswerMs + transferMs);
    std::printf("%-44s %10.1f\n", "launch to window shown, no ports (median)", median(startup));
    std::printf("(%d ports, %d rounds)\n", portCount, rounds);
    return 0;
}
