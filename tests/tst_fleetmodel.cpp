#include "amplifierstate.h"
#include "fleetmodel.h"
#include "fleetoptions.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

// korvane-fleet's view of the lab, without a broker or a window: what it reads of the agents'
// messages, what it ignores, and when a tile stops being live, on a clock the test moves.
class tst_FleetModel : public QObject
{
    Q_OBJECT

private slots:
    void parseState_data();
    void parseState();
    void topics_data();
    void topics();
    void staleness_data();
    void staleness();
    void orderBySeverityThenName();
    void boundedTiles();
    void clearedRetainedRemovesTile();
    void printable();
    void options_data();
    void options();

private:
    qint64 m_now = QDateTime::fromString(QStringLiteral("2026-12-08T11:00:00.000Z"),
                                         Qt::ISODateWithMs)
                       .toMSecsSinceEpoch();
};

Q_DECLARE_METATYPE(FleetModel::Staleness)

namespace {

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, 3600).toString(Qt::ISODateWithMs);
}

// A state as an agent publishes it, made at `madeMs`, with `changes` over it (a null value
// takes the key out).
QByteArray state(qint64 madeMs, const QJsonObject &changes = {})
{
    QJsonObject message = QJsonDocument::fromJson(R"({
        "interval_ms":1000,"model":"700136A","up":true,"status":"0","fault":false,
        "advertise":"127.0.0.1:2101",
        "readings":{"power_a_w":10.5,"power_b_w":11,"power_c_w":12,"cell1_c":31,"cell2_c":32,
                    "driver_c":33},
        "settings":{"power_limit_w":100,"cell_limit_c":60,"driver_limit_c":70,"rf_enabled":true,
                    "linearity_pct":50,"gain_a_db":10,"gain_b_db":10,"gain_c_db":10},
        "worst_severity":"MAJOR",
        "alarms":[{"name":"fault","severity":"MAJOR","unacknowledged":"MAJOR"},
                  {"name":"power_a","severity":"NO_ALARM","unacknowledged":"MINOR"},
                  {"name":"link","severity":"NO_ALARM","unacknowledged":"NO_ALARM"}],
        "lease":{"held":true,"holder":"ops-desk","note":"","until":"x","seconds_left":4}})")
                              .object();
    message.insert(QStringLiteral("time"), timeText(madeMs));
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (it.value().isNull())
            message.remove(it.key());
        else
            message.insert(it.key(), it.value());
    }
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace

