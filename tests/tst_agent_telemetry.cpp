#include "agentoptions.h"
#include "agentpair.h"
#include "event.h"
#include "frameassembler.h"
#include "metricsserver.h"
#include "prometheusserver.h"
#include "replies.h"
#include "serverprocess.h"
#include "simprocess.h"
#include "waiting.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

const char MosquittoMissing[]
    = "mosquitto is not installed (Debian packages mosquitto and mosquitto-clients)";

bool mosquittoInstalled()
{
    return !ServerProcess::find(QStringLiteral("mosquitto")).isEmpty()
           && !ServerProcess::find(QStringLiteral("mosquitto_sub")).isEmpty();
}

// One HTTP exchange on a raw socket, so that any request shape can be sent: the whole answer
// as the server wrote it before closing.
QByteArray http(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    // The server closes the connection after its answer.
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(15000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

int statusOf(const QByteArray &answer)
{
    return answer.split(' ').value(1).toInt();
}

QByteArray bodyOf(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// The value of an unlabelled sample, or of one with exactly these labels; null if absent.
QByteArray sample(const QByteArray &page, const QByteArray &name)
{
    for (const QByteArray &line : page.split('\n')) {
        if (line.startsWith(name + ' '))
            return line.mid(name.size() + 1);
    }
    return {};
}

using AgentPair::ask;

// An MQTT subscriber (mosquitto_sub) that keeps each message as "RETAINED TOPIC PAYLOAD".
class Subscriber
{
public:
    bool start(quint16 brokerPort, const QString &topic)
    {
        // Line-buffered: it keeps its output in a block buffer when it goes to a pipe.
        return m_process.start(ServerProcess::find(QStringLiteral("stdbuf")),
                               {QStringLiteral("-oL"),
                                ServerProcess::find(QStringLiteral("mosquitto_sub")),
                                QStringLiteral("-h"),
                                QStringLiteral("127.0.0.1"),
                                QStringLiteral("-p"),
                                QString::number(brokerPort),
                                QStringLiteral("-q"),
                                QStringLiteral("1"),
                                QStringLiteral("-d"),
                                QStringLiteral("-t"),
                                topic,
                                QStringLiteral("-F"),
                                QStringLiteral("MSG %r %t %p")},
                               QStringLiteral("SUBACK"));
    }
    QStringList messages()
    {
        QStringList found;
        for (const QString &line : m_process.output().split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("MSG ")))
                found.append(line.mid(4));
        }
        return found;
    }
    // The quality of service of each message received on `topic`, as "q0", "q1" ...
    QStringList qualitiesOn(const QString &topic)
    {
        QStringList found;
        const QRegularExpression publish(
            QStringLiteral(R"(received PUBLISH \(d\d, (q\d), r\d, m\d+, '([^']*)')"));
        for (const QString &line : m_process.output().split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = publish.match(line);
            if (match.hasMatch() && match.captured(2) == topic)
                found.append(match.captured(1));
        }
        return found;
    }
    QStringList messagesOn(const QString &topic)
    {
        QStringList payloads;
        for (const QString &message : messages()) {
            const QStringList parts = message.split(QLatin1Char(' '));
            if (parts.value(1) == topic)
                payloads.append(message.section(QLatin1Char(' '), 2));
        }
        return payloads;
    }
    // Waits until `topic` has a message for which `match` holds.
    template<typename Match>
    bool waitFor(const QString &topic, Match match, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            for (const QString &payload : messagesOn(topic)) {
                if (match(payload))
                    return true;
            }
            m_process.waitForOutput(QStringLiteral("MSG "),
                                    m_process.output().count(QLatin1String("MSG ")) + 1,
                                    int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return false;
    }
    QString errorString() const { return m_process.errorString(); }

private:
    ServerProcess m_process;
};

// A stand-in broker that takes connections and answers them badly: at once and then closes
// (`flood` < 0), or after the client's first bytes, keeping the connection, reading and
// discarding what comes and sending `flood` bytes more, a slice at a time.
class BadBroker : public QObject
{
public:
    explicit BadBroker(const QByteArray &answer, int flood = -1)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this, answer, flood] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                if (flood < 0) {
                    socket->write(answer);
                    socket->flush();
                    socket->disconnectFromHost();
                    continue;
                }
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, socket, [socket, answer, flood] {
                    socket->readAll();
                    if (socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write(answer);
                    auto *timer = new QTimer(socket);
                    connect(timer, &QTimer::timeout, socket, [socket, timer, flood] {
                        const int sent = socket->property("sent").toInt();
                        if (sent >= flood || socket->state() != QAbstractSocket::ConnectedState) {
                            timer->stop();
                            return;
                        }
                        if (socket->bytesToWrite() < 256 * 1024) {
                            socket->write(QByteArray(64 * 1024, 'x'));
                            socket->setProperty("sent", sent + 64 * 1024);
                        }
                    });
                    timer->start(5);
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections = 0;

private:
    QTcpServer m_server;
};

} // namespace

// korvane-agent's telemetry, against the real Prometheus tools and the real Mosquitto broker.
class tst_AgentTelemetry : public QObject
{
    Q_OBJECT

private slots:
    void metricsPage();
    void labelValuesEscaped();
    void metricsFollowTheDevice();
    void badRequests_data();
    void badRequests();
    void slowRequestIsCutOff_data();
    void slowRequestIsCutOff();
    void prometheusScrapesTheAgent();
    void advertisedAddress_data();
    void advertisedAddress();
    void mqttTelemetry();
    void brokerStoppedAndRestarted();
    void mqttEventsEndWithStopped();
    void brokerAnswersBadly_data();
    void brokerAnswersBadly();
    void brokerAbuses_data();
    void brokerAbuses();
    void silentDeviceShowsNothingStale();

private:
    // Starts the simulator and an agent in front of it with `agentArguments`.
    bool startPair(const QStringList &agentArguments);
    quint16 metricsPort();
    QByteArray scrape();
    bool startBroker(ServerProcess *broker, quint16 port);

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<SimProcess> m_agent;
    QTemporaryDir m_folder;
};

bool tst_AgentTelemetry::startPair(const QStringList &agentArguments)
{
    return AgentPair::start(&m_sim, &m_agent, QStringLiteral(KORVANE_AGENT_PATH), agentArguments);
}

quint16 tst_AgentTelemetry::metricsPort()
{
    return AgentPair::metricsPort(m_agent.get());
}

QByteArray tst_AgentTelemetry::scrape()
{
    return bodyOf(http(metricsPort(), "GET /metrics HTTP/1.0\r\n\r\n"));
}

bool tst_AgentTelemetry::startBroker(ServerProcess *broker, quint16 port)
{
    if (!broker->startMosquitto(m_folder.filePath(QStringLiteral("mosquitto-%1.conf").arg(port)),
                                "listener " + QByteArray::number(port)
                                    + " 127.0.0.1\nallow_anonymous true\n")) {
        qWarning("%s", qPrintable(broker->errorString()));
        return false;
    }
    return true;
}

void tst_AgentTelemetry::metricsPage()
{
    QVERIFY(startPair({QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
    QVERIFY(metricsPort() != 0);
    // The first reading arrives within a poll or two.
    QByteArray page;
    QTRY_VERIFY(!sample(page = scrape(), "korvane_output_power_watts{channel=\"C\"}").isNull());

    const QByteArray answer = http(metricsPort(),
                                   "GET /metrics HTTP/1.1\r\nHost: x\r\n"
                                   "Connection: close\r\n\r\n");
    QCOMPARE(statusOf(answer), 200);
    QVERIFY(answer.contains("Content-Type: text/plain; version=0.0.4"));
    QCOMPARE(sample(page, "korvane_up"), QByteArray("1"));
    QCOMPARE(sample(page, "korvane_info{model=\"700136A\"}"), QByteArray("1"));
    QCOMPARE(sample(page, "korvane_fault"), QByteArray("0"));
    QCOMPARE(sample(page, "korvane_status_code"), QByteArray("48"));
    QCOMPARE(sample(page, "korvane_link_losses_total"), QByteArray("0"));
    QCOMPARE(sample(page, "korvane_refused_clients_total"), QByteArray("0"));
    // The settings as the device states them.
    const Reply::Status status = Reply::decodeStatus(ask(m_agent->port(), "Status"));
    QCOMPARE(status.fieldCount, Reply::StatusFieldCount);
    QCOMPARE(sample(page, "korvane_power_limit_watts").toDouble(), status.maxPowerW);
    QCOMPARE(sample(page, "korvane_temperature_limit_celsius{sensor=\"cell\"}").toInt(),
             status.maxCellTempC);
    QCOMPARE(sample(page, "korvane_temperature_limit_celsius{sensor=\"driver\"}").toInt(),
             status.maxDrvTempC);
    QCOMPARE(sample(page, "korvane_gain_decibels{channel=\"B\"}").toDouble(), status.gainDb[1]);
    QCOMPARE(sample(page, "korvane_rf_enabled").toInt(), status.rfOn ? 1 : 0);
    QCOMPARE(sample(page, "korvane_linearity_ratio").toDouble(), status.linearityPct / 100.0);
    const double cell = sample(page, "korvane_temperature_celsius{sensor=\"cell1\"}").toDouble();
    QVERIFY2(cell > 15 && cell < 60, page.constData());
    // The alarms, each with its own samples, and no lease.
    QCOMPARE(sample(page, "korvane_alarm_severity{alarm=\"link\"}"), QByteArray("0"));
    QCOMPARE(sample(page, "korvane_alarm_unacknowledged{alarm=\"power_c\"}"), QByteArray("0"));
    QCOMPARE(sample(page, "korvane_alarm_shelved{alarm=\"cell2_temperature\"}"), QByteArray("0"));
    QCOMPARE(sample(page, "korvane_lease_held"), QByteArray("0"));

    const QString promtool = ServerProcess::find(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is not installed (Debian package prometheus): the exposition is not "
              "linted");
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY(check.waitForStarted());
    check.write(page);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    QVERIFY2(check.exitCode() == 0, check.readAll().constData());
}

// A model text is the device's to choose: quotes, backslashes and line ends in it must not
// break the exposition.
void tst_AgentTelemetry::labelValuesEscaped()
{
    TelemetryState::Snapshot snapshot;
    snapshot.model = QStringLiteral("7\"0\\1\n}");
    const QByteArray page = MetricsServer::exposition(snapshot);
    QVERIFY2(page.contains("korvane_info{model=\"7\\\"0\\\\1\\n}\"} 1\n"), page.constData());
}

// An amplifier that stops answering, its link still open: nothing it said before is served
// as live, to clients or scrapers.
void tst_AgentTelemetry::silentDeviceShowsNothingStale()
{
    m_agent.reset();
    m_sim = std::make_unique<SimProcess>();
    QVERIFY(m_sim->start({QStringLiteral("--mute-after"), QStringLiteral("30")}));
    m_agent = std::make_unique<SimProcess>();
    QVERIFY(m_agent->startProgram(QStringLiteral(KORVANE_AGENT_PATH),
                                  {QStringLiteral("--host"),
                                   QStringLiteral("127.0.0.1"),
                                   QStringLiteral("--port"),
                                   QString::number(m_sim->port()),
                                   QStringLiteral("--listen"),
                                   QStringLiteral("127.0.0.1:0"),
                                   QStringLiteral("--metrics"),
                                   QStringLiteral("127.0.0.1:0")}));
    QVERIFY(m_agent->waitForReport(QStringLiteral("no_reply")));
    // (Silent for 5 s, the link is opened again and the simulator answers 30 more: on a
    // loaded machine the page is looked at while it is silent.)
    QByteArray page;
    QTRY_COMPARE(sample(page = scrape(), "korvane_up"), QByteArray("0"));
    QVERIFY2(!page.contains("korvane_temperature_celsius{"), page.constData());
    // The last reading is not handed out as an answer either.
    QTRY_COMPARE(ask(m_agent->port(), "Meas"), QByteArray());
}

void tst_AgentTelemetry::metricsFollowTheDevice()
{
    // Settings are read again only an hour apart, or when something says they changed.
    QVERIFY(startPair({QStringLiteral("--metrics"),
                       QStringLiteral("127.0.0.1:0"),
                       QStringLiteral("--status-interval"),
                       QStringLiteral("3600000")}));
    QTRY_COMPARE(sample(scrape(), "korvane_up"), QByteArray("1"));
    const quint16 simPort = m_sim->port();

    // Once the reads at connect and after the first reading are done, a setting made through
    // the agent shows at once: the agent reads the settings back.
    QTRY_VERIFY(!sample(scrape(), "korvane_output_power_watts{channel=\"A\"}").isNull());
    QVERIFY(!ask(m_agent->port(), "Status").isEmpty());
    QVERIFY(!ask(m_agent->port(), "SetGain 0 25\r\n?").isEmpty());
    QTRY_COMPARE(sample(scrape(), "korvane_gain_decibels{channel=\"A\"}"), QByteArray("12.5"));

    // A limit set on another path latches a fault that switches RF off: the settings
    // follow within the status interval.
    QVERIFY(!ask(simPort, "SetMaxCellT 20\r\nStatus").isEmpty());
    QTRY_COMPARE(sample(scrape(), "korvane_rf_enabled"), QByteArray("0"));
    QCOMPARE(sample(scrape(), "korvane_temperature_limit_celsius{sensor=\"cell\"}"),
             QByteArray("20"));
    QCOMPARE(sample(scrape(), "korvane_fault"), QByteArray("1"));

    // While the device is away and the agent tries again, nothing stale is shown.
    QVERIFY(m_sim->stop());
    QVERIFY(m_agent->waitForReport(QStringLiteral("link_down")));
    const QByteArray page = scrape();
    QCOMPARE(sample(page, "korvane_up"), QByteArray("0"));
    QCOMPARE(sample(page, "korvane_info{model=\"700136A\"}"), QByteArray("1"));
    QCOMPARE(sample(page, "korvane_link_losses_total"), QByteArray("1"));
    for (const char *stale : {"korvane_output_power_watts",
                              "korvane_temperature_celsius",
                              "korvane_fault",
                              "korvane_gain_decibels",
                              "korvane_rf_enabled"})
        QVERIFY2(!page.contains(QByteArray(stale) + ' ') && !page.contains(QByteArray(stale) + '{'),
                 stale);

    m_sim = std::make_unique<SimProcess>();
    QVERIFY(m_sim->start({QStringLiteral("--port"), QString::number(simPort)}));
    QTRY_VERIFY_WITH_TIMEOUT(!sample(scrape(), "korvane_temperature_celsius{sensor=\"driver\"}")
                                  .isNull(),
                             30000);
    QCOMPARE(sample(scrape(), "korvane_up"), QByteArray("1"));
}

void tst_AgentTelemetry::badRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::newRow("root") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 404;
    QTest::newRow("below metrics") << QByteArray("GET /metrics/x HTTP/1.0\r\n\r\n") << 404;
    QTest::newRow("head") << QByteArray("HEAD /metrics HTTP/1.0\r\n\r\n") << 200;
    QTest::newRow("post") << QByteArray("POST /metrics HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc")
                          << 405;
    QTest::newRow("delete") << QByteArray("DELETE /metrics HTTP/1.0\r\n\r\n") << 405;
    QTest::newRow("overlong path") << "GET /" + QByteArray(64 * 1024, 'm') + " HTTP/1.0\r\n\r\n"
                                   << 414;
    QTest::newRow("overlong header")
        << "GET /metrics HTTP/1.0\r\nX: " + QByteArray(64 * 1024, 'x') + "\r\n\r\n"
        << 431;
    QTest::newRow("junk") << QByteArray("\x01\x02 junk\r\n\r\n") << 400;
}

void tst_AgentTelemetry::badRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    if (!m_agent || metricsPort() == 0)
        QVERIFY(startPair({QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
    const QByteArray answer = http(metricsPort(), request);
    QCOMPARE(statusOf(answer), status);
    if (status == 405)
        QVERIFY(answer.contains("Allow: GET, HEAD"));
    // And the next scrape is served as ever.
    QCOMPARE(sample(scrape(), "korvane_up"), QByteArray("1"));
}

void tst_AgentTelemetry::slowRequestIsCutOff_data()
{
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("addresses");
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("more than the slots, one address") << 40 << 1;
    QTest::newRow("every slot, from four addresses") << 32 << 4;
    QTest::newRow("more than every slot") << 64 << 8;
}

void tst_AgentTelemetry::slowRequestIsCutOff()
{
    QFETCH(int, connections);
    QFETCH(int, addresses);
    QVERIFY(startPair({QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
    QTRY_COMPARE(sample(scrape(), "korvane_up"), QByteArray("1"));
    // From addresses other than the scraper's, a byte every second each, never done.
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < connections; ++i) {
        slow.push_back(std::make_unique<QTcpSocket>());
        slow.back()->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i % addresses)));
        slow.back()->connectToHost(QHostAddress::LocalHost, metricsPort());
        QVERIFY(slow.back()->waitForConnected(5000));
        slow.back()->write("GET /metr");
    }
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, &trickle, [&] {
        for (const auto &socket : slow) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write("i");
        }
    });
    trickle.start(1000);
    // Others are served while they dawdle (with every slot taken, as soon as the first are
    // cut off), and each is cut off within seconds.
    QCOMPARE(sample(scrape(), "korvane_up"), QByteArray("1"));
    for (const auto &socket : slow) {
        QVERIFY(waitUntil(
            socket.get(),
            &QAbstractSocket::stateChanged,
            [&] { return socket->state() == QAbstractSocket::UnconnectedState; },
            30000));
    }
    QCOMPARE(sample(scrape(), "korvane_up"), QByteArray("1"));
}

void tst_AgentTelemetry::prometheusScrapesTheAgent()
{
    if (PrometheusServer::program().isEmpty())
        QSKIP("prometheus is not installed (Debian package prometheus)");
    QVERIFY(startPair({QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0")}));
    PrometheusServer server;
    QVERIFY2(server.start("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                          "scrape_configs:\n  - job_name: korvane\n    static_configs:\n"
                          "      - targets: ['127.0.0.1:"
                              + QByteArray::number(metricsPort()) + "']\n",
                          m_folder.path()),
             qPrintable(server.errorString()));
    const QString korvaneUp = QStringLiteral("korvane_up");
    QTRY_COMPARE_WITH_TIMEOUT(server.value(korvaneUp), QStringLiteral("1"), 60000);
    QVERIFY(m_sim->stop());
    QTRY_COMPARE_WITH_TIMEOUT(server.value(korvaneUp), QStringLiteral("0"), 60000);
}

void tst_AgentTelemetry::advertisedAddress_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --host and --mqtt
    QTest::addColumn<QString>("bound");         // the address the agent is bound to
    QTest::addColumn<QString>("advertised");

    QTest::newRow("the listen address")
        << QStringList{"--listen", "192.0.2.21:2101"} << "192.0.2.21"
        << "192.0.2.21:2101";
    QTest::newRow("port 0: the port bound") << QStringList{"--listen", "127.0.0.1:0"} << "127.0.0.1"
                                            << "127.0.0.1:40123";
    QTest::newRow("every IPv4 address: none")
        << QStringList{"--listen", "0.0.0.0:2101"} << "0.0.0.0"
        << "";
    QTest::newRow("every IPv6 address: none") << QStringList{"--listen", "[::]:2101"} << "::"
                                              << "";
    QTest::newRow("IPv6 in brackets") << QStringList{"--listen", "[::1]:2101"} << "::1"
                                      << "[::1]:2101";
    QTest::newRow("given, over every address")
        << QStringList{"--listen", "0.0.0.0:2101", "--advertise", "amp1.lab.example:2101"}
        << "0.0.0.0"
        << "amp1.lab.example:2101";
    QTest::newRow("given, an IPv6 address")
        << QStringList{"--advertise", "[2001:db8::21]:2102"} << "127.0.0.1"
        << "[2001:db8::21]:2102";
}

void tst_AgentTelemetry::advertisedAddress()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, bound);
    QFETCH(QString, advertised);
    AgentOptions options;
    int status = -1;
    QVERIFY(options.parse(QStringList{"korvane-agent", "--host", "127.0.0.1", "--mqtt", "127.0.0.1"}
                              + arguments,
                          &status));
    // The server reports the port it is bound to: the one asked for, or the system's pick.
    const quint16 port = options.listenPort ? options.listenPort : 40123;
    QCOMPARE(options.advertise(QHostAddress(bound), port), advertised);
}

void tst_AgentTelemetry::mqttTelemetry()
{
    if (!mosquittoInstalled())
        QSKIP(MosquittoMissing);
    const quint16 brokerPort = ServerProcess::freePort();
    ServerProcess broker;
    QVERIFY(startBroker(&broker, brokerPort));
    Subscriber early;
    QVERIFY2(early.start(brokerPort, QStringLiteral("korvane/lab1/#")),
             qPrintable(early.errorString()));
    QVERIFY(startPair({QStringLiteral("--mqtt"),
                       QStringLiteral("127.0.0.1:%1").arg(brokerPort),
                       QStringLiteral("--name"),
                       QStringLiteral("lab1")}));
    QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_connected")));

    // A subscriber arriving later still sees the status, retained.
    Subscriber late;
    QVERIFY(late.start(brokerPort, QStringLiteral("korvane/lab1/status")));
    QVERIFY(
        late.waitFor(QStringLiteral("korvane/lab1/status"), [](const QString &) { return true; }));
    QCOMPARE(late.messages().first(), QStringLiteral("1 korvane/lab1/status online"));

    // State messages once a second, with the device's readings and settings.
    const QString stateTopic = QStringLiteral("korvane/lab1/state");
    QVERIFY(early.waitFor(stateTopic, [](const QString &payload) {
        return payload.contains(QLatin1String("power_c_w"));
    }));
    const Reply::Status status = Reply::decodeStatus(ask(m_agent->port(), "Status"));
    QVERIFY(early.waitFor(stateTopic, [&](const QString &) {
        return early.messagesOn(stateTopic).size() >= 5;
    }));
    const QStringList states = early.messagesOn(stateTopic);
    const QJsonObject last = QJsonDocument::fromJson(states.last().toUtf8()).object();
    QCOMPARE(last.value(QStringLiteral("model")).toString(), QStringLiteral("700136A"));
    QCOMPARE(last.value(QStringLiteral("up")).toBool(), true);
    QCOMPARE(last.value(QStringLiteral("status")).toString(), QStringLiteral("0"));
    // How often another follows, and where clients reach the agent: the bound listen address.
    QCOMPARE(last.value(QStringLiteral("interval_ms")).toInt(), 1000);
    QCOMPARE(last.value(QStringLiteral("advertise")).toString(),
             QStringLiteral("127.0.0.1:%1").arg(m_agent->port()));
    const QJsonObject readings = last.value(QStringLiteral("readings")).toObject();
    QCOMPARE(readings.size(), 6);
    QVERIFY(readings.value(QStringLiteral("cell1_c")).toDouble() > 15);
    const QJsonObject settings = last.value(QStringLiteral("settings")).toObject();
    QCOMPARE(settings.size(), 8);
    QCOMPARE(settings.value(QStringLiteral("gain_a_db")).toDouble(), status.gainDb[0]);
    QCOMPARE(settings.value(QStringLiteral("cell_limit_c")).toInt(), status.maxCellTempC);
    QCOMPARE(settings.value(QStringLiteral("power_limit_w")).toDouble(), status.maxPowerW);
    const auto timeOf = [](const QString &payload) {
        return QDateTime::fromString(QJsonDocument::fromJson(payload.toUtf8())
                                         .object()
                                         .value(QStringLiteral("time"))
                                         .toString(),
                                     Qt::ISODateWithMs);
    };
    const qint64 spanMs = timeOf(states.at(1)).msecsTo(timeOf(states.last()));
    const qint64 intervals = states.size() - 2;
    QVERIFY2(spanMs >= intervals * 900 && spanMs <= intervals * 1100,
             qPrintable(QStringLiteral("%1 ms for %2 intervals").arg(spanMs).arg(intervals)));

    // A fault the simulator latches is an event.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, m_agent->port());
    QVERIFY(client.waitForConnected(5000));
    client.write("SetMaxCellT 20\r\n");
    QVERIFY(early.waitFor(QStringLiteral("korvane/lab1/events"), [](const QString &payload) {
        return QJsonDocument::fromJson(payload.toUtf8())
                   .object()
                   .value(QStringLiteral("event"))
                   .toString()
               == QLatin1String("fault_set");
    }));
    QVERIFY(early.waitFor(stateTopic, [](const QString &payload) {
        return payload.contains(QLatin1String("\"fault\":true"));
    }));
    // So is the alarm it raises, and the state lists it until someone acknowledges it.
    QVERIFY(early.waitFor(QStringLiteral("korvane/lab1/events"), [](const QString &payload) {
        const QJsonObject row = QJsonDocument::fromJson(payload.toUtf8()).object();
        return row.value(QStringLiteral("event")) == QLatin1String("alarm_raised")
               && row.value(QStringLiteral("alarm")) == QLatin1String("fault")
               && row.value(QStringLiteral("level")) == QLatin1String("error");
    }));
    QVERIFY(early.waitFor(stateTopic, [](const QString &payload) {
        const QJsonObject state = QJsonDocument::fromJson(payload.toUtf8()).object();
        if (state.value(QStringLiteral("worst_severity")) != QLatin1String("MAJOR"))
            return false;
        for (const QJsonValue alarm : state.value(QStringLiteral("alarms")).toArray()) {
            if (alarm[QStringLiteral("name")] == QLatin1String("fault"))
                return alarm[QStringLiteral("unacknowledged")] == QLatin1String("MAJOR");
        }
        return false;
    }));
    // Events and the status are acknowledged; a lost one is sent again.
    for (const QString &topic :
         {QStringLiteral("korvane/lab1/events"), QStringLiteral("korvane/lab1/status")}) {
        const QStringList qualities = early.qualitiesOn(topic);
        QVERIFY(!qualities.isEmpty());
        QVERIFY2(!qualities.contains(QStringLiteral("q0")), qPrintable(topic));
    }

    // Killed outright, the agent cannot say goodbye: the broker says it with the will.
    ::kill(pid_t(m_agent->processId()), SIGKILL);
    QVERIFY(early.waitFor(QStringLiteral("korvane/lab1/status"), [](const QString &payload) {
        return payload == QLatin1String("offline");
    }));
    Subscriber afterwards;
    QVERIFY(afterwards.start(brokerPort, QStringLiteral("korvane/lab1/status")));
    QVERIFY(afterwards.waitFor(QStringLiteral("korvane/lab1/status"),
                               [](const QString &) { return true; }));
    QCOMPARE(afterwards.messages().first(), QStringLiteral("1 korvane/lab1/status offline"));
    m_agent.reset();
}

void tst_AgentTelemetry::brokerStoppedAndRestarted()
{
    if (!mosquittoInstalled())
        QSKIP(MosquittoMissing);
    const quint16 brokerPort = ServerProcess::freePort();
    auto broker = std::make_unique<ServerProcess>();
    QVERIFY(startBroker(broker.get(), brokerPort));
    QVERIFY(startPair({QStringLiteral("--mqtt"),
                       QStringLiteral("127.0.0.1:%1").arg(brokerPort),
                       QStringLiteral("--mqtt-prefix"),
                       QStringLiteral("lab/amp")}));
    QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_connected")));

    // The clients are served without a pause while the broker is gone and the agent keeps
    // trying it.
    broker->stop();
    QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_lost")));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, m_agent->port());
    QVERIFY(client.waitForConnected(5000));
    FrameAssembler assembler;
    int frames = 0;
    connect(&client, &QTcpSocket::readyRead, &client, [&] {
        for (const char byte : client.readAll())
            frames += assembler.push(byte) ? 1 : 0;
    });
    QElapsedTimer wall;
    wall.start();
    for (int i = 1; i <= 30; ++i) {
        QElapsedTimer asked;
        asked.start();
        client.write("Meas\r\n");
        QVERIFY(waitUntil(
            &client, &QIODevice::readyRead, [&] { return frames >= i; }, 5000));
        QVERIFY2(asked.elapsed() < 500, qPrintable(QString::number(asked.elapsed())));
        QTest::qWait(50);
    }

    broker = std::make_unique<ServerProcess>();
    QVERIFY(startBroker(broker.get(), brokerPort));
    QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_connected"), 2, 30000));
    Subscriber subscriber;
    QVERIFY(subscriber.start(brokerPort, QStringLiteral("lab/amp/#")));
    QVERIFY(subscriber.waitFor(QStringLiteral("lab/amp/status"), [](const QString &payload) {
        return payload == QLatin1String("online");
    }));

    // A clean exit leaves "offline" behind.
    QVERIFY(m_agent->stop());
    QVERIFY(subscriber.waitFor(QStringLiteral("lab/amp/status"), [](const QString &payload) {
        return payload == QLatin1String("offline");
    }));
    QVERIFY(subscriber.waitFor(QStringLiteral("lab/amp/events"), [](const QString &payload) {
        return payload.contains(QLatin1String("\"event\":\"stopped\""));
    }));
    const QJsonObject last
        = QJsonDocument::fromJson(
              subscriber.messagesOn(QStringLiteral("lab/amp/state")).last().toUtf8())
              .object();
    QCOMPARE(last.value(QStringLiteral("up")).toBool(true), false);
    QVERIFY(!last.contains(QStringLiteral("readings")));
    // Said by the agent itself, which then took its leave: the will was not needed.
    QVERIFY(broker->waitForOutput(QStringLiteral("Received DISCONNECT")));
}

// At a clean exit the counts still due go out before "stopped", the last event.
void tst_AgentTelemetry::mqttEventsEndWithStopped()
{
    if (!mosquittoInstalled())
        QSKIP(MosquittoMissing);
    const quint16 brokerPort = ServerProcess::freePort();
    ServerProcess broker;
    QVERIFY(startBroker(&broker, brokerPort));
    Subscriber subscriber;
    QVERIFY(subscriber.start(brokerPort, QStringLiteral("lab/amp/events")));
    QVERIFY(startPair({QStringLiteral("--mqtt"),
                       QStringLiteral("127.0.0.1:%1").arg(brokerPort),
                       QStringLiteral("--mqtt-prefix"),
                       QStringLiteral("lab/amp")}));
    QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_connected")));

    // Clients within a second: the first is an event, the others a count still due.
    constexpr int Clients = 8;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, m_agent->port());
        clients.back()->write("?\r\n");
    }
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.begin(),
                                         clients.end(),
                                         [](const auto &client) {
                                             return client->bytesAvailable() > 0;
                                         }),
                             10000);
    QVERIFY(m_agent->stop());

    const QString stopped = Events::name(Event::Stopped);
    QVERIFY(subscriber.waitFor(QStringLiteral("lab/amp/events"), [&](const QString &payload) {
        return QJsonDocument::fromJson(payload.toUtf8()).object().value(QStringLiteral("event"))
               == stopped;
    }));
    int connected = 0;
    QString last;
    for (const QString &payload : subscriber.messagesOn(QStringLiteral("lab/amp/events"))) {
        const QJsonObject event = QJsonDocument::fromJson(payload.toUtf8()).object();
        last = event.value(QStringLiteral("event")).toString();
        if (last == Events::name(Event::ClientConnected))
            connected += event.value(QStringLiteral("repeated")).toInt(1);
    }
    QCOMPARE(last, stopped);
    QCOMPARE(connected, Clients);
}

