#include "mqttconnection.h"
#include "mqttpacketguard.h"
#include "reconnectbackoff.h"
#include "serverprocess.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
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
    void pauseBetweenTries();
    void packetLeftUnfinished();

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

// A broker that hangs up at once is tried again after ever longer pauses; once a connection
// has held, the next try after it goes comes after the shortest pause again.
void tst_AgentMqtt::pauseBetweenTries()
{
    // The pauses as documented: from half a second, twice as long each time, up to ten
    // seconds; the shortest again after a reset. The broker below sees the first of them.
    ReconnectBackoff backoff;
    QList<int> pauses;
    for (int i = 0; i < 7; ++i)
        pauses << backoff.next();
    QCOMPARE(pauses, (QList<int>{500, 1000, 2000, 4000, 8000, 10000, 10000}));
    backoff.reset();
    QCOMPARE(backoff.next(), 500);

    constexpr int Refused = 3; // pauses of 0.5, 1 and 2 s after them; 4 s would come next
    QTcpServer broker;
    QVERIFY(broker.listen(QHostAddress::LocalHost));
    QElapsedTimer clock;
    clock.start();
    QList<qint64> tries;
    QTcpSocket *held = nullptr;
    connect(&broker, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = broker.nextPendingConnection()) {
            tries.append(clock.elapsed());
            if (tries.size() <= Refused) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            held = socket;
            // A CONNACK of MQTT 5 for the CONNECT, a PINGRESP for each PINGREQ.
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                const QByteArray got = socket->readAll();
                if (!socket->property("accepted").toBool()) {
                    socket->setProperty("accepted", true);
                    socket->write(QByteArray("\x20\x03\x00\x00\x00", 5));
                } else if (got.startsWith('\xc0')) {
                    socket->write(QByteArray("\xd0\x00", 2));
                }
            });
        }
    });

    MqttConnection::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.serverPort();
    MqttConnection connection(settings);
    QSignalSpy connected(&connection, &MqttConnection::connected);
    QSignalSpy lost(&connection, &MqttConnection::lost);
    QVERIFY(connected.isValid() && lost.isValid());
    connection.start();
    QVERIFY(connected.wait(30000));
    QCOMPARE(tries.size(), Refused + 1);
    // Timers may fire a little early, never much.
    for (int i = 1; i <= Refused; ++i)
        QVERIFY2(tries.at(i) - tries.at(i - 1) >= (ReconnectBackoff::FirstMs << (i - 1)) * 9 / 10,
                 qPrintable(
                     QStringLiteral("try %1 after %2 ms").arg(i).arg(tries.at(i) - tries.at(i - 1))));

    // Held longer than it takes, then lost.
    QElapsedTimer up;
    up.start();
    // (Past the timer's slack too: a coarse timer may be 5 % late.)
    QTRY_VERIFY_WITH_TIMEOUT(up.elapsed() > MqttConnection::HeldMs * 6 / 5,
                             MqttConnection::HeldMs + 30000);
    QVERIFY(lost.isEmpty());
    held->abort();
    const qint64 closed = clock.elapsed();
    QVERIFY(lost.wait(10000));
    QTRY_COMPARE_WITH_TIMEOUT(tries.size(), Refused + 2, 30000);
    // The shortest pause; had the pauses gone on growing, 4 s.
    QVERIFY2(tries.last() - closed < 4 * ReconnectBackoff::FirstMs * 3 / 2,
             qPrintable(QStringLiteral("tried again after %1 ms").arg(tries.last() - closed)));
    connection.stop();
}

// A broker that starts a packet and never sends the rest is given up on, after as long as a
// broker may stay silent (the keep-alive), and not sooner.
void tst_AgentMqtt::packetLeftUnfinished()
{
    QTcpServer broker;
    QVERIFY(broker.listen(QHostAddress::LocalHost));
    QTcpSocket *peer = nullptr;
    connect(&broker, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = broker.nextPendingConnection()) {
            if (peer) {
                socket->abort();
                continue;
            }
            peer = socket;
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                if (!socket->property("accepted").toBool()) {
                    socket->setProperty("accepted", true);
                    socket->write(QByteArray("\x20\x03\x00\x00\x00", 5));
                }
            });
        }
    });
    MqttConnection::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.serverPort();
    MqttConnection connection(settings);
    QSignalSpy connected(&connection, &MqttConnection::connected);
    QSignalSpy lost(&connection, &MqttConnection::lost);
    QVERIFY(connected.isValid() && lost.isValid());
    connection.start();
    QVERIFY(connected.wait(10000));
    // The start of a PUBLISH of 16 bytes, one of them sent.
    peer->write(QByteArray("\x30\x10\x00", 3));
    QElapsedTimer since;
    since.start();
    QVERIFY(lost.wait(MqttConnection::KeepAliveS * 1000 + 20000));
    QCOMPARE(lost.first().first().toString(), QStringLiteral("the broker left a packet unfinished"));
    QVERIFY2(since.elapsed() >= MqttConnection::KeepAliveS * 1000,
             qPrintable(QString::number(since.elapsed())));
    connection.stop();
}

QTEST_GUILESS_MAIN(tst_AgentMqtt)
#include "tst_agent_mqtt.moc"
