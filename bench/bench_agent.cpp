// korvane-agent in front of korvane-sim with many clients polling "Meas" at 10 Hz: replies
// served, what reaches the device, reply latency, and the agent's CPU and memory. A second
// phase adds a client that never reads; a third, where mosquitto is installed, runs an agent
// with its telemetry on: /metrics scraped every second and MQTT at 10 messages a second; a
// fourth puts the same clients before a simulator that keeps a 9600-baud line's pace.
// Usage: bench_agent [seconds per phase] [clients] [agent] (default 30, 50 and the agent
// built here; another build's agent to compare the two on the same machine).
#include "agentclients.h"
#include "frameassembler.h"
#include "procstats.h"
#include "serverprocess.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Sits between the agent and the simulator and counts the "Meas" and "Status" lines the
// device gets.
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
                statusLines += bytes.count("Status\r\n");
                commandBytes += bytes.size();
                device->write(bytes);
            });
            connect(device, &QTcpSocket::readyRead, agent, [this, agent, device] {
                const QByteArray bytes = device->readAll();
                replyBytes += bytes.size();
                agent->write(bytes);
            });
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    qint64 measLines = 0;
    qint64 statusLines = 0;
    qint64 commandBytes = 0;
    qint64 replyBytes = 0;

private:
    QTcpServer m_server;
    quint16 m_devicePort = 0;
};

// Asks for /metrics once a second, as a Prometheus server would, counting whole answers.
class Scraper : public QObject
{
public:
    explicit Scraper(quint16 port)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, port] {
            auto *socket = new QTcpSocket(this);
            auto *answer = new QByteArray;
            connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
                *answer += socket->readAll();
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket, answer] {
                if (answer->contains(" 200 OK\r\n") && answer->contains("korvane_up"))
                    ++scrapes;
                delete answer;
                socket->deleteLater();
            });
            socket->connectToHost(QHostAddress::LocalHost, port);
            socket->write("GET /metrics HTTP/1.0\r\n\r\n");
        });
        m_timer.start(1000);
    }
    qint64 scrapes = 0;

private:
    QTimer m_timer;
};

struct Phase
{
    double seconds = 0;
    qint64 replies = 0;
    qint64 deviceMeas = 0;
    qint64 deviceStatus = 0;
    qint64 commandBytes = 0;
    qint64 replyBytes = 0;
    std::vector<double> latencies;
    double cpuSeconds = 0;
    qint64 rssStart = 0;
    qint64 rssEnd = 0;
    qint64 scrapes = 0;
    qint64 stateMessages = 0;
};

