#include "agentcommand.h"
#include "agentpair.h"
#include "fleetfeed.h"
#include "fleetmodel.h"
#include "fleetoptions.h"
#include "mqttconnection.h"
#include "securebroker.h"
#include "serverprocess.h"
#include "simprocess.h"
#include "testcertificates.h"
#include "waiting.h"

#include <QDateTime>
#include <QJsonObject>
#include <QHostAddress>
#include <QTcpSocket>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

// korvane-fleet's model fed from a real mosquitto on a free loopback port, by real agents in
// front of simulators and by a test client publishing what other publishers might.
class tst_Fleet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void tilesFollowAgents();
    void killedAgentGoesOffline();
    void stoppedStateGoesStale();
    void brokerAwayAndBack();
    void securedBroker_data();
    void securedBroker();
    void retainedFromLongAgoIsStale();
    void commandsToAgent_data();
    void commandsToAgent();
    void manyRetainedAtOnce();
    void badPayloads_data();
    void badPayloads();

private:
    bool startBroker();
    bool startAgent(const QString &name);
    void startFleet();
    bool waitFor(const std::function<bool()> &done, int timeoutMs = 20000);
    const FleetModel::Tile *tile(const QString &name) { return m_model->tile(name); }
    MqttConnection *publisher();

    QTemporaryDir m_folder;
    quint16 m_brokerPort = 0;
    std::unique_ptr<ServerProcess> m_broker;
    struct Pair
    {
        std::unique_ptr<SimProcess> sim;
        std::unique_ptr<SimProcess> agent;
    };
    std::map<QString, Pair> m_pairs;
    std::unique_ptr<FleetModel> m_model;
    std::unique_ptr<FleetFeed> m_feed;
    std::unique_ptr<MqttConnection> m_publisher;
    TestCertificates m_certificates;
};

namespace {

// Agents publish twice a second here: stale within 1.5 s of the last one.
constexpr int IntervalMs = 500;

} // namespace

void tst_Fleet::initTestCase()
{
    if (!TestCertificates::available())
        QSKIP("openssl is not installed (Debian package openssl)");
    QVERIFY2(m_certificates.makeAuthority(QStringLiteral("lab-ca"))
                 && m_certificates.makeAuthority(QStringLiteral("foreign-ca"))
                 && m_certificates.issue(QStringLiteral("lab-ca"),
                                         QStringLiteral("server"),
                                         QStringLiteral("localhost"))
                 && m_certificates.issue(QStringLiteral("lab-ca"),
                                         QStringLiteral("operator"),
                                         QStringLiteral("ops-desk")),
             qPrintable(m_certificates.errorString()));
}

void tst_Fleet::init()
{
    if (ServerProcess::find(QStringLiteral("mosquitto")).isEmpty())
        QSKIP("mosquitto is not installed (Debian package mosquitto)");
    m_brokerPort = ServerProcess::freePort();
    QVERIFY(startBroker());
}

void tst_Fleet::cleanup()
{
    m_feed.reset();
    m_model.reset();
    m_publisher.reset();
    m_pairs.clear();
    m_broker.reset();
}

bool tst_Fleet::startBroker()
{
    m_broker = std::make_unique<ServerProcess>();
    if (!m_broker->startMosquitto(m_folder.filePath(QStringLiteral("mosquitto.conf")),
                                  "listener " + QByteArray::number(m_brokerPort)
                                      + " 127.0.0.1\nallow_anonymous true\n")) {
        qWarning("%s", qPrintable(m_broker->errorString()));
        return false;
    }
    return true;
}

bool tst_Fleet::startAgent(const QString &name)
{
    Pair &pair = m_pairs[name];
    return AgentPair::start(&pair.sim,
                            &pair.agent,
                            QStringLiteral(KORVANE_AGENT_PATH),
                            {QStringLiteral("--mqtt"),
                             QStringLiteral("127.0.0.1:%1").arg(m_brokerPort),
                             QStringLiteral("--name"),
                             name,
                             QStringLiteral("--mqtt-interval"),
                             QString::number(IntervalMs)},
                            QStringLiteral("mqtt_connected"));
}

void tst_Fleet::startFleet()
{
    m_model = std::make_unique<FleetModel>();
    MqttConnection::Settings broker;
    broker.host = QStringLiteral("127.0.0.1");
    broker.port = m_brokerPort;
    m_feed = std::make_unique<FleetFeed>(broker, m_model.get());
    m_feed->start();
}

