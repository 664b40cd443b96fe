#include "mqttconnection.h"
#include "mqttpacketguard.h"
#include "serverprocess.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The MQTT client library the agent publishes through: the guard on what a broker sends, and
// a connection that subscribes, against the real broker.
class tst_AgentMqtt : public QObject
{
    Q_OBJECT

private slots:
    void packetGuard_data();
    void packetGuard();
    void subscribeAndReceive();

private:
    QTemporaryDir m_folder;
};

Q_DECLARE_METATYPE(MqttPacketGuard::Verdict)

void tst_AgentMqtt::packetGuard_data()
{
    using Verdict = MqttPacketGuard::Verdict;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hungUp");
    QTest::addColumn<Verdict>("verdict");
    // At most 4096 bytes a packet, as the agent takes them.
    const QByteArray pingResponse = QByteArray::fromHex("d000");
    const QByteArray publishAck = QByteArray::fromHex("40020001");
    QTest::newRow("nothing") << QByteArray() << false << Verdict::Whole;
    QTest::newRow("one packet") << publishAck << false << Verdict::Whole;
    QTest::newRow("two packets") << publishAck + pingResponse << false << Verdict::Whole;
    QTest::newRow("only a type byte") << QByteArray::fromHex("40") << false << Verdict::Unfinished;
    QTest::newRow("body unfinished")
        << QByteArray::fromHex("400200") << false << Verdict::Unfinished;
    QTest::newRow("second packet unfinished")
        << publishAck + QByteArray::fromHex("4002") << false << Verdict::Unfinished;
    QTest::newRow("unfinished, broker gone")
        << QByteArray::fromHex("400200") << true << Verdict::Whole;
    QTest::newRow("length continued")
        << QByteArray::fromHex("3080") << false << Verdict::Unfinished;
    QTest::newRow("at the bound: 4096")
        << QByteArray::fromHex("308020") << false << Verdict::Unfinished;
    QTest::newRow("over the bound: 4097")
        << QByteArray::fromHex("308120") << false << Verdict::TooMuch;
    QTest::newRow("over the bound, the rest not yet come")
        << QByteArray::fromHex("30ffff7f") << false << Verdict::TooMuch;
    QTest::newRow("length in five bytes")
        << QByteArray::fromHex("30ffffffff01") << false << Verdict::TooMuch;
    QTest::newRow("over the bound after a whole one")
        << publishAck + QByteArray::fromHex("308120") << false << Verdict::TooMuch;
}

void tst_AgentMqtt::packetGuard()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hungUp);
    QFETCH(MqttPacketGuard::Verdict, verdict);
    const MqttPacketGuard guard(4096);
    QCOMPARE(guard.check(reinterpret_cast<const unsigned char *>(bytes.constData()),
                         bytes.size(),
                         hungUp),
             verdict);
}

// A watcher that only subscribes, as a fleet viewer would, gets what another client
// publishes, retained messages on subscribing and the rest as they come.
void tst_AgentMqtt::subscribeAndReceive()
{
    if (ServerProcess::find(QStringLiteral("mosquitto")).isEmpty())
        QSKIP("mosquitto is not installed (Debian package mosquitto)");
    const quint16 port = ServerProcess::freePort();
    ServerProcess broker;
    QVERIFY2(broker.startMosquitto(m_folder.filePath(QStringLiteral("mosquitto.conf")),
                                   "listener " + QByteArray::number(port)
                                       + " 127.0.0.1\nallow_anonymous true\n"),
             qPrintable(broker.errorString()));

    MqttConnection::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    MqttConnection publisher(settings);
    QSignalSpy publisherUp(&publisher, &MqttConnection::connected);
    QSignalSpy acknowledged(&publisher, &MqttConnection::published);
    QVERIFY(publisherUp.isValid() && acknowledged.isValid());
    publisher.start();
    QVERIFY(publisherUp.wait(10000));
    QVERIFY(publisher.publish(QStringLiteral("korvane/lab1/status"), "online", 1, true) >= 0);
    QTRY_COMPARE(acknowledged.count(), 1);
    // Taken (MQTT 5 says "no matching subscribers" yet), not refused.
    QVERIFY(acknowledged.first().at(1).toInt() < 0x80);

    MqttConnection watcher(settings);
    QSignalSpy received(&watcher, &MqttConnection::messageReceived);
    QVERIFY(received.isValid());
    connect(&watcher, &MqttConnection::connected, &watcher, [&watcher] {
        QVERIFY(watcher.subscribe(QStringLiteral("korvane/+/#"), 1));
    });
    watcher.start();
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 10000);
    QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("korvane/lab1/status"));
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("online"));
    QCOMPARE(received.at(0).at(2).toBool(), true);

    const QByteArray event = R"({"event":"fault_set","level":"error"})";
    QVERIFY(publisher.publish(QStringLiteral("korvane/lab1/events"), event, 1, false) >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 10000);
    QCOMPARE(received.at(1).at(0).toString(), QStringLiteral("korvane/lab1/events"));
    QCOMPARE(received.at(1).at(1).toByteArray(), event);
    QCOMPARE(received.at(1).at(2).toBool(), false);

    watcher.stop();
    publisher.stop();
    QVERIFY(!watcher.isConnected() && !publisher.isConnected());
}

QTEST_GUILESS_MAIN(tst_AgentMqtt)
#include "tst_agent_mqtt.moc"
