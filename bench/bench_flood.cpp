// The panel flooded with valid measurement frames over loopback TCP, as fast as the link
// takes them: how long the window's event loop stalls, how much memory it takes, and how
// soon it is idle again afterwards. Usage: bench_flood [seconds] (default 10).
#include "appstate.h"
#include "mainwindow.h"
#include "procstats.h"
#include "replies.h"
#include "serialports.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {

// A broken or hostile amplifier on its own thread: once the panel connects, it writes
// measurement frames, each reading different, for as long as the link takes them, and
// then falls silent with the connection still open.
class Flooder : public QThread
{
public:
    explicit Flooder(int seconds)
        : m_seconds(seconds)
    {}

    quint16 port() const { return m_port; }
    qint64 bytesSent() const { return m_sent; }
    bool isFlooding() const { return m_flooding; }
    void waitUntilListening() { m_listening.acquire(); }
    void finish() { m_finish = true; }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        m_listening.release();
        if (!server.waitForNewConnection(10000))
            return;
        QTcpSocket *panel = server.nextPendingConnection();
        QByteArray chunk;
        for (int i = 0; i < 1000; ++i) {
            Reply::MeasValues values;
            values.cellTenths[0] = 200 + i % 100;
            values.cellTenths[1] = 300 + i % 50;
            values.driverTenths = 400 + i % 70;
            values.powerTenths[0] = i % 500;
            values.powerTenths[1] = (i * 7) % 500;
            values.powerTenths[2] = (i * 13) % 500;
            chunk += Reply::measFrame(values);
        }
        m_flooding = true;
        const QDeadlineTimer end(m_seconds * 1000);
        while (!end.hasExpired()) {
            while (panel->bytesToWrite() < 4 * chunk.size()) {
                panel->write(chunk);
                m_sent += chunk.size();
            }
            panel->waitForBytesWritten(10);
            panel->readAll(); // its polls, unanswered
        }
        m_sent -= panel->bytesToWrite();
        m_flooding = false;
        while (!m_finish) {
            if (panel->waitForReadyRead(10))
                panel->readAll();
        }
        delete panel;
    }

private:
    int m_seconds;
    std::atomic<quint16> m_port{0};
    std::atomic<qint64> m_sent{0};
    std::atomic<bool> m_flooding{false};
    std::atomic<bool> m_finish{false};
    QSemaphore m_listening;
};

// The longest gap between two ticks of a fast timer on the GUI thread, beyond its period:
// how long the window would have taken to answer a click or repaint.
class StallMeter : public QObject
{
public:
    static constexpr int PeriodMs = 5;

    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 gap = m_clock.restart();
            m_worst = qMax(m_worst, gap - PeriodMs);
        });
    }
    void start()
    {
        m_worst = 0;
        m_clock.start();
        m_timer.start(PeriodMs);
    }
    qint64 worstMs() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;

    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });

    Flooder flooder(seconds);
    flooder.start();
    flooder.waitUntilListening();
    App::amplifierTcpPort = flooder.port();

    MainWindow window;
    window.show();
    QTest::qWait(500); // first paints, caches, allocator pools
    const qint64 rssStart = ProcStats::residentKiB();

    StallMeter meter;
    meter.start();
    window.findChild<QLineEdit *>(QStringLiteral("HostIP"))->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QPushButton *>(QStringLiteral("EthernetConnect"))->click();
    if (!QTest::qWaitFor([&] { return flooder.isFlooding(); }, 10000)) {
        std::fprintf(stderr, "bench_flood: the panel never connected\n");
        return 1;
    }
    const double cpuStart = ProcStats::threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!QTest::qWaitFor([&] { return !flooder.isFlooding(); }, (seconds + 10) * 1000))
        std::fprintf(stderr, "bench_flood: the flood did not end in time\n");
    const double floodSeconds = wall.elapsed() / 1000.0;
    const double floodCpu = ProcStats::threadCpuSeconds() - cpuStart;
    const qint64 worstDuring = meter.worstMs();
    const qint64 rssAfterFlood = ProcStats::residentKiB();

    // What the panel still has to do once the peer is quiet.
    double cpuAfter[3] = {0, 0, 0};
    qint64 worstAfter = 0;
    for (double &cpu : cpuAfter) {
        meter.start();
        const double before = ProcStats::threadCpuSeconds();
        QTest::qWait(1000);
        cpu = ProcStats::threadCpuSeconds() - before;
        worstAfter = qMax(worstAfter, meter.worstMs());
    }
    flooder.finish();
    flooder.wait();

    const double mib = flooder.bytesSent() / 1048576.0;
    const int frameBytes = Reply::measFrame({}).size();
    std::printf("%-40s %12s\n", "measure", "value");
    std::printf("%-40s %12.1f\n", "flood time (s)", floodSeconds);
    std::printf("%-40s %12.1f\n", "taken by the panel (MiB)", mib);
    std::printf("%-40s %12.0f\n",
                "frames taken per second",
                flooder.bytesSent() / double(frameBytes) / floodSeconds);
    std::printf("%-40s %12lld\n", "worst stall during the flood (ms)", (long long) worstDuring);
    std::printf("%-40s %12lld\n", "worst stall after it (ms)", (long long) worstAfter);
    std::printf("%-40s %12.2f\n", "GUI thread CPU during the flood (s)", floodCpu);
    std::printf("%-40s %12.3f\n", "GUI thread CPU, 1st second after (s)", cpuAfter[0]);
    std::printf("%-40s %12.3f\n", "GUI thread CPU, 2nd second after (s)", cpuAfter[1]);
    std::printf("%-40s %12.3f\n", "GUI thread CPU, 3rd second after (s)", cpuAfter[2]);
    std::printf("%-40s %12lld\n", "resident before (KiB)", (long long) rssStart);
    std::printf("%-40s %12lld\n", "resident after the flood (KiB)", (long long) rssAfterFlood);
    std::printf("%-40s %12lld\n", "peak resident (KiB)", (long long) ProcStats::peakResidentKiB());
    return 0;
}