bool tst_Fleet::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    // Every change of a tile, and the model's own recheck, comes as tileChanged.
    return waitUntil(m_model.get(), &FleetModel::tileChanged, done, timeoutMs);
}

MqttConnection *tst_Fleet::publisher()
{
    if (!m_publisher) {
        MqttConnection::Settings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = m_brokerPort;
        m_publisher = std::make_unique<MqttConnection>(settings);
        QSignalSpy up(m_publisher.get(), &MqttConnection::connected);
        m_publisher->start();
        if (!up.wait(10000))
            return nullptr;
    }
    return m_publisher.get();
}

void tst_Fleet::tilesFollowAgents()
{
    QVERIFY(startAgent(QStringLiteral("lab1")));
    QVERIFY(startAgent(QStringLiteral("lab2")));
    startFleet();
    const auto live = [this](const char *name) {
        const FleetModel::Tile *found = tile(QLatin1String(name));
        return found && found->isLive() && found->state.up && found->state.power[2].known;
    };
    QVERIFY(waitFor([&] { return live("lab1") && live("lab2"); }));
    const FleetModel::Tile *lab1 = tile(QStringLiteral("lab1"));
    QCOMPARE(lab1->agent, FleetModel::Agent::Online);
    QCOMPARE(lab1->state.model, QStringLiteral("700136A"));
    QCOMPARE(lab1->state.intervalMs, IntervalMs);
    QCOMPARE(lab1->state.advertise,
             QStringLiteral("127.0.0.1:%1").arg(m_pairs[QStringLiteral("lab1")].agent->port()));
    QVERIFY(lab1->state.tempLimit[0].known && lab1->state.temp[0].known);
    QCOMPARE(lab1->state.worst, Alarm::Severity::None);
    QVERIFY(waitFor([&] { return m_model->order() == QStringList({"lab1", "lab2"}); }));

    // A fault the simulator latches on lab2 is its MAJOR alarm, not acknowledged: it goes
    // first.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, m_pairs[QStringLiteral("lab2")].agent->port());
    QVERIFY(client.waitForConnected(5000));
    client.write("SetMaxCellT 20\r\n");
    QVERIFY(waitFor([&] {
        const FleetModel::Tile *lab2 = tile(QStringLiteral("lab2"));
        return lab2->state.faultKnown && lab2->state.fault
               && lab2->state.worst == Alarm::Severity::Major && lab2->state.unacknowledged > 0;
    }));
    QVERIFY(waitFor([&] { return m_model->order() == QStringList({"lab2", "lab1"}); }));
    QCOMPARE(m_model->ignoredMessages(), 0);
}

void tst_Fleet::killedAgentGoesOffline()
{
    QVERIFY(startAgent(QStringLiteral("lab1")));
    startFleet();
    QVERIFY(waitFor(
        [&] { return tile(QStringLiteral("lab1")) && tile(QStringLiteral("lab1"))->isLive(); }));
    ::kill(pid_t(m_pairs[QStringLiteral("lab1")].agent->processId()), SIGKILL);
    // Its state stops at once; the broker says its will once the keep-alive runs out.
    QVERIFY(waitFor([&] { return !tile(QStringLiteral("lab1"))->isLive(); }, 5000));
    QVERIFY(
        waitFor([&] { return tile(QStringLiteral("lab1"))->agent == FleetModel::Agent::Offline; },
                30000));
    QCOMPARE(tile(QStringLiteral("lab1"))->staleness, FleetModel::Staleness::AgentOffline);
    QCOMPARE(tile(QStringLiteral("lab1"))->severity(), Alarm::Severity::Invalid);
}

void tst_Fleet::stoppedStateGoesStale()
{
    QVERIFY(startAgent(QStringLiteral("lab1")));
    startFleet();
    QVERIFY(waitFor(
        [&] { return tile(QStringLiteral("lab1")) && tile(QStringLiteral("lab1"))->isLive(); }));
    // A stopped agent sends nothing, not even its will: only the state's age tells.
    const pid_t agent = pid_t(m_pairs[QStringLiteral("lab1")].agent->processId());
    ::kill(agent, SIGSTOP);
    QVERIFY(waitFor(
        [&] { return tile(QStringLiteral("lab1"))->staleness == FleetModel::Staleness::TooOld; },
        5000));
    QCOMPARE(tile(QStringLiteral("lab1"))->agent, FleetModel::Agent::Online);
    ::kill(agent, SIGCONT);
    QVERIFY(waitFor([&] { return tile(QStringLiteral("lab1"))->isLive(); }));
}