void tst_FleetModel::parseState_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("summary"); // of what was read

    const qint64 t = m_now;
    QTest::newRow("an agent's state") << state(t) << true
                                      << "700136A up rf on fault no 10.5/11/12 W "
                                         "31/60 32/60 33/70 MAJOR 2 unacked ops-desk 1000 ms";
    QTest::newRow("unknown keys are no matter")
        << state(t, json(R"({"new_key":{"a":[1,2]},"readings":{"power_a_w":1,"extra":"x"}})"))
        << true
        << "700136A up rf on fault no 1/-/- W -/60 -/60 -/70 MAJOR 2 unacked ops-desk 1000 ms";
    QTest::newRow("not answering: no readings shown")
        << state(t, json(R"({"up":false})")) << true
        << "700136A down rf ? fault ? -/-/- W -/- -/- -/- MAJOR 2 unacked ops-desk 1000 ms";
    QTest::newRow("an older agent: no interval, no alarms")
        << state(t, json(R"({"interval_ms":null,"worst_severity":null,"alarms":null,"lease":null})"))
        << true
        << "700136A up rf on fault no 10.5/11/12 W 31/60 32/60 33/70 NO_ALARM 0 unacked - 1000 ms";
    QTest::newRow("a lease nobody holds")
        << state(t, json(R"({"lease":{"held":false}})")) << true
        << "700136A up rf on fault no 10.5/11/12 W 31/60 32/60 33/70 MAJOR 2 unacked - 1000 ms";
    QTest::newRow("a slow agent") << state(t, json(R"({"interval_ms":60000})")) << true
                                  << "700136A up rf on fault no 10.5/11/12 W 31/60 32/60 33/70 "
                                     "MAJOR 2 unacked ops-desk 60000 ms";

    QTest::newRow("not JSON") << QByteArray("{\"time\":") << false << QString();
    QTest::newRow("an array") << QByteArray("[1,2]") << false << QString();
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe", 3) << false << QString();
    QTest::newRow("no time") << state(t, json(R"({"time":null})")) << false << QString();
    QTest::newRow("a time that is none")
        << state(t, json(R"({"time":"yesterday"})")) << false << QString();
    QTest::newRow("up as a string") << state(t, json(R"({"up":"true"})")) << false << QString();
    QTest::newRow("no up") << state(t, json(R"({"up":null})")) << false << QString();
    QTest::newRow("a reading as a string")
        << state(t, json(R"({"readings":{"power_a_w":"<b>9</b>"}})")) << false << QString();
    QTest::newRow("readings as an array")
        << state(t, json(R"({"readings":[1,2,3]})")) << false << QString();
    QTest::newRow("an interval of 0")
        << state(t, json(R"({"interval_ms":0})")) << false << QString();
    QTest::newRow("an interval as a string")
        << state(t, json(R"({"interval_ms":"1000"})")) << false << QString();
    QTest::newRow("an unknown severity")
        << state(t, json(R"({"worst_severity":"HUGE"})")) << false << QString();
    QTest::newRow("an alarm that is no object")
        << state(t, json(R"({"alarms":["fault"]})")) << false << QString();
    QTest::newRow("a holder that is no text")
        << state(t, json(R"({"lease":{"held":true,"holder":7}})")) << false << QString();
    QTest::newRow("a model of 257 characters")
        << state(t, {{QStringLiteral("model"), QString(257, QLatin1Char('m'))}}) << false
        << QString();
    QJsonArray many;
    for (int i = 0; i < 65; ++i)
        many.append(QJsonObject{{"name", "a"}, {"unacknowledged", "NO_ALARM"}});
    QTest::newRow("65 alarms") << state(t, {{QStringLiteral("alarms"), many}}) << false
                               << QString();
    QTest::newRow("a model as a number") << state(t, json(R"({"model":7})")) << false << QString();
}

void tst_FleetModel::parseState()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, read);
    QFETCH(QString, summary);
    AmplifierState parsed;
    QString error;
    QCOMPARE(AmplifierState::parse(payload, &parsed, &error), read);
    QCOMPARE(error.isEmpty(), read);
    if (!read)
        return;
    const auto value = [](const AmplifierState::Value &v) {
        return v.known ? QString::number(v.value) : QStringLiteral("-");
    };
    QString text = parsed.model + (parsed.up ? " up" : " down") + " rf "
                   + (parsed.rfKnown ? (parsed.rf ? "on" : "off") : "?") + " fault "
                   + (parsed.faultKnown ? (parsed.fault ? "yes" : "no") : "?") + ' '
                   + value(parsed.power[0]) + '/' + value(parsed.power[1]) + '/'
                   + value(parsed.power[2]) + " W";
    for (int i = 0; i < 3; ++i)
        text += ' ' + value(parsed.temp[i]) + '/' + value(parsed.tempLimit[i]);
    text += QStringLiteral(" %1 %2 unacked %3 %4 ms")
                .arg(QLatin1String(Alarm::severityName(parsed.worst)))
                .arg(parsed.unacknowledged)
                .arg(parsed.leaseHolder.isEmpty() ? QStringLiteral("-") : parsed.leaseHolder)
                .arg(parsed.intervalMs);
    QCOMPARE(text, summary);
    QCOMPARE(parsed.madeMs, m_now);
}

