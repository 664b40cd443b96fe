#include "agentoptions.h"
#include "agentrequests.h"
#include "agentserver.h"
#include "alarmwatch.h"
#include "controllease.h"
#include "devicesession.h"
#include "eventwatch.h"
#include "eventthrottle.h"
#include "journal.h"
#include "metricsserver.h"
#include "webguard.h"
#include "mqttpublisher.h"
#include "signalnotifier.h"
#include "telemetrystate.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

// Each client holds two descriptors (one to write its answers after it has hung up); the
// agent's own files, the device and the telemetry need about this many besides.
constexpr rlim_t OwnDescriptors = 64;

void warnIfFewDescriptors(int maxClients)
{
    rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return;
    if (limit.rlim_cur < 2 * rlim_t(maxClients) + OwnDescriptors)
        QTextStream(stderr) << "korvane-agent: only " << limit.rlim_cur
                            << " file descriptors for up to " << maxClients
                            << " clients: connections wait while they run out\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A file size limit fails the journal's writes, as a full disk does, instead of ending
    // the agent.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("korvane-agent"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));

    AgentOptions options;
    int exitStatus = 0;
    if (!options.parse(QCoreApplication::arguments(), &exitStatus))
        return exitStatus;
    QString fileError;
    if (!options.security.loadFiles(&fileError)) {
        QTextStream(stderr) << "korvane-agent: " << fileError << '\n';
        return 1;
    }
    options.security.applyTo(&options.device);
    if (options.checkOnly) {
        std::fputs(qPrintable(options.describe()), stdout);
        return 0;
    }

    QTextStream err(stderr);
    Journal journal;
    QString error;
    if (!options.eventsPath.isEmpty() && !journal.open(options.eventsPath, &error)) {
        // The error names the file.
        err << "korvane-agent: cannot open " << error << '\n';
        return 1;
    }

    DeviceSession device(options.device, options.timeoutMs);
    device.setStatusInterval(options.statusIntervalMs);
    EventWatch watch(&device, &journal);
    AlarmWatch alarms(options.alarms, &device, &journal);
    alarms.setMaxShelve(options.maxShelveS);
    if (!options.eventsPath.isEmpty()
        && !alarms.useStateFile(AlarmWatch::statePathFor(options.eventsPath), &error)) {
        err << "korvane-agent: " << error << '\n';
        return 1;
    }
    ControlLease lease(&journal);
    AgentRequests requests(&alarms, &lease);
    AgentServer server(&device, options.access, &journal);
    server.setRequests(&requests, options.adminNames);
    server.setMaxClients(options.maxClients);
    server.setIdleTimeout(options.idleTimeoutS * 1000);
    warnIfFewDescriptors(options.maxClients);
    if (options.security.servesTls())
        server.setTls(options.security.serverConfiguration(),
                      options.security.verifiesClients(),
                      options.security.controlNames);
    if (!server.listen(options.listenAddress, options.listenPort)) {
        err << "korvane-agent: cannot listen on " << options.listenAddress.toString() << ':'
            << options.listenPort << ": " << server.errorString() << '\n';
        return 1;
    }
    TelemetryState telemetry(&device, &watch, &server);
    telemetry.watch(&alarms, &lease);
    // Refused logins to /metrics, a row a minute per address with the count since.
    EventThrottle metricsThrottle(&journal);
    std::unique_ptr<MetricsServer> metrics;
    if (!options.metricsAddress.isNull()) {
        metrics = std::make_unique<MetricsServer>();
        if (!options.security.webConfigFile.isEmpty()) {
            metrics->setWebConfig(options.security.webConfig);
            // Told on the server's threads; journalled on this one.
            metrics->guard()->setFailureListener([&metricsThrottle](const QString &address,
                                                                    const QString &user,
                                                                    const QString &reason) {
                QMetaObject::invokeMethod(
                    &metricsThrottle,
                    [&metricsThrottle, address, user, reason] {
                        static const EventThrottle::Pace pace{60 * 1000, QStringLiteral("count")};
                        metricsThrottle.record(address,
                                               Event::MetricsAuthFailed,
                                               {{QStringLiteral("client"), address},
                                                {QStringLiteral("user"), user},
                                                {QStringLiteral("reason"), reason}},
                                               pace);
                    },
                    Qt::QueuedConnection);
            });
        }
        if (!metrics->listen(options.metricsAddress, options.metricsPort, &error)) {
            err << "korvane-agent: cannot serve metrics on " << options.metricsAddress.toString()
                << ':' << options.metricsPort << ": " << error << '\n';
            return 1;
        }
        metrics->update(telemetry.snapshot());
        QObject::connect(&telemetry, &TelemetryState::changed, &app, [&] {
            metrics->update(telemetry.snapshot());
        });
    }
    std::unique_ptr<MqttPublisher> mqtt;
    const auto startMqtt = [&](const QString &model) {
        MqttPublisher::Settings settings;
        settings.broker.host = options.mqttHost;
        settings.broker.port = options.mqttPort;
        options.security.applyTo(&settings.broker);
        settings.prefix = options.topicPrefix(model);
        settings.intervalMs = options.mqttIntervalMs;
        settings.advertise = options.advertise(server.address(), server.port());
        mqtt = std::make_unique<MqttPublisher>(settings, &telemetry, &journal);
        QObject::connect(mqtt.get(), &MqttPublisher::eventDropped, &telemetry, [&] {
            telemetry.countDroppedMqttEvent();
        });
        mqtt->start();
    };
    if (!options.mqttHost.isEmpty()) {
        if (!options.name.isEmpty() || !options.mqttPrefix.isEmpty()) {
            startMqtt(QString());
        } else {
            // The topics are named after the model: publishing starts once it is known.
            QObject::connect(&telemetry, &TelemetryState::changed, &app, [&] {
                if (!mqtt && !telemetry.snapshot().model.isEmpty())
                    startMqtt(telemetry.snapshot().model);
            });
        }
    }

    // The first line tells scripts and tests where the agent serves (with --listen ...:0).
    std::printf("listening %s:%u\n", qPrintable(server.address().toString()), server.port());
    QJsonObject
        started{{QStringLiteral("device"), device.deviceText()},
                {QStringLiteral("listen"),
                 QStringLiteral("%1:%2").arg(server.address().toString()).arg(server.port())}};
    if (metrics) {
        const QString where
            = QStringLiteral("%1:%2").arg(options.metricsAddress.toString()).arg(metrics->port());
        std::printf("metrics %s\n", qPrintable(where));
        started.insert(QStringLiteral("metrics"), where);
    }
    std::fflush(stdout);
    journal.record(Event::Started, started);

    SignalNotifier signals_;
    if (!signals_.install()) {
        err << "korvane-agent: cannot take over SIGINT and SIGTERM\n";
        return 1;
    }
    QObject::connect(&signals_, &SignalNotifier::received, &app, [&] {
        // The link goes down because the agent stops, not the amplifier: no alarm of it.
        QObject::disconnect(&device, nullptr, &alarms, nullptr);
        device.stop();
        journal.recordLast(Event::Stopped, started);
        // After the last event, so that it goes out too.
        if (mqtt)
            mqtt->stop();
        QCoreApplication::exit(0);
    });

    device.start();
    return app.exec();
}