void tst_Fleet::brokerAwayAndBack()
{
    QVERIFY(startAgent(QStringLiteral("lab1")));
    QVERIFY(startAgent(QStringLiteral("lab2")));
    startFleet();
    QSignalSpy status(m_feed.get(), &FleetFeed::statusChanged);
    const auto allLive = [this](bool live) {
        return m_model->order().size() == 2 && tile(QStringLiteral("lab1"))->isLive() == live
               && tile(QStringLiteral("lab2"))->isLive() == live;
    };
    QVERIFY(waitFor([&] { return allLive(true); }));
    m_broker->stop();
    QVERIFY(waitFor([&] { return allLive(false); }, 10000));
    QCOMPARE(tile(QStringLiteral("lab1"))->staleness, FleetModel::Staleness::BrokerDown);
    QVERIFY(!m_model->brokerConnected());
    // The status bar's words: the broker and why.
    QTRY_VERIFY_WITH_TIMEOUT(m_feed->statusText().contains(
                                 QStringLiteral("no connection to 127.0.0.1:%1: ").arg(m_brokerPort)),
                             10000);
    QVERIFY(startBroker());
    QVERIFY(waitFor([&] { return allLive(true); }, 60000));
    QVERIFY(m_feed->statusText().startsWith(QLatin1String("connected to")));
}

void tst_Fleet::securedBroker_data()
{
    QTest::addColumn<QString>("listener"); // plain, tls, or tls wanting a client certificate
    QTest::addColumn<QString>("password"); // the fleet's
    QTest::addColumn<QString>("reason");   // empty: the tile is live; else in the status bar

    QTest::newRow("a login over TLS") << "tls" << SecureBroker::WatcherPassword << QString();
    QTest::newRow("a login and a client certificate")
        << "certificate" << SecureBroker::WatcherPassword << QString();
    QTest::newRow("a login without TLS") << "plain" << SecureBroker::WatcherPassword << QString();
    QTest::newRow("a wrong password") << "tls"
                                      << "guess"
                                      << "not authori";
}

// The fleet and an agent logged in to a broker that takes no anonymous clients and keeps
// each to its topics; the fleet as korvane-fleet's command line sets it up.
void tst_Fleet::securedBroker()
{
    QFETCH(QString, listener);
    QFETCH(QString, password);
    QFETCH(QString, reason);
    if (ServerProcess::find(QStringLiteral("mosquitto_passwd")).isEmpty())
        QSKIP("mosquitto_passwd is not installed (Debian package mosquitto)");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const quint16 plainPort = ServerProcess::freePort();
    const quint16 tlsPort = ServerProcess::freePort();
    const quint16 certificatePort = ServerProcess::freePort();
    ServerProcess broker;
    QVERIFY(SecureBroker::start(&broker,
                                folder.path(),
                                m_certificates,
                                QStringLiteral("lab-ca"),
                                QStringLiteral("server"),
                                plainPort,
                                tlsPort,
                                certificatePort));
    const QString agentPassword = folder.filePath(QStringLiteral("agent-password"));
    const QString fleetPassword = folder.filePath(QStringLiteral("fleet-password"));
    QVERIFY(SecureBroker::writeFile(agentPassword, SecureBroker::AgentPassword.toUtf8() + '\n'));
    QVERIFY(SecureBroker::writeFile(fleetPassword, password.toUtf8() + '\n'));
    Pair &pair = m_pairs[QStringLiteral("lab1")];
    QVERIFY(AgentPair::start(&pair.sim,
                             &pair.agent,
                             QStringLiteral(KORVANE_AGENT_PATH),
                             {QStringLiteral("--mqtt"),
                              QStringLiteral("127.0.0.1:%1").arg(plainPort),
                              QStringLiteral("--name"),
                              QStringLiteral("lab1"),
                              QStringLiteral("--mqtt-user"),
                              SecureBroker::AgentUser,
                              QStringLiteral("--mqtt-password-file"),
                              agentPassword,
                              QStringLiteral("--mqtt-interval"),
                              QString::number(IntervalMs)},
                             QStringLiteral("mqtt_connected"),
                             30000));

    const quint16 port = listener == QLatin1String("plain") ? plainPort
                         : listener == QLatin1String("tls") ? tlsPort
                                                            : certificatePort;
    QStringList arguments{QStringLiteral("korvane-fleet"),
                          QStringLiteral("--mqtt"),
                          QStringLiteral("127.0.0.1:%1").arg(port),
                          QStringLiteral("--mqtt-user"),
                          SecureBroker::WatcherUser,
                          QStringLiteral("--mqtt-password-file"),
                          fleetPassword};
    if (listener != QLatin1String("plain"))
        arguments << QStringLiteral("--mqtt-cafile")
                  << m_certificates.certificate(QStringLiteral("lab-ca"));
    if (listener == QLatin1String("certificate"))
        arguments << QStringLiteral("--mqtt-cert")
                  << m_certificates.certificate(QStringLiteral("operator"))
                  << QStringLiteral("--mqtt-key") << m_certificates.key(QStringLiteral("operator"));
    FleetOptions options;
    int exitStatus = -1;
    QVERIFY(options.parse(arguments, &exitStatus));
    QString error;
    QVERIFY2(options.loadFiles(&error), qPrintable(error));
    m_model = std::make_unique<FleetModel>(options.prefix);
    m_feed = std::make_unique<FleetFeed>(options.brokerSettings(), m_model.get());
    m_feed->start();

    if (reason.isEmpty()) {
        QVERIFY(waitFor([&] {
            return tile(QStringLiteral("lab1")) && tile(QStringLiteral("lab1"))->isLive()
                   && tile(QStringLiteral("lab1"))->state.up;
        }));
        QVERIFY(m_feed->statusText().startsWith(QLatin1String("connected to")));
        return;
    }
    // Refused: the broker's reason in the status bar, and no tile live.
    QVERIFY2(waitUntil(
                 m_feed.get(),
                 &FleetFeed::statusChanged,
                 [&] { return m_feed->statusText().contains(reason); },
                 20000),
             qPrintable(m_feed->statusText()));
    QVERIFY(m_feed->statusText().startsWith(
        QStringLiteral("no connection to 127.0.0.1:%1: ").arg(port)));
    QVERIFY(!m_model->brokerConnected());
    for (const QString &name : m_model->order())
        QVERIFY(!tile(name)->isLive());
    // The agent is publishing all the while.
    QVERIFY(pair.agent->stderrText().contains(QLatin1String("mqtt_connected")));
}