void tst_FleetModel::topics_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("taken");

    QTest::newRow("a status") << "korvane/lab1/status" << QByteArray("online") << true;
    QTest::newRow("the will") << "korvane/lab1/status" << QByteArray("offline") << true;
    QTest::newRow("a state") << "korvane/lab1/state" << state(m_now) << true;
    QTest::newRow("a name of markup")
        << "korvane/<b>lab&amp;<script>/state" << state(m_now) << true;
    QTest::newRow("a name with a line break")
        << "korvane/lab\n1\x1b[2J/status" << QByteArray("online") << true;
    QTest::newRow("another prefix") << "other/lab1/status" << QByteArray("online") << false;
    QTest::newRow("a prefix that only begins alike")
        << "korvane2/lab1/status" << QByteArray("online") << false;
    QTest::newRow("an event") << "korvane/lab1/events" << QByteArray("{}") << false;
    QTest::newRow("a level too many") << "korvane/lab1/x/state" << state(m_now) << false;
    QTest::newRow("no name") << "korvane//state" << state(m_now) << false;
    QTest::newRow("a status in other words")
        << "korvane/lab1/status" << QByteArray("ONLINE ") << false;
    QTest::newRow("a state that is not JSON") << "korvane/lab1/state" << QByteArray("{") << false;
    QTest::newRow("a name of 201 characters")
        << "korvane/" + QString(201, QLatin1Char('n')) + "/status" << QByteArray("online") << false;
    QTest::newRow("a name of 200 characters")
        << "korvane/" + QString(200, QLatin1Char('n')) + "/status" << QByteArray("online") << true;
    QByteArray huge = state(m_now);
    huge.insert(1, "\"pad\":\"" + QByteArray(64 * 1024, 'x') + "\",");
    QTest::newRow("a state over 64 KiB") << "korvane/lab1/state" << huge << false;
}

void tst_FleetModel::topics()
{
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(bool, taken);
    FleetModel model(QStringLiteral("korvane"), [this] { return m_now; });
    model.setBrokerConnected(true);
    QSignalSpy ignored(&model, &FleetModel::ignored);
    QCOMPARE(model.take(topic, payload), taken);
    QCOMPARE(model.order().size(), taken ? 1 : 0);
    QCOMPARE(ignored.count(), taken ? 0 : 1);
    QCOMPARE(model.ignoredMessages(), taken ? 0 : 1);
}

void tst_FleetModel::staleness_data()
{
    using S = FleetModel::Staleness;
    QTest::addColumn<QString>("status");   // empty: none
    QTest::addColumn<qint64>("madeAgoMs"); // -1: no state
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<qint64>("laterMs"); // the clock moves on after the messages
    QTest::addColumn<bool>("brokerUp");
    QTest::addColumn<FleetModel::Staleness>("staleness");

    QTest::newRow("fresh") << "online" << qint64(0) << 1000 << qint64(0) << true << S::Live;
    QTest::newRow("two intervals later")
        << "online" << qint64(0) << 1000 << qint64(2999) << true << S::Live;
    QTest::newRow("three intervals and a bit later")
        << "online" << qint64(0) << 1000 << qint64(3001) << true << S::TooOld;
    QTest::newRow("a slow agent, a while later")
        << "online" << qint64(0) << 60000 << qint64(100000) << true << S::Live;
    QTest::newRow("retained from an agent long gone")
        << "online" << qint64(86400000) << 1000 << qint64(0) << true << S::TooOld;
    QTest::newRow("made just within three intervals")
        << "online" << qint64(2500) << 1000 << qint64(0) << true << S::Live;
    QTest::newRow("made within, then the clock moves")
        << "online" << qint64(2500) << 1000 << qint64(501) << true << S::TooOld;
    QTest::newRow("no status yet") << "" << qint64(0) << 1000 << qint64(0) << true << S::Live;
    QTest::newRow("the will said")
        << "offline" << qint64(0) << 1000 << qint64(0) << true << S::AgentOffline;
    QTest::newRow("a status and no state")
        << "online" << qint64(-1) << 1000 << qint64(0) << true << S::NoState;
    QTest::newRow("no broker") << "online" << qint64(0) << 1000 << qint64(0) << false
                               << S::BrokerDown;
}

