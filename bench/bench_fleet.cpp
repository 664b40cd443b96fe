// A lab's fleet on one machine: N simulators, each behind its korvane-agent with --metrics and
// --mqtt, one real Prometheus scraping every agent each second and one mosquitto taking
// their telemetry. Prints each agent's CPU and memory, what Prometheus sees
// (count(korvane_up == 1)) and the MQTT state messages a second.
// Usage: bench_fleet [amplifiers] [seconds] (default 32 and 60).
#include "procstats.h"
#include "prometheusquery.h"
#include "serverprocess.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The value of a Prometheus instant query with one result, or -1.
double query(QNetworkAccessManager *network, quint16 port, const QString &expression)
{
    const QString value = prometheusValue(network, port, expression);
    return value.isEmpty() ? -1 : value.toDouble();
}

int fail(const QString &why)
{
    std::fprintf(stderr, "bench_fleet: %s\n", qPrintable(why));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int amplifiers = argc > 1 ? QByteArray(argv[1]).toInt() : 32;
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 60;
    const QString mosquitto = ServerProcess::find(QStringLiteral("mosquitto"));
    const QString subscriberPath = ServerProcess::find(QStringLiteral("mosquitto_sub"));
    const QString prometheus = ServerProcess::find(QStringLiteral("prometheus"));
    if (mosquitto.isEmpty() || subscriberPath.isEmpty() || prometheus.isEmpty())
        return fail(QStringLiteral("needs mosquitto, mosquitto-clients and prometheus"));
    QTemporaryDir folder;

    const quint16 brokerPort = ServerProcess::freePort();
    QFile brokerConfig(folder.filePath(QStringLiteral("mosquitto.conf")));
    brokerConfig.open(QIODevice::WriteOnly);
    brokerConfig.write("listener " + QByteArray::number(brokerPort)
                       + " 127.0.0.1\nallow_anonymous true\npersistence false\n");
    brokerConfig.close();
    ServerProcess broker;
    ServerProcess subscriber;
    if (!broker.start(mosquitto, {QStringLiteral("-c"), brokerConfig.fileName()}, " running")
        || !subscriber.start(ServerProcess::find(QStringLiteral("stdbuf")),
                             {QStringLiteral("-oL"),
                              subscriberPath,
                              QStringLiteral("-v"),
                              QStringLiteral("-h"),
                              QStringLiteral("127.0.0.1"),
                              QStringLiteral("-p"),
                              QString::number(brokerPort),
                              QStringLiteral("-d"),
                              QStringLiteral("-t"),
                              QStringLiteral("korvane/+/state")},
                             QStringLiteral("SUBACK")))
        return fail(broker.errorString() + subscriber.errorString());

    // The fleet: each amplifier's simulator and its agent.
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<SimProcess>> agents;
    QByteArray targets;
    const QRegularExpression metricsAt(QStringLiteral(R"(metrics=127\.0\.0\.1:(\d+))"));
    for (int i = 0; i < amplifiers; ++i) {
        auto sim = std::make_unique<SimProcess>();
        auto agent = std::make_unique<SimProcess>();
        if (!sim->start())
            return fail(sim->errorString());
        if (!agent->startProgram(QStringLiteral(KORVANE_AGENT_PATH),
                                 {QStringLiteral("--host"),
                                  QStringLiteral("127.0.0.1"),
                                  QStringLiteral("--port"),
                                  QString::number(sim->port()),
                                  QStringLiteral("--listen"),
                                  QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--metrics"),
                                  QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--mqtt"),
                                  QStringLiteral("127.0.0.1:%1").arg(brokerPort),
                                  QStringLiteral("--name"),
                                  QStringLiteral("amp%1").arg(i, 2, 10, QLatin1Char('0'))})
            || !agent->waitForReport(QStringLiteral("mqtt_connected")))
            return fail(agent->errorString());
        const QString port = metricsAt.match(agent->stderrText()).captured(1);
        targets += (targets.isEmpty() ? "'127.0.0.1:" : ", '127.0.0.1:") + port.toLatin1() + "'";
        sims.push_back(std::move(sim));
        agents.push_back(std::move(agent));
    }

    QFile config(folder.filePath(QStringLiteral("prometheus.yml")));
    config.open(QIODevice::WriteOnly);
    config.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                 "scrape_configs:\n  - job_name: korvane\n    static_configs:\n"
                 "      - targets: ["
                 + targets + "]\n");
    config.close();
    const quint16 prometheusPort = ServerProcess::freePort();
    ServerProcess server;
    if (!server.start(prometheus,
                      {QStringLiteral("--config.file=") + config.fileName(),
                       QStringLiteral("--storage.tsdb.path=") + folder.filePath("tsdb"),
                       QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)},
                      QStringLiteral("Server is ready to receive web requests"),
                      60000))
        return fail(server.errorString());
    QNetworkAccessManager network;
    const QString allUp = QStringLiteral("count(korvane_up == 1)");
    QElapsedTimer settling;
    settling.start();
    while (query(&network, prometheusPort, allUp) < amplifiers && !settling.hasExpired(60000))
        runFor(500);

    // The window measured.
    const auto stateMessages = [&subscriber] {
        return subscriber.output().count(QRegularExpression(QStringLiteral("^korvane/\\S+/state "),
                                                            QRegularExpression::MultilineOption));
    };
    std::vector<ProcStats::Sample> start;
    for (const auto &agent : agents)
        start.push_back(ProcStats::sampleOf(agent->processId()));
    const int messagesStart = stateMessages();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double elapsed = wall.elapsed() / 1000.0;
    std::vector<double> cpu;
    std::vector<double> memory;
    for (size_t i = 0; i < agents.size(); ++i) {
        const ProcStats::Sample end = ProcStats::sampleOf(agents[i]->processId());
        cpu.push_back(100.0 * (end.cpuSeconds - start[i].cpuSeconds) / elapsed);
        memory.push_back(end.residentKiB / 1024.0);
    }
    const int messages = stateMessages() - messagesStart;
    const double up = query(&network, prometheusPort, allUp);
    const double scrapedUp = query(&network, prometheusPort, QStringLiteral("count(up == 1)"));
    const ProcStats::Sample prometheusNow = ProcStats::sampleOf(server.processId());

    const auto mean = [](const std::vector<double> &values) {
        double sum = 0;
        for (const double value : values)
            sum += value;
        return values.empty() ? 0 : sum / double(values.size());
    };
    const auto most = [](const std::vector<double> &values) {
        return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    };
    std::printf("%-46s %12s\n", "measure", "value");
    std::printf("%-46s %12d\n", "amplifiers (simulator + agent each)", amplifiers);
    std::printf("%-46s %12.1f\n", "window (s)", elapsed);
    std::printf("%-46s %12.3f\n", "agent CPU, mean (% of one core)", mean(cpu));
    std::printf("%-46s %12.3f\n", "agent CPU, highest (% of one core)", most(cpu));
    std::printf("%-46s %12.2f\n", "agent resident memory, mean (MiB)", mean(memory));
    std::printf("%-46s %12.2f\n", "agent resident memory, highest (MiB)", most(memory));
    std::printf("%-46s %12.0f\n", "Prometheus: count(korvane_up == 1)", up);
    std::printf("%-46s %12.0f\n", "Prometheus: count(up == 1)", scrapedUp);
    std::printf("%-46s %12.2f\n",
                "Prometheus resident memory (MiB)",
                prometheusNow.residentKiB / 1024.0);
    std::printf("%-46s %12.1f\n", "MQTT state messages per second, all", messages / elapsed);
    std::printf("%-46s %12.2f\n",
                "MQTT state messages per second, per amplifier",
                messages / elapsed / amplifiers);
    return up == amplifiers ? 0 : 1;
}