void tst_Fleet::retainedFromLongAgoIsStale()
{
    // An agent that died with a broker that kept its messages: "online" and a state of
    // yesterday, retained.
    MqttConnection *client = publisher();
    QVERIFY(client);
    QSignalSpy acknowledged(client, &MqttConnection::published);
    const QString yesterday = QDateTime::currentDateTimeUtc().addDays(-1).toString(
        Qt::ISODateWithMs);
    QVERIFY(client->publish(QStringLiteral("korvane/gone/status"), "online", 1, true) >= 0);
    QVERIFY(client->publish(
                QStringLiteral("korvane/gone/state"),
                R"({"time":")" + yesterday.toUtf8()
                    + R"(","interval_ms":1000,"model":"700136A","up":true,)"
                      R"("readings":{"power_a_w":40},"worst_severity":"NO_ALARM","alarms":[]})",
                1,
                true)
            >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(acknowledged.count(), 2, 10000);

    startFleet();
    bool everLive = false;
    connect(m_model.get(), &FleetModel::tileChanged, this, [&](const QString &name) {
        everLive = everLive || m_model->tile(name)->isLive();
    });
    QVERIFY(waitFor(
        [&] { return tile(QStringLiteral("gone")) && tile(QStringLiteral("gone"))->hasState; }));
    QCOMPARE(tile(QStringLiteral("gone"))->staleness, FleetModel::Staleness::TooOld);
    QVERIFY(!everLive);
}