void tst_FleetModel::staleness()
{
    QFETCH(QString, status);
    QFETCH(qint64, madeAgoMs);
    QFETCH(int, intervalMs);
    QFETCH(qint64, laterMs);
    QFETCH(bool, brokerUp);
    QFETCH(FleetModel::Staleness, staleness);
    qint64 now = m_now;
    FleetModel model(QStringLiteral("korvane"), [&now] { return now; });
    model.setBrokerConnected(true);
    if (!status.isEmpty())
        QVERIFY(model.take(QStringLiteral("korvane/lab1/status"), status.toUtf8()));
    if (madeAgoMs >= 0)
        QVERIFY(model.take(QStringLiteral("korvane/lab1/state"),
                           state(now - madeAgoMs, {{QStringLiteral("interval_ms"), intervalMs}})));
    QSignalSpy changed(&model, &FleetModel::tileChanged);
    now += laterMs;
    model.setBrokerConnected(brokerUp);
    model.recheck();
    QCOMPARE(model.tile(QStringLiteral("lab1"))->staleness, staleness);
    const bool live = staleness == FleetModel::Staleness::Live;
    QCOMPARE(model.tile(QStringLiteral("lab1"))->severity() == Alarm::Severity::Invalid, !live);
    // Said once, when it turned.
    QCOMPARE(changed.count(), (laterMs > 0 && !live && status != "offline") || !brokerUp ? 1 : 0);
    // Back once the broker is, and the state has come again over the new connection.
    if (!brokerUp) {
        now += 100;
        model.setBrokerConnected(true);
        QCOMPARE(model.tile(QStringLiteral("lab1"))->staleness,
                 FleetModel::Staleness::NotSinceReconnect);
        QVERIFY(model.take(QStringLiteral("korvane/lab1/state"),
                           state(now, {{QStringLiteral("interval_ms"), intervalMs}})));
        QCOMPARE(model.tile(QStringLiteral("lab1"))->staleness, FleetModel::Staleness::Live);
    }
}

void tst_FleetModel::orderBySeverityThenName()
{
    qint64 now = m_now;
    FleetModel model(QStringLiteral("korvane"), [&now] { return now; });
    model.setBrokerConnected(true);
    const auto publish = [&](const char *name, const QJsonObject &changes) {
        QVERIFY(model.take(QStringLiteral("korvane/%1/state").arg(QLatin1String(name)),
                           state(now, changes)));
    };
    publish("b-quiet", json(R"({"worst_severity":"NO_ALARM"})"));
    publish("a-quiet", json(R"({"worst_severity":"NO_ALARM"})"));
    publish("c-minor", json(R"({"worst_severity":"MINOR"})"));
    publish("d-major", json(R"({"worst_severity":"MAJOR"})"));
    publish("e-down", json(R"({"up":false,"worst_severity":"NO_ALARM"})"));
    QCOMPARE(model.order(), QStringList({"e-down", "d-major", "c-minor", "a-quiet", "b-quiet"}));
    QSignalSpy reordered(&model, &FleetModel::orderChanged);
    publish("a-quiet", json(R"({"worst_severity":"MAJOR"})"));
    QCOMPARE(reordered.count(), 1);
    QCOMPARE(model.order(), QStringList({"e-down", "a-quiet", "d-major", "c-minor", "b-quiet"}));
    // A state that stops coming goes to the top as INVALID.
    now += 2000;
    publish("c-minor", json(R"({"worst_severity":"MINOR"})"));
    now += 2000;
    model.recheck();
    QCOMPARE(model.order(), QStringList({"a-quiet", "b-quiet", "d-major", "e-down", "c-minor"}));
}

void tst_FleetModel::boundedTiles()
{
    FleetModel model(QStringLiteral("korvane"), [this] { return m_now; });
    model.setBrokerConnected(true);
    for (int i = 0; i < FleetModel::MaxTiles; ++i)
        QVERIFY(model.take(QStringLiteral("korvane/amp%1/status").arg(i), "online"));
    QVERIFY(!model.take(QStringLiteral("korvane/one-more/status"), "online"));
    QCOMPARE(model.order().size(), FleetModel::MaxTiles);
    QVERIFY(model.lastIgnored().contains(QLatin1String("more than 1000")));
    // Those it has are still followed.
    QVERIFY(model.take(QStringLiteral("korvane/amp7/state"), state(m_now)));
    QVERIFY(model.tile(QStringLiteral("amp7"))->isLive());
}

