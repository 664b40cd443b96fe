// korvane-fleet's cost with a lab on a real mosquitto: N publishers (50 by default), each
// an agent's status and state every second from a child process of this program, and
// korvane-fleet's model, feed and window (offscreen) here. Prints this process's CPU and
// memory, and the time from a message's arrival to the model's change, its window drawn.
// Usage: bench_fleetview [publishers] [seconds] (default 50 and 30).
#include "fleetfeed.h"
#include "fleetmodel.h"
#include "fleetwindow.h"
#include "mqttconnection.h"
#include "procstats.h"
#include "serverprocess.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QProcess>
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

QByteArray stateOf(int i)
{
    const QByteArray now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    const QByteArray power = QByteArray::number(10 + i % 7);
    return R"({"time":")" + now
           + R"(","interval_ms":1000,"model":"700136A","up":true,"status":"0","fault":false,)"
             R"("advertise":"127.0.0.1:2101","readings":{"power_a_w":)"
           + power
           + R"(,"power_b_w":11,"power_c_w":12,"cell1_c":31,"cell2_c":32,"driver_c":33},)"
             R"("settings":{"power_limit_w":100,"cell_limit_c":60,"driver_limit_c":70,)"
             R"("rf_enabled":true,"linearity_pct":50},"worst_severity":"NO_ALARM",)"
             R"("alarms":[],"lease":{"held":false}})";
}

// The child: `count` agents' worth of messages, each its own connection, spread over the
// second.
int publish(quint16 port, int count)
{
    std::vector<std::unique_ptr<MqttConnection>> publishers;
    for (int i = 0; i < count; ++i) {
        MqttConnection::Settings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.willTopic = QStringLiteral("korvane/amp%1/status").arg(i);
        settings.willPayload = "offline";
        auto connection = std::make_unique<MqttConnection>(settings);
        MqttConnection *raw = connection.get();
        QObject::connect(raw, &MqttConnection::connected, raw, [raw, i] {
            raw->publish(QStringLiteral("korvane/amp%1/status").arg(i), "online", 1, true);
        });
        auto *timer = new QTimer(raw);
        timer->setInterval(1000);
        QObject::connect(timer, &QTimer::timeout, raw, [raw, i] {
            raw->publish(QStringLiteral("korvane/amp%1/state").arg(i), stateOf(i), 0, true);
        });
        QTimer::singleShot(1000 * i / count, timer, [timer] { timer->start(); });
        connection->start();
        publishers.push_back(std::move(connection));
    }
    return QCoreApplication::exec();
}

double percentile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))] / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--publish") {
        QCoreApplication app(argc, argv);
        return publish(quint16(QByteArray(argv[2]).toUInt()), QByteArray(argv[3]).toInt());
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 50;
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 30;
    const QString mosquitto = ServerProcess::find(QStringLiteral("mosquitto"));
    if (mosquitto.isEmpty()) {
        std::fprintf(stderr, "bench_fleetview: needs mosquitto\n");
        return 1;
    }
    QTemporaryDir folder;
    const quint16 port = ServerProcess::freePort();
    ServerProcess broker;
    if (!broker.startMosquitto(folder.filePath(QStringLiteral("mosquitto.conf")),
                               "listener " + QByteArray::number(port)
                                   + " 127.0.0.1\nallow_anonymous true\n")) {
        std::fprintf(stderr, "bench_fleetview: %s\n", qPrintable(broker.errorString()));
        return 1;
    }
    QProcess publishers;
    publishers.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--publish"), QString::number(port), QString::number(count)});

    FleetModel model;
    FleetWindow window(&model, QStringLiteral("korvane-panel"));
    window.show();
    MqttConnection::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    FleetFeed feed(settings, &model);
    QElapsedTimer clock;
    clock.start();
    qint64 arrivedNs = -1;
    std::vector<qint64> latenciesUs;
    bool measuring = false;
    QObject::connect(&feed, &FleetFeed::received, &feed, [&] { arrivedNs = clock.nsecsElapsed(); });
    QObject::connect(&model, &FleetModel::tileChanged, &model, [&] {
        if (measuring && arrivedNs >= 0)
            latenciesUs.push_back((clock.nsecsElapsed() - arrivedNs) / 1000);
        arrivedNs = -1;
    });
    feed.start();
    // Every publisher's state in, then the measured window.
    QElapsedTimer warmUp;
    warmUp.start();
    while (int(model.order().size()) < count && !warmUp.hasExpired(30000))
        runFor(100);
    runFor(2000);
    measuring = true;
    const double cpuStart = ProcStats::cpuSeconds();
    runFor(seconds * 1000);
    const double cpu = ProcStats::cpuSeconds() - cpuStart;
    measuring = false;
    int live = 0;
    for (const QString &name : model.order())
        live += model.tile(name)->isLive() ? 1 : 0;
    publishers.kill();
    publishers.waitForFinished(5000);

    std::printf("| publishers | %d |\n", count);
    std::printf("| tiles, live at the end | %d, %d |\n", int(model.order().size()), live);
    std::printf("| state messages a second | %.1f |\n", latenciesUs.size() / double(seconds));
    std::printf("| CPU, this process | %.1f %% of one core |\n", 100.0 * cpu / seconds);
    std::printf("| resident memory, now / peak | %lld / %lld KiB |\n",
                static_cast<long long>(ProcStats::residentKiB()),
                static_cast<long long>(ProcStats::peakResidentKiB()));
    std::printf("| arrival to model change, median / 99th / max | %.3f / %.3f / %.3f ms |\n",
                percentile(latenciesUs, 0.5),
                percentile(latenciesUs, 0.99),
                percentile(latenciesUs, 1.0));
    return 0;
}