void tst_Fleet::commandsToAgent_data()
{
    QTest::addColumn<QStringList>("agentArguments");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text"); // in what it says, a '*' standing for anything
    // TLS to an agent that serves it and lets ops-desk control: the fleet's certificate
    // ("-": plain TCP, "": none) and the authority it trusts the agent's with.
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("authority");
    QTest::addColumn<QString>("journalled"); // in the agent's journal, with a fault latched

    QTest::newRow("acknowledge all")
        << QStringList() << "ack" << QJsonObject{{"alarm", "all"}} << true << ""
        << "-"
        << ""
        << "";
    QTest::newRow("shelve for an hour")
        << QStringList() << "shelve"
        << QJsonObject{{"alarm", "power_a"}, {"for", 3600}, {"reason", "probe on A"}} << true
        << "done"
        << "-"
        << ""
        << "";
    QTest::newRow("the fault cannot be shelved")
        << QStringList() << "shelve"
        << QJsonObject{{"alarm", "fault"}, {"for", 60}, {"reason", "x"}} << false
        << "refused: fault cannot be shelved"
        << "-"
        << ""
        << "";
    QTest::newRow("an observer may not")
        << QStringList{"--allow", "127.0.0.1"} << "ack" << QJsonObject{{"alarm", "all"}} << false
        << "refused: observers may not acknowledge or shelve alarms"
        << "-"
        << ""
        << "";
    // The operator's certificate names who acknowledged.
    QTest::newRow("over TLS as ops-desk")
        << QStringList() << "ack" << QJsonObject{{"alarm", "all"}} << true << "acknowledged *fault"
        << "operator"
        << "lab-ca"
        << "alarm_acknowledged *who=ops-desk";
    QTest::newRow("over TLS without a certificate")
        << QStringList() << "ack" << QJsonObject{{"alarm", "all"}} << false
        << "cannot reach the agent at 127.0.0.1:*: it closed the TLS connection; it may want the "
           "operator's certificate (--tls-cert and --tls-key)"
        << ""
        << "lab-ca"
        << "client_refused client=127.0.0.1:* reason=TLS handshake failed: The peer did not "
           "present any certificate";
    QTest::newRow("over TLS to an agent not trusted")
        << QStringList() << "ack" << QJsonObject{{"alarm", "all"}} << false
        << "cannot reach the agent at 127.0.0.1:*: The root certificate of the certificate "
           "chain is self-signed, and untrusted"
        << "operator"
        << "foreign-ca"
        << "client_refused client=127.0.0.1:* reason=TLS";
}

void tst_Fleet::commandsToAgent()
{
    QFETCH(QStringList, agentArguments);
    QFETCH(QString, verb);
    QFETCH(QJsonObject, body);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QFETCH(QString, certificate);
    QFETCH(QString, authority);
    QFETCH(QString, journalled);
    const bool tls = certificate != QLatin1String("-");
    if (tls)
        agentArguments << QStringLiteral("--tls-cert")
                       << m_certificates.certificate(QStringLiteral("server"))
                       << QStringLiteral("--tls-key")
                       << m_certificates.key(QStringLiteral("server"))
                       << QStringLiteral("--tls-client-ca")
                       << m_certificates.certificate(QStringLiteral("lab-ca"))
                       << QStringLiteral("--control-cn") << QStringLiteral("ops-desk");
    Pair pair;
    QVERIFY(AgentPair::start(&pair.sim,
                             &pair.agent,
                             QStringLiteral(KORVANE_AGENT_PATH),
                             agentArguments));
    if (!journalled.isEmpty()) {
        // A fault latched on the simulator, which the agent raises as its MAJOR alarm.
        QTcpSocket simulator;
        simulator.connectToHost(QHostAddress::LocalHost, pair.sim->port());
        QVERIFY(simulator.waitForConnected(5000));
        simulator.write("SetMaxCellT 20\r\n");
        QVERIFY2(pair.agent->waitForReport(QStringLiteral("alarm_raised"), 1, 20000),
                 qPrintable(pair.agent->stderrText()));
    }
    // `pattern` somewhere in `text`, a '*' in it standing for anything.
    const auto matches = [](const QString &text, const QString &pattern) {
        return QRegularExpression(QRegularExpression::escape(pattern).replace(QLatin1String("\\*"),
                                                                              QLatin1String(".*")))
            .match(text)
            .hasMatch();
    };
    AgentCommand command(QStringLiteral("127.0.0.1"), pair.agent->port(), verb, body);
    if (tls) {
        TlsFiles files;
        files.caFile = m_certificates.certificate(authority);
        if (!certificate.isEmpty()) {
            files.certFile = m_certificates.certificate(certificate);
            files.keyFile = m_certificates.key(certificate);
        }
        QString error;
        QVERIFY2(files.load(&error), qPrintable(error));
        command.useTls(files);
    }
    QSignalSpy finished(&command, &AgentCommand::finished);
    command.start();
    QVERIFY(finished.wait(AgentCommand::TimeoutMs + 5000));
    QCOMPARE(finished.first().at(0).toBool(), ok);
    QVERIFY2(matches(finished.first().at(1).toString(), text),
             qPrintable(finished.first().at(1).toString()));
    if (!journalled.isEmpty())
        QTRY_VERIFY2_WITH_TIMEOUT(matches(pair.agent->stderrText(), journalled),
                                  qPrintable(pair.agent->stderrText()),
                                  20000);

    // Nobody at the address: said as such.
    AgentCommand nobody(QStringLiteral("127.0.0.1"), ServerProcess::freePort(), verb, body);
    QSignalSpy failed(&nobody, &AgentCommand::finished);
    nobody.start();
    QVERIFY(failed.wait(AgentCommand::TimeoutMs + 5000));
    QCOMPARE(failed.first().at(0).toBool(), false);
    QVERIFY(failed.first().at(1).toString().startsWith(QLatin1String("cannot reach the agent")));
}