void tst_FleetModel::clearedRetainedRemovesTile()
{
    FleetModel model(QStringLiteral("korvane"), [this] { return m_now; });
    model.setBrokerConnected(true);
    QSignalSpy removed(&model, &FleetModel::tileRemoved);
    QVERIFY(model.take(QStringLiteral("korvane/lab1/status"), "offline"));
    QVERIFY(model.take(QStringLiteral("korvane/lab1/state"), state(m_now)));
    QVERIFY(model.take(QStringLiteral("korvane/lab1/state"), QByteArray()));
    QCOMPARE(model.tile(QStringLiteral("lab1"))->hasState, false);
    QVERIFY(model.take(QStringLiteral("korvane/lab1/status"), QByteArray()));
    QCOMPARE(removed.count(), 1);
    QVERIFY(model.order().isEmpty());
    // A state that could not be read leaves the one before it as it was, ageing.
    QVERIFY(model.take(QStringLiteral("korvane/lab2/state"), state(m_now)));
    QVERIFY(!model.take(QStringLiteral("korvane/lab2/state"), "garbage"));
    QCOMPARE(model.tile(QStringLiteral("lab2"))->state.model, QStringLiteral("700136A"));
}

void tst_FleetModel::printable()
{
    QCOMPARE(FleetModel::printable(QStringLiteral("lab\n1\x1b\u202e<b>")),
             QStringLiteral("lab\uFFFD1\uFFFD\uFFFD<b>"));
}

void tst_FleetModel::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitStatus"); // -1: runs
    QTest::addColumn<QString>("broker");
    QTest::addColumn<QString>("prefix");

    QTest::newRow("defaults") << QStringList() << -1 << "127.0.0.1:1883"
                              << "korvane";
    QTest::newRow("a broker") << QStringList{"--mqtt", "broker.lab.example:1884"} << -1
                              << "broker.lab.example:1884"
                              << "korvane";
    QTest::newRow("TLS: port 8883")
        << QStringList{"--mqtt", "broker", "--mqtt-cafile", "ca.pem"} << -1 << "broker:8883"
        << "korvane";
    QTest::newRow("a prefix") << QStringList{"--mqtt-prefix", "site2/korvane"} << -1
                              << "127.0.0.1:1883"
                              << "site2/korvane";
    QTest::newRow("the toolkit's options are the toolkit's")
        << QStringList{"-platform", "offscreen", "-reverse", "--mqtt", "broker:1884"} << -1
        << "broker:1884"
        << "korvane";
    QTest::newRow("a prefix with a wildcard")
        << QStringList{"--mqtt-prefix", "korvane/#"} << 2 << ""
        << "";
    QTest::newRow("a broker without a port number") << QStringList{"--mqtt", "broker:x"} << 2 << ""
                                                    << "";
    QTest::newRow("a password without a user")
        << QStringList{"--mqtt-password-file", "p"} << 2 << ""
        << "";
    QTest::newRow("a certificate without its key")
        << QStringList{"--mqtt-cafile", "ca", "--mqtt-cert", "c"} << 2 << ""
        << "";
    QTest::newRow("two brokers") << QStringList{"--mqtt", "a", "--mqtt", "b"} << 2 << ""
                                 << "";
    QTest::newRow("TLS towards the agents")
        << QStringList{"--tls", "--tls-ca", "ca", "--tls-cert", "c", "--tls-key", "k"} << -1
        << "127.0.0.1:1883"
        << "korvane";
    QTest::newRow("an agents' authority without --tls") << QStringList{"--tls-ca", "ca"} << 2 << ""
                                                        << "";
    QTest::newRow("an operator's certificate without its key")
        << QStringList{"--tls", "--tls-cert", "c"} << 2 << ""
        << "";
    QTest::newRow("a stray argument") << QStringList{"lab1"} << 2 << ""
                                      << "";
    QTest::newRow("an option of the agent's") << QStringList{"--mqtt-interval", "1000"} << 2 << ""
                                              << "";
}

void tst_FleetModel::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitStatus);
    QFETCH(QString, broker);
    QFETCH(QString, prefix);
    FleetOptions options;
    int status = -1;
    const bool runs = options.parse(QStringList{QStringLiteral("korvane-fleet")} + arguments,
                                    &status);
    QCOMPARE(runs ? -1 : status, exitStatus);
    if (!runs)
        return;
    const MqttConnection::Settings settings = options.brokerSettings();
    QCOMPARE(QStringLiteral("%1:%2").arg(settings.host).arg(settings.port), broker);
    QCOMPARE(options.prefix, prefix);
    // Only reads: no will to say anything on its behalf.
    QVERIFY(settings.willTopic.isEmpty());
}

QTEST_GUILESS_MAIN(tst_FleetModel)
#include "tst_fleetmodel.moc"
