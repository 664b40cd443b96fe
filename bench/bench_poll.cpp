// The panel polling korvane-sim over loopback TCP: what the 100 ms poll costs the panel in
// CPU and whether its memory grows, first with the trend window never opened, then with it
// open. A second client changes a gain every half second, so that the readings change and
// the trends have lines to draw; the recorder starts with a full hour of history, so that
// the window draws its whole default span. Usage: bench_poll [seconds per phase] (30).
#include "appstate.h"
#include "mainwindow.h"
#include "procstats.h"
#include "serialports.h"
#include "simprocess.h"
#include "steadyclock.h"
#include "trendrecorder.h"
#include "trendwindowfactory.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Phase
{
    double wallSeconds = 0;
    int polls = 0;
    double cpuSeconds = 0;
    qint64 rssStart = 0;
    qint64 rssEnd = 0;
    int redraws = 0;

    double cpuShare() const { return 100.0 * cpuSeconds / wallSeconds; }
};

Phase measure(QTimer *poll, int seconds, QWidget *trends)
{
    Phase phase;
    QSignalSpy ticks(poll, &QTimer::timeout);
    const int redrawsBefore = trends ? trends->property("redrawCount").toInt() : 0;
    phase.rssStart = ProcStats::residentKiB();
    const double cpuStart = ProcStats::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    // Not QTest::qWait, which wakes every 10 ms and would be measured with the panel.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    phase.wallSeconds = wall.elapsed() / 1000.0;
    phase.cpuSeconds = ProcStats::cpuSeconds() - cpuStart;
    phase.rssEnd = ProcStats::residentKiB();
    phase.polls = ticks.count();
    phase.redraws = trends ? trends->property("redrawCount").toInt() - redrawsBefore : 0;
    return phase;
}

// An hour of readings before now, as the poll would have left them.
void fillHistory(TrendRecorder *recorder)
{
    qint64 shift = 0;
    recorder->setClocks([&shift] { return Platform::steadyClockMs() + shift; },
                        &QDateTime::currentMSecsSinceEpoch);
    Reply::Measurement meas;
    meas.fieldCount = Reply::MeasFieldCount;
    meas.statusChar = Reply::NoFault;
    for (int i = 0; i < TrendRecorder::Capacity; ++i) {
        shift = -qint64(TrendRecorder::Capacity - i) * MainWindow::PollIntervalMs;
        const double wave = (i / 300) % 2 ? 20 : 0;
        meas.cellTenths[0] = 300 + wave + i % 7;
        meas.cellTenths[1] = 290 + wave + i % 5;
        meas.driverTenths = 350 + wave;
        for (double &power : meas.powerTenths)
            power = 120 + wave + i % 3;
        recorder->record(meas);
    }
    recorder->setClocks(&Platform::steadyClockMs, &QDateTime::currentMSecsSinceEpoch);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 30;

    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    TrendWindows::addSearchDir(QStringLiteral(KORVANE_TRENDS_DIR));

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
    auto *recorder = window.findChild<TrendRecorder *>();
    fillHistory(recorder);

    // The second client is a process of its own, so that its work is not counted as the
    // panel's: bash's /dev/tcp, a write every half second. Its few short replies wait in the
    // socket's buffer, which holds far more than a run's worth.
    QProcess changer;
    changer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    changer.start(QStringLiteral("bash"),
                  {QStringLiteral("-c"),
                   QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/$1 || exit 1\n"
                                  "while :; do for g in 27 21; do\n"
                                  "  printf 'SetGain 0 %s\\r\\n' $g >&3 || exit 1; sleep 0.5\n"
                                  "done; done"),
                   QStringLiteral("changer"),
                   QString::number(sim.port())});
    if (!changer.waitForStarted(10000)) {
        std::fprintf(stderr,
                     "bench_poll: no second client: %s\n",
                     qPrintable(changer.errorString()));
        return 1;
    }
    QTest::qWait(1000); // settle: first paints, caches, allocator pools

    auto *poll = window.findChild<QTimer *>();
    const Phase plain = measure(poll, seconds, nullptr);
    const bool loadedBefore = window.findChild<QWidget *>(QStringLiteral("TrendWindow"));

    window.findChild<QAction *>(QStringLiteral("actionTrends"))->trigger();
    QWidget *trends = window.findChild<QWidget *>(QStringLiteral("TrendWindow"));
    if (!trends) {
        std::fprintf(stderr, "bench_poll: the trend window did not open\n");
        return 1;
    }
    QTest::qWait(1000);
    const Phase open = measure(poll, seconds, trends);
    // One redraw on its own: both plots over the default span, and the window painted.
    QVector<double> redrawMs;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(trends, "redraw");
        trends->repaint();
        redrawMs.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(redrawMs.begin(), redrawMs.end());

    std::printf("%-34s %14s %14s\n", "measure", "window closed", "window open");
    auto row = [](const char *name, const char *format, double a, double b) {
        std::printf("%-34s ", name);
        std::printf(format, a);
        std::printf(" ");
        std::printf(format, b);
        std::printf("\n");
    };
    row("wall time (s)", "%14.1f", plain.wallSeconds, open.wallSeconds);
    row("polls sent", "%14.0f", plain.polls, open.polls);
    row("polls per second",
        "%14.2f",
        plain.polls / plain.wallSeconds,
        open.polls / open.wallSeconds);
    row("panel CPU time (s)", "%14.3f", plain.cpuSeconds, open.cpuSeconds);
    row("CPU share of one core (%)", "%14.2f", plain.cpuShare(), open.cpuShare());
    row("trend redraws per second", "%14.2f", 0, open.redraws / open.wallSeconds);
    row("resident at start (KiB)", "%14.0f", plain.rssStart, open.rssStart);
    row("resident at end (KiB)", "%14.0f", plain.rssEnd, open.rssEnd);
    row("growth (KiB)", "%14.0f", plain.rssEnd - plain.rssStart, open.rssEnd - open.rssStart);
    std::printf("%-34s %14.2f\n", "CPU open / closed", open.cpuShare() / plain.cpuShare());
    std::printf("%-34s %14s\n", "trend window made before opening", loadedBefore ? "yes" : "no");
    std::printf("%-34s %14d\n",
                "plot width (px)",
                trends->findChild<QWidget *>(QStringLiteral("powerPlot"))->width());
    std::printf("%-34s %14.2f\n", "one redraw, median (ms)", redrawMs[redrawMs.size() / 2]);
    std::printf("%-34s %14d\n", "samples kept", recorder->samples().size());
    std::printf("%-34s %14d\n", "bytes per sample", int(sizeof(TrendSample)));
    std::printf("%-34s %14.0f\n", "ring when full (KiB)", recorder->samples().fullBytes() / 1024.0);
    changer.kill();
    changer.waitForFinished();
    return 0;
}
