// korvane-ctl logging readings for a long time: its CPU share and whether its memory grows.
// Starts korvane-sim, runs `korvane-ctl --host 127.0.0.1 --port P meas --watch --csv FILE`
// and samples the tool's /proc entries. Usage: bench_watch [seconds] (default 600).
#include "procstats.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <csignal>
#include <vector>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 600;

    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_watch: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    QTemporaryDir folder;
    const QString csv = folder.filePath(QStringLiteral("watch.csv"));
    QProcess ctl;
    ctl.start(QStringLiteral(KORVANE_CTL_PATH),
              {QStringLiteral("--host"),
               QStringLiteral("127.0.0.1"),
               QStringLiteral("--port"),
               QString::number(sim.port()),
               QStringLiteral("meas"),
               QStringLiteral("--watch"),
               QStringLiteral("--csv"),
               csv});
    if (!ctl.waitForStarted()) {
        std::fprintf(stderr, "bench_watch: cannot start korvane-ctl\n");
        return 1;
    }
    ctl.setStandardOutputFile(QProcess::nullDevice());
    QTest::qWait(2000); // connected and logging
    const ProcStats::Sample start = ProcStats::sampleOf(ctl.processId());
    QElapsedTimer wall;
    wall.start();
    std::vector<qint64> resident;
    for (int minute = 0; wall.elapsed() < seconds * 1000; ++minute) {
        QTest::qWait(qMin<qint64>(60000, seconds * 1000 - wall.elapsed()));
        resident.push_back(ProcStats::sampleOf(ctl.processId()).residentKiB);
    }
    const ProcStats::Sample end = ProcStats::sampleOf(ctl.processId());
    const double wallSeconds = wall.elapsed() / 1000.0;
    ::kill(pid_t(ctl.processId()), SIGINT);
    ctl.waitForFinished(10000);

    QFile log(csv);
    log.open(QIODevice::ReadOnly);
    const int rows = log.readAll().count('\n') - 1;

    std::printf("%-30s %12s\n", "measure", "value");
    std::printf("%-30s %12.0f\n", "wall time (s)", wallSeconds);
    std::printf("%-30s %12d\n", "CSV rows written", rows);
    std::printf("%-30s %12.2f\n", "korvane-ctl CPU time (s)", end.cpuSeconds - start.cpuSeconds);
    std::printf("%-30s %12.3f\n",
                "CPU share of one core (%)",
                100.0 * (end.cpuSeconds - start.cpuSeconds) / wallSeconds);
    std::printf("%-30s %12lld\n",
                "resident at start (KiB)",
                static_cast<long long>(start.residentKiB));
    std::printf("%-30s %12lld\n", "resident at end (KiB)", static_cast<long long>(end.residentKiB));
    std::printf("%-30s", "resident each minute (KiB)");
    for (qint64 kib : resident)
        std::printf(" %lld", static_cast<long long>(kib));
    std::printf("\n%-30s %12d\n", "exit status after SIGINT", ctl.exitCode());
    return 0;
}