void tst_AgentTelemetry::brokerAnswersBadly_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("closes at once") << QByteArray() << QString();
    QTest::newRow("junk") << QByteArray("HTTP/1.0 400 Bad Request\r\n\r\n") << QString();
    // CONNACK with return code 5: not authorised.
    QTest::newRow("refuses") << QByteArray("\x20\x02\x00\x05", 4) << QStringLiteral("authori");
}

void tst_AgentTelemetry::brokerAnswersBadly()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, reason);
    BadBroker broker(answer);
    QVERIFY(startPair({QStringLiteral("--mqtt"),
                       QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                       QStringLiteral("--name"),
                       QStringLiteral("lab1")}));
    QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_failed")));
    QVERIFY2(m_agent->stderrText().contains(reason), qPrintable(m_agent->stderrText()));
    // It tries again in the background, and the clients are served meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(broker.connections >= 3, 20000);
    QCOMPARE(Reply::kindOf(ask(m_agent->port(), "Meas")), Reply::Kind::Measurement);
    QCOMPARE(m_agent->stderrText().count(QLatin1String("mqtt_failed")), 1);
    QVERIFY(m_agent->stop());
}

void tst_AgentTelemetry::brokerAbuses_data()
{
    const QByteArray connack("\x20\x02\x00\x00", 4);
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("flood");
    QTest::addColumn<QString>("report");
    QTest::newRow("never acknowledges") << connack << 0 << QString();
    // A PUBLISH announcing 256 MiB, and megabytes of it.
    QTest::newRow("huge packet") << connack + QByteArray("\x30\xff\xff\xff\x7f", 5) << (16 << 20)
                                 << QStringLiteral("more than a publisher is owed");
    // More at once than the guard looks at, even in packets of two bytes (PINGRESP).
    QTest::newRow("a flood of small packets")
        << connack + QByteArray("\xd0\x00", 2).repeated(64 * 1024) << 0
        << QStringLiteral("more than a publisher is owed");
    // Then a packet of the reserved type 0.
    QTest::newRow("acknowledges, then garbage")
        << connack + QByteArray(2, '\0') << 0 << QStringLiteral("mqtt_lost");
}

