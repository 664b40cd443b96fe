// korvane-agent in front of korvane-sim with many clients polling "Meas" at 10 Hz: replies
// served, what reaches the device, reply latency, and the agent's CPU and memory. A second
// phase adds a client that never reads. Usage: bench_agent [seconds per phase] [clients]
// (default 30 and 50).
#include "frameassembler.h"
#include "procstats.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Sits between the agent and the simulator and counts the "Meas" lines the device gets.
class CountingProxy : public QObject
{
public:
    bool listen(quint16 devicePort)
    {
        m_devicePort = devicePort;
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *agent = m_server.nextPendingConnection();
            auto *device = new QTcpSocket(agent);
            device->connectToHost(QHostAddress::LocalHost, m_devicePort);
            connect(agent, &QTcpSocket::readyRead, device, [this, agent, device] {
                const QByteArray bytes = agent->readAll();
                measLines += bytes.count("Meas\r\n");
                device->write(bytes);
            });
            connect(device, &QTcpSocket::readyRead, agent, [agent, device] {
                agent->write(device->readAll());
            });
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    qint64 measLines = 0;

private:
    QTcpServer m_server;
    quint16 m_devicePort = 0;
};

// One client polling at 10 Hz, timing each reply.
class Poller : public QObject
{
public:
    Poller(quint16 port, std::vector<double> *latenciesMs)
        : m_latencies(latenciesMs)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            for (const char byte : m_socket.readAll()) {
                if (m_assembler.push(byte) && m_asked.isValid()) {
                    m_latencies->push_back(m_asked.nsecsElapsed() / 1e6);
                    m_asked.invalidate();
                    ++replies;
                }
            }
        });
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_asked.isValid())
                return; // the last one is still on its way
            m_asked.start();
            m_socket.write("Meas\r\n");
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        // Spread the clients over the poll period, as independent programs would be.
        QTimer::singleShot(int(QRandomGenerator::global()->bounded(100)), this, [this] {
            m_timer.start(100);
        });
    }
    qint64 replies = 0;

private:
    QTcpSocket m_socket;
    QTimer m_timer;
    QElapsedTimer m_asked;
    FrameAssembler m_assembler;
    std::vector<double> *m_latencies;
};

// Runs the event loop for `ms`. (QTest::qWait sleeps 10 ms between rounds, which would show
// up in every latency measured here.)
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())))];
}

struct Phase
{
    double seconds = 0;
    qint64 replies = 0;
    qint64 deviceMeas = 0;
    std::vector<double> latencies;
    double cpuSeconds = 0;
    qint64 rssStart = 0;
    qint64 rssEnd = 0;
};

Phase runPhase(qint64 agentPid,
               quint16 agentPort,
               CountingProxy &proxy,
               int clients,
               int seconds,
               bool withStuckClient)
{
    Phase phase;
    std::vector<std::unique_ptr<Poller>> pollers;
    for (int i = 0; i < clients; ++i)
        pollers.push_back(std::make_unique<Poller>(agentPort, &phase.latencies));
    QTcpSocket stuck;
    QTimer flood;
    if (withStuckClient) {
        stuck.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        // Qt would otherwise read everything into its own buffer, unasked.
        stuck.setReadBufferSize(4096);
        stuck.connectToHost(QHostAddress::LocalHost, agentPort);
        QObject::connect(&flood, &QTimer::timeout, &stuck, [&stuck] {
            if (stuck.state() == QAbstractSocket::ConnectedState)
                stuck.write(QByteArray("Meas\r\n").repeated(100));
        });
        flood.start(10);
    }
    runFor(1000); // connected and polling
    phase.latencies.clear();
    const qint64 measStart = proxy.measLines;
    const ProcStats::Sample start = ProcStats::sampleOf(agentPid);
    qint64 repliesStart = 0;
    for (const auto &poller : pollers)
        repliesStart += poller->replies;
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    phase.seconds = wall.elapsed() / 1000.0;
    const ProcStats::Sample end = ProcStats::sampleOf(agentPid);
    for (const auto &poller : pollers)
        phase.replies += poller->replies;
    phase.replies -= repliesStart;
    phase.deviceMeas = proxy.measLines - measStart;
    phase.cpuSeconds = end.cpuSeconds - start.cpuSeconds;
    phase.rssStart = start.residentKiB;
    phase.rssEnd = end.residentKiB;
    return phase;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 30;
    const int clients = argc > 2 ? QByteArray(argv[2]).toInt() : 50;

    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_agent: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    CountingProxy proxy;
    if (!proxy.listen(sim.port()))
        return 1;
    SimProcess agent;
    if (!agent.startProgram(QStringLiteral(KORVANE_AGENT_PATH),
                            {QStringLiteral("--host"),
                             QStringLiteral("127.0.0.1"),
                             QStringLiteral("--port"),
                             QString::number(proxy.port()),
                             QStringLiteral("--listen"),
                             QStringLiteral("127.0.0.1:0")})
        || !agent.waitForReport(QStringLiteral("model_identified"))) {
        std::fprintf(stderr, "bench_agent: %s\n", qPrintable(agent.errorString()));
        return 1;
    }
    const qint64 pid = agent.processId();

    const Phase plain = runPhase(pid, agent.port(), proxy, clients, seconds, false);
    const Phase stuck = runPhase(pid, agent.port(), proxy, clients, seconds, true);

    std::printf("%-34s %14s %14s\n", "measure", "clients", "+ one stuck");
    const auto row = [&](const char *name, double a, double b, const char *format) {
        std::printf("%-34s ", name);
        std::printf(format, a);
        std::printf(" ");
        std::printf(format, b);
        std::printf("\n");
    };
    row("clients polling at 10 Hz", clients, clients, "%14.0f");
    row("wall time (s)", plain.seconds, stuck.seconds, "%14.1f");
    row("replies served per second",
        plain.replies / plain.seconds,
        stuck.replies / stuck.seconds,
        "%14.1f");
    row("Meas per second at the device",
        plain.deviceMeas / plain.seconds,
        stuck.deviceMeas / stuck.seconds,
        "%14.2f");
    row("reply latency median (ms)",
        percentile(plain.latencies, 50),
        percentile(stuck.latencies, 50),
        "%14.3f");
    row("reply latency p99 (ms)",
        percentile(plain.latencies, 99),
        percentile(stuck.latencies, 99),
        "%14.3f");
    row("agent CPU, share of one core (%)",
        100.0 * plain.cpuSeconds / plain.seconds,
        100.0 * stuck.cpuSeconds / stuck.seconds,
        "%14.2f");
    row("agent resident at start (KiB)", plain.rssStart, stuck.rssStart, "%14.0f");
    row("agent resident at end (KiB)", plain.rssEnd, stuck.rssEnd, "%14.0f");
    std::printf("stuck client dropped by the agent: %s\n",
                agent.stderrText().contains(QLatin1String("client_dropped")) ? "yes" : "no");
    return 0;
}