// What a subscriber is sent on subscribing comes at once: a lab's worth of retained states is
// more than a publisher's socket is held to, and the connection holds through it.
void tst_Fleet::manyRetainedAtOnce()
{
    MqttConnection *client = publisher();
    QVERIFY(client);
    QSignalSpy acknowledged(client, &MqttConnection::published);
    const QByteArray now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    const QByteArray state = R"({"time":")" + now + R"(","model":"700136A","up":false,"note":")"
                             + QByteArray(1000, 'n') + R"("})";
    constexpr int Count = 300;
    int sent = 0;
    // The library keeps a window of messages in flight: the rest wait for acknowledgements.
    while (sent < Count) {
        if (client->publish(QStringLiteral("korvane/amp%1/state").arg(sent), state, 1, true) >= 0)
            ++sent;
        else
            QVERIFY(acknowledged.wait(10000));
    }
    QTRY_COMPARE_WITH_TIMEOUT(acknowledged.count(), Count, 30000);
    startFleet();
    QVERIFY(waitFor([&] { return m_model->order().size() == Count; }, 30000));
    QVERIFY(m_model->brokerConnected());
    QCOMPARE(m_model->ignoredMessages(), 0);
}

void tst_Fleet::badPayloads_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("taken");

    const QByteArray now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    const QByteArray good = R"({"time":")" + now + R"(","model":"<b>x</b>","up":false})";
    QTest::newRow("malformed JSON") << "korvane/lab9/state" << QByteArray("{\"time\":") << false;
    QTest::newRow("a state of 100 KiB")
        << "korvane/lab9/state"
        << R"({"pad":")" + QByteArray(100 * 1024, 'x') + R"(","time":")" + now + R"(","up":true})"
        << false;
    QTest::newRow("unknown fields")
        << "korvane/lab9/state"
        << R"({"whatever":[1,{"a":2}],"time":")" + now + R"(","up":false})" << true;
    QTest::newRow("markup in the model and the name") << "korvane/<i>lab&9/state" << good << true;
    // The broker takes no control characters in a topic; these are what it passes.
    QTest::newRow("direction overrides in the name")
        << QStringLiteral("korvane/lab\u202e9\u2028/state") << good << true;
    QTest::newRow("a status in other words") << "korvane/lab9/status" << QByteArray("up") << false;
    QTest::newRow("another kind of topic") << "korvane/lab9/events" << QByteArray("{}") << false;
}

void tst_Fleet::badPayloads()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(bool, taken);
    startFleet();
    QVERIFY(waitUntil(
        m_feed.get(),
        &FleetFeed::statusChanged,
        [this] { return m_model->brokerConnected(); },
        10000));
    MqttConnection *client = publisher();
    QVERIFY(client);
    QSignalSpy ignored(m_model.get(), &FleetModel::ignored);
    QSignalSpy changed(m_model.get(), &FleetModel::tileChanged);
    // Retained: the fleet's subscription may still be on its way to the broker.
    QVERIFY(client->publish(topic, payload, 1, true) >= 0);
    // Events are not subscribed to: they never come, and nothing else does either.
    if (topic.endsWith(QLatin1String("/events"))) {
        QVERIFY(client->publish(QStringLiteral("korvane/marker/status"), "online", 1, true) >= 0);
        QVERIFY(changed.wait(10000));
        QCOMPARE(m_model->order(), QStringList{QStringLiteral("marker")});
        QCOMPARE(ignored.count(), 0);
        return;
    }
    if (taken) {
        QVERIFY(changed.wait(10000));
        QCOMPARE(m_model->order().size(), 1);
        QCOMPARE(ignored.count(), 0);
    } else {
        QVERIFY(ignored.wait(10000));
        QVERIFY(m_model->order().isEmpty());
    }
    // The connection holds through all of it.
    QVERIFY(m_model->brokerConnected());
}

QTEST_GUILESS_MAIN(tst_Fleet)
#include "tst_fleet.moc"