void tst_AgentTelemetry::brokerAbuses()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, flood);
    QFETCH(QString, report);
    BadBroker broker(answer, flood);
    QVERIFY(startPair({QStringLiteral("--mqtt"),
                       QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                       QStringLiteral("--name"),
                       QStringLiteral("lab1"),
                       QStringLiteral("--metrics"),
                       QStringLiteral("127.0.0.1:0"),
                       QStringLiteral("--max-clients"),
                       QStringLiteral("1000")}));
    if (report.isEmpty()) {
        QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_connected")));
        // Each client coming and going is two events (a row a second per address, for 1 024
        // addresses at a time): more than the 1 000 the agent keeps for the broker.
        // (Through the event loop: the agent's standard error is read meanwhile.)
        for (int i = 0; i < 1200; ++i) {
            QTcpSocket client;
            client.bind(
                QHostAddress(QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(2 + i % 250)));
            client.connectToHost(QHostAddress::LocalHost, m_agent->port());
            client.write("Meas\r\n");
            QVERIFY(waitUntil(
                &client, &QIODevice::readyRead, [&] { return client.bytesAvailable() > 0; }, 10000));
        }
        QTRY_VERIFY_WITH_TIMEOUT(sample(scrape(), "korvane_mqtt_dropped_events_total").toInt() > 0,
                                 10000);
        QVERIFY(!m_agent->stderrText().contains(QLatin1String("mqtt_lost")));
    } else {
        QVERIFY2(m_agent->waitForReport(report, 1, 20000), qPrintable(m_agent->stderrText()));
    }
    if (report == QLatin1String("mqtt_lost")) {
        // Each connection breaks at once; the pause before the next still grows.
        QVERIFY(m_agent->waitForReport(QStringLiteral("mqtt_connected"), 4, 30000));
        QList<QDateTime> connected;
        for (const QString &line : m_agent->stderrText().split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String(" mqtt_connected ")))
                connected.append(
                    QDateTime::fromString(line.section(QLatin1Char(' '), 0, 0), Qt::ISODateWithMs));
        }
        QVERIFY2(connected.at(2).msecsTo(connected.at(3)) >= 1500,
                 qPrintable(m_agent->stderrText()));
    }
    QCOMPARE(Reply::kindOf(ask(m_agent->port(), "Meas")), Reply::Kind::Measurement);
    QVERIFY(m_agent->stop());
}

QTEST_GUILESS_MAIN(tst_AgentTelemetry)
#include "tst_agent_telemetry.moc"