Phase runPhase(qint64 agentPid,
               quint16 agentPort,
               CountingProxy &proxy,
               int clients,
               int seconds,
               bool withStuckClient,
               quint16 metricsPort = 0,
               ServerProcess *subscriber = nullptr)
{
    Phase phase;
    std::unique_ptr<Scraper> scraper;
    if (metricsPort != 0)
        scraper = std::make_unique<Scraper>(metricsPort);
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
    const qint64 statusStart = proxy.statusLines;
    const qint64 commandStart = proxy.commandBytes;
    const qint64 replyStart = proxy.replyBytes;
    const auto stateMessages = [subscriber] {
        return subscriber ? subscriber->output().count(QLatin1String("'korvane/bench/state'")) : 0;
    };
    const qint64 messagesStart = stateMessages();
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
    phase.deviceStatus = proxy.statusLines - statusStart;
    phase.commandBytes = proxy.commandBytes - commandStart;
    phase.replyBytes = proxy.replyBytes - replyStart;
    phase.cpuSeconds = end.cpuSeconds - start.cpuSeconds;
    phase.rssStart = start.residentKiB;
    phase.rssEnd = end.residentKiB;
    phase.scrapes = scraper ? scraper->scrapes : 0;
    phase.stateMessages = stateMessages() - messagesStart;
    return phase;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 30;
    const int clients = argc > 2 ? QByteArray(argv[2]).toInt() : 50;
    const QString agentPath = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                       : QStringLiteral(KORVANE_AGENT_PATH);

    SimProcess sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_agent: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    CountingProxy proxy;
    if (!proxy.listen(sim.port()))
        return 1;
    SimProcess agent;
    if (!agent.startProgram(agentPath,
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
    const bool stuckDropped = agent.stderrText().contains(QLatin1String("client_dropped"));
    agent.stop();

    // The same clients once more, with the telemetry on and a broker to take it.
    Phase telemetry;
    const QString mosquitto = ServerProcess::find(QStringLiteral("mosquitto"));
    const QString subscriberPath = ServerProcess::find(QStringLiteral("mosquitto_sub"));
    QTemporaryDir folder;
    ServerProcess broker;
    ServerProcess subscriber;
    SimProcess watched;
    if (mosquitto.isEmpty() || subscriberPath.isEmpty()) {
        std::fprintf(stderr, "bench_agent: mosquitto is not installed: no telemetry phase\n");
    } else {
        const quint16 brokerPort = ServerProcess::freePort();
        QFile config(folder.filePath(QStringLiteral("mosquitto.conf")));
        config.open(QIODevice::WriteOnly);
        config.write("listener " + QByteArray::number(brokerPort)
                     + " 127.0.0.1\nallow_anonymous true\npersistence false\n");
        config.close();
        const QString brokerAddress = QStringLiteral("127.0.0.1:%1").arg(brokerPort);
        if (!broker.start(mosquitto,
                          {QStringLiteral("-c"), config.fileName()},
                          QStringLiteral(" running"))
            || !subscriber.start(ServerProcess::find(QStringLiteral("stdbuf")),
                                 {QStringLiteral("-oL"),
                                  subscriberPath,
                                  QStringLiteral("-d"),
                                  QStringLiteral("-h"),
                                  QStringLiteral("127.0.0.1"),
                                  QStringLiteral("-p"),
                                  QString::number(brokerPort),
                                  QStringLiteral("-t"),
                                  QStringLiteral("korvane/bench/state")},
                                 QStringLiteral("SUBACK"))
            || !watched.startProgram(agentPath,
                                     {QStringLiteral("--host"),
                                      QStringLiteral("127.0.0.1"),
                                      QStringLiteral("--port"),
                                      QString::number(proxy.port()),
                                      QStringLiteral("--listen"),
                                      QStringLiteral("127.0.0.1:0"),
                                      QStringLiteral("--metrics"),
                                      QStringLiteral("127.0.0.1:0"),
                                      QStringLiteral("--mqtt"),
                                      brokerAddress,
                                      QStringLiteral("--name"),
                                      QStringLiteral("bench"),
                                      QStringLiteral("--mqtt-interval"),
                                      QStringLiteral("100")})
            || !watched.waitForReport(QStringLiteral("model_identified"))
            || !watched.waitForReport(QStringLiteral("mqtt_connected"))) {
            std::fprintf(stderr,
                         "bench_agent: %s%s%s\n",
                         qPrintable(broker.errorString()),
                         qPrintable(subscriber.errorString()),
                         qPrintable(watched.errorString()));
            return 1;
        }
        const quint16 metricsPort = quint16(
            QRegularExpression(QStringLiteral(R"(metrics=127\.0\.0\.1:(\d+))"))
                .match(watched.stderrText())
                .captured(1)
                .toUInt());
        telemetry = runPhase(watched.processId(),
                             watched.port(),
                             proxy,
                             clients,
                             seconds,
                             false,
                             metricsPort,
                             &subscriber);
    }

    // The same clients once more, before an amplifier on a 9600-baud line.
    constexpr int Baud = 9600;
    SimProcess slowSim;
    CountingProxy slowProxy;
    SimProcess slowAgent;
    if (!slowSim.start({QStringLiteral("--baud"), QString::number(Baud)})
        || !slowProxy.listen(slowSim.port())
        || !slowAgent.startProgram(agentPath,
                                   {QStringLiteral("--host"),
                                    QStringLiteral("127.0.0.1"),
                                    QStringLiteral("--port"),
                                    QString::number(slowProxy.port()),
                                    QStringLiteral("--listen"),
                                    QStringLiteral("127.0.0.1:0")})
        || !slowAgent.waitForReport(QStringLiteral("model_identified"))) {
        std::fprintf(stderr,
                     "bench_agent: %s%s\n",
                     qPrintable(slowSim.errorString()),
                     qPrintable(slowAgent.errorString()));
        return 1;
    }
    const Phase slow
        = runPhase(slowAgent.processId(), slowAgent.port(), slowProxy, clients, seconds, false);

    std::printf("%-34s %14s %14s %14s %14s\n",
                "measure",
                "clients",
                "+ one stuck",
                "+ telemetry",
                "9600 baud");
    const auto row = [&](const char *name, const char *format, auto measure) {
        std::printf("%-34s", name);
        for (const Phase *phase : {&plain,
                                   &stuck,
                                   static_cast<const Phase *>(&telemetry),
                                   static_cast<const Phase *>(&slow)}) {
            std::printf(" ");
            if (phase->seconds > 0)
                std::printf(format, double(measure(*phase)));
            else
                std::printf("%14s", "-");
        }
        std::printf("\n");
    };
    row("clients polling at 10 Hz", "%14.0f", [&](const Phase &) { return clients; });
    row("wall time (s)", "%14.1f", [](const Phase &p) { return p.seconds; });
    row("replies served per second", "%14.1f", [](const Phase &p) { return p.replies / p.seconds; });
    row("Meas per second at the device", "%14.2f", [](const Phase &p) {
        return p.deviceMeas / p.seconds;
    });
    row("Status per second at the device", "%14.2f", [](const Phase &p) {
        return p.deviceStatus / p.seconds;
    });
    // Ten bits a byte on an 8N1 line: the share of the line's time each direction takes.
    row("line use, replies (% of 9600 baud)", "%14.1f", [](const Phase &p) {
        return 100.0 * p.replyBytes * 10 / Baud / p.seconds;
    });
    row("line use, commands (% of 9600 baud)", "%14.1f", [](const Phase &p) {
        return 100.0 * p.commandBytes * 10 / Baud / p.seconds;
    });
    row("reply latency median (ms)", "%14.3f", [](const Phase &p) {
        return percentile(p.latencies, 50);
    });
    row("reply latency p99 (ms)", "%14.3f", [](const Phase &p) {
        return percentile(p.latencies, 99);
    });
    row("agent CPU, share of one core (%)", "%14.2f", [](const Phase &p) {
        return 100.0 * p.cpuSeconds / p.seconds;
    });
    row("agent resident at start (KiB)", "%14.0f", [](const Phase &p) { return p.rssStart; });
    row("agent resident at end (KiB)", "%14.0f", [](const Phase &p) { return p.rssEnd; });
    row("scrapes of /metrics per second", "%14.2f", [](const Phase &p) {
        return p.scrapes / p.seconds;
    });
    row("MQTT state messages per second", "%14.2f", [](const Phase &p) {
        return p.stateMessages / p.seconds;
    });
    std::printf("stuck client dropped by the agent: %s\n", stuckDropped ? "yes" : "no");
    return 0;
}
