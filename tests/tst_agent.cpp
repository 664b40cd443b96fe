#include "accesspolicy.h"
#include "appstate.h"
#include "badupstream.h"
#include "childprocess.h"
#include "event.h"
#include "findwidget.h"
#include "halfclose.h"
#include "frameassembler.h"
#include "mainwindow.h"
#include "reconnectbackoff.h"
#include "replies.h"
#include "scratchsettings.h"
#include "serialports.h"
#include "extension.h"
#include "simprocess.h"
#include "waiting.h"

#include <QDateTime>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <algorithm>
#include <memory>
#include <sys/file.h>

namespace {

// A client of the agent speaking the amplifier's protocol, keeping every frame it gets.
class Client : public QObject
{
public:
    explicit Client(quint16 port, const QHostAddress &from = QHostAddress::LocalHost)
    {
        if (from != QHostAddress::LocalHost)
            m_socket.bind(from);
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            for (const char byte : m_socket.readAll()) {
                if (m_assembler.push(byte))
                    m_frames.append(m_assembler.frame());
            }
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    QTcpSocket &socket() { return m_socket; }
    void send(const QByteArray &lines) { m_socket.write(lines); }
    const QList<QByteArray> &frames() const { return m_frames; }
    bool waitForFrames(int count)
    {
        return waitUntil(
            &m_socket, &QIODevice::readyRead, [&] { return m_frames.size() >= count; }, 10000);
    }
    // The agent closed the connection (or never kept it).
    bool waitForClose(int timeoutMs = 10000)
    {
        return waitUntil(
            &m_socket,
            &QAbstractSocket::stateChanged,
            [&] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
            timeoutMs);
    }
    // Asks Status and returns the reply.
    Reply::Status status()
    {
        const int before = m_frames.size();
        send("Status\r\n");
        return waitForFrames(before + 1) ? Reply::decodeStatus(m_frames.last()) : Reply::Status();
    }

private:
    QTcpSocket m_socket;
    // The agent's own frames may be longer than the amplifier's.
    FrameAssembler m_assembler{Extension::MaxFrameSize};
    QList<QByteArray> m_frames;
};

// Sends one of the agent's own commands and returns its answer.
Extension::Message command(Client *client, const QString &verb, const QJsonObject &body = {})
{
    const int before = client->frames().size();
    client->send(Extension::line(verb, body) + "\r\n");
    if (!client->waitForFrames(before + 1))
        return {};
    return Extension::parseFrame(client->frames().last());
}

QList<Reply::Kind> kindsOf(const QList<QByteArray> &frames)
{
    QList<Reply::Kind> kinds;
    for (const QByteArray &frame : frames)
        kinds.append(Reply::kindOf(frame));
    return kinds;
}

} // namespace

Q_DECLARE_METATYPE(Event)

// korvane-agent in front of the simulator, as its clients see it.
class tst_Agent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void accessRoles_data();
    void accessRoles();
    void reconnectPauses();
    void clientsGetOwnRepliesInOrder_data();
    void clientsGetOwnRepliesInOrder();
    void observersOnlyRead();
    void clientsFollowTheDevice();
    void badUpstream_data();
    void badUpstream();
    void readBackAfterSetting_data();
    void readBackAfterSetting();
    void lateReplyAnswersNothingElse();
    void droppedSettingKeepsMeasShared();
    void faultLatchedAcrossReconnect();
    void noSettingLostInSilence();
    void silentDevice();
    void clientThatNeverReadsIsDropped();
    void connectionsClosed_data();
    void connectionsClosed();
    void manyConnections_data();
    void manyConnections();
    void unansweredQuestions_data();
    void unansweredQuestions();
    void panelAndConsoleThroughTheAgent();
    void journalOfAFault();
    void stoppedIsTheLastRow_data();
    void stoppedIsTheLastRow();
    void journalOnAFullDisk();
    void settingsChangedElsewhere_data();
    void settingsChangedElsewhere();
    void exampleOptionsParse();
    void leaseAndAlarms();
    void alarmsKeptAcrossRestart();

private:
    // Starts the simulator (with `simArguments`) and an agent in front of it, after the
    // shell commands `limits` (such as "ulimit -n 64") if any.
    bool startPair(const QStringList &simArguments,
                   const QStringList &agentArguments = {},
                   const QString &limits = QString());
    // Starts an agent in front of `device` (--host ... or --serial ...).
    // `freshJournal`: the events file is removed first.
    bool startAgent(const QStringList &device,
                    const QStringList &agentArguments,
                    const QString &limits = QString(),
                    bool freshJournal = true);
    QList<QJsonObject> journal() const;
    QStringList journalEvents() const;
    // The reasons of the journal's rows of `event`.
    QStringList reasons(const QString &event) const;
    // Starts an agent in front of a scripted amplifier and waits until it is served.
    bool startBefore(const BadUpstream &upstream, const QStringList &agentArguments);

    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<SimProcess> m_agent;
    QTemporaryDir m_folder;
};

void tst_Agent::initTestCase()
{
    useScratchSettings();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
}

bool tst_Agent::startPair(const QStringList &simArguments,
                          const QStringList &agentArguments,
                          const QString &limits)
{
    m_agent.reset();
    m_sim = std::make_unique<SimProcess>();
    if (!m_sim->start(simArguments)) {
        qWarning("%s", qPrintable(m_sim->errorString()));
        return false;
    }
    const QStringList device = simArguments.contains(QStringLiteral("--pty"))
                                   ? QStringList{QStringLiteral("--serial"), m_sim->ptyPath()}
                                   : QStringList{QStringLiteral("--host"),
                                                 QStringLiteral("127.0.0.1"),
                                                 QStringLiteral("--port"),
                                                 QString::number(m_sim->port())};
    // Served once the agent has the amplifier's identity.
    return startAgent(device, agentArguments, limits)
           && m_agent->waitForReport(QStringLiteral("model_identified"));
}

bool tst_Agent::startAgent(const QStringList &device,
                           const QStringList &agentArguments,
                           const QString &limits,
                           bool freshJournal)
{
    if (freshJournal)
        QFile::remove(m_folder.filePath(QStringLiteral("events.jsonl")));
    m_agent = std::make_unique<SimProcess>();
    QString program = QStringLiteral(KORVANE_AGENT_PATH);
    QStringList arguments = device + agentArguments
                            + QStringList{QStringLiteral("--listen"),
                                          QStringLiteral("127.0.0.1:0"),
                                          QStringLiteral("--events"),
                                          m_folder.filePath(QStringLiteral("events.jsonl"))};
    if (!limits.isEmpty()) {
        // The shell sets the limits on itself and becomes the agent.
        arguments = QStringList{QStringLiteral("-c"),
                                limits + QStringLiteral(" && exec \"$0\" \"$@\""),
                                program}
                    + arguments;
        program = QStringLiteral("/bin/sh");
    }
    if (!m_agent->startProgram(program, arguments)) {
        qWarning("%s", qPrintable(m_agent->errorString()));
        return false;
    }
    return true;
}

QList<QJsonObject> tst_Agent::journal() const
{
    QFile file(m_folder.filePath(QStringLiteral("events.jsonl")));
    QList<QJsonObject> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            rows.append(QJsonDocument::fromJson(line).object());
    }
    return rows;
}

QStringList tst_Agent::reasons(const QString &event) const
{
    QStringList found;
    for (const QJsonObject &row : journal()) {
        if (row.value(QStringLiteral("event")).toString() == event)
            found.append(row.value(QStringLiteral("reason")).toString());
    }
    return found;
}

QStringList tst_Agent::journalEvents() const
{
    QStringList events;
    for (const QJsonObject &row : journal())
        events.append(row.value(QStringLiteral("event")).toString());
    return events;
}

void tst_Agent::accessRoles_data()
{
    QTest::addColumn<QStringList>("allow");
    QTest::addColumn<QStringList>("control");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("role");
    using R = AccessPolicy::Role;
    const QStringList none;
    QTest::newRow("default, loopback") << none << none << "127.0.0.1" << int(R::Controller);
    QTest::newRow("default, other loopback") << none << none << "127.0.0.9" << int(R::Controller);
    QTest::newRow("default, ::1") << none << none << "::1" << int(R::Controller);
    // Addresses only, never connected to.
    QTest::newRow("default, elsewhere") << none << none << "192.0.2.7" << int(R::Refused);
    QTest::newRow("default, elsewhere v6") << none << none << "2001:db8::7" << int(R::Refused);
    QTest::newRow("controller inside an observer range")
        << QStringList{"192.0.2.0/24"} << QStringList{"192.0.2.50/32"} << "192.0.2.50"
        << int(R::Controller);
    QTest::newRow("observer beside it")
        << QStringList{"192.0.2.0/24"} << QStringList{"192.0.2.50/32"} << "192.0.2.51"
        << int(R::Observer);
    QTest::newRow("ranges given, loopback not among them")
        << QStringList{"192.0.2.0/24"} << none << "127.0.0.1" << int(R::Refused);
    QTest::newRow("dual-stack peer, mapped")
        << QStringList{"192.0.2.0/24"} << none << "::ffff:192.0.2.9" << int(R::Observer);
    QTest::newRow("dual-stack peer, mapped controller")
        << none << QStringList{"192.0.2.50"} << "::ffff:192.0.2.50" << int(R::Controller);
    QTest::newRow("dual-stack peer, outside")
        << QStringList{"192.0.2.0/24"} << none << "::ffff:198.51.100.1" << int(R::Refused);
}

// Who may do what, from the addresses alone.
void tst_Agent::accessRoles()
{
    QFETCH(QStringList, allow);
    QFETCH(QStringList, control);
    QFETCH(QString, address);
    QFETCH(int, role);
    AccessPolicy policy;
    QString error;
    for (const QString &range : allow)
        QVERIFY2(policy.allow(range, &error), qPrintable(error));
    for (const QString &range : control)
        QVERIFY2(policy.control(range, &error), qPrintable(error));
    QCOMPARE(int(policy.roleOf(QHostAddress(address))), role);
}

// 0.5 s, doubling up to 10 s, and 0.5 s again once the link has worked.
void tst_Agent::reconnectPauses()
{
    ReconnectBackoff backoff;
    QList<int> pauses;
    for (int i = 0; i < 8; ++i)
        pauses.append(backoff.next());
    QCOMPARE(pauses, QList<int>({500, 1000, 2000, 4000, 8000, 10000, 10000, 10000}));
    backoff.reset();
    QCOMPARE(backoff.next(), 500);
}

void tst_Agent::clientsGetOwnRepliesInOrder_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::newRow("tcp") << QStringList();
    QTest::newRow("serial") << QStringList{QStringLiteral("--pty")};
}

void tst_Agent::clientsGetOwnRepliesInOrder()
{
    QFETCH(QStringList, simArguments);
    QVERIFY(startPair(simArguments));
    Client first(m_agent->port());
    Client second(m_agent->port());
    QVERIFY(first.socket().waitForConnected(5000) && second.socket().waitForConnected(5000));

    using K = Reply::Kind;
    const QList<K> firstAsks = {K::Identification, K::Status, K::Measurement, K::Measurement};
    const QList<K> secondAsks = {K::Measurement, K::Status, K::Identification, K::Measurement};
    // Junk, an overlong line and a bad command are dropped whole; the probe's empty lines
    // vanish.
    const QByteArray noise = "xx\r\n" + QByteArray(300, 'S') + "\r\nSetGain 9 1\r\nyy\r\n\r\n\r\n";
    // (Once, and as many junk lines as a client may send: one more, and it is dropped.)
    for (int round = 0; round < 5; ++round) {
        first.send("?\r\nStatus\r\n" + (round == 0 ? noise : QByteArray()) + "Meas\r\nMeas\r\n");
        second.send("Meas\r\nStatus\r\n?\r\n\r\nMeas\r\n");
    }
    QVERIFY(first.waitForFrames(20));
    QVERIFY(second.waitForFrames(20));
    QTRY_COMPARE(kindsOf(first.frames()),
                 QList<K>(firstAsks) + firstAsks + firstAsks + firstAsks + firstAsks);
    QTRY_COMPARE(kindsOf(second.frames()),
                 QList<K>(secondAsks) + secondAsks + secondAsks + secondAsks + secondAsks);
    QVERIFY(!m_sim->stderrText().contains(QStringLiteral("SetGain 9")));
    // Junk is journalled once per client, not once per line.
    QCOMPARE(journalEvents().count(QStringLiteral("client_junk")), 1);
    // Its reason is that of the first.
    QCOMPARE(reasons(QStringLiteral("client_junk")),
             QStringList{QStringLiteral("unknown command 'xx'")});

    // A client that shuts its sending side after its lines still gets every answer, then
    // the agent closes.
    for (int run = 0; run < 5; ++run) {
        const HalfCloseResult half = askThenHalfClose(m_agent->port(),
                                                      "Status\r\nMeas\r\n?\r\nStatus\r\n",
                                                      10000);
        QVERIFY(half.closedByPeer);
        QCOMPARE(kindsOf(half.frames),
                 QList<K>({K::Status, K::Measurement, K::Identification, K::Status}));
    }
}

void tst_Agent::observersOnlyRead()
{
    QVERIFY(startPair({},
                      {QStringLiteral("--allow"),
                       QStringLiteral("127.0.0.2/32"),
                       QStringLiteral("--control"),
                       QStringLiteral("127.0.0.1")}));
    Client observer(m_agent->port(), QHostAddress(QStringLiteral("127.0.0.2")));
    Client controller(m_agent->port());
    // A stranger trying again and again is journalled once, with its port.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Client stranger(m_agent->port(), QHostAddress(QStringLiteral("127.0.0.3")));
        QVERIFY(stranger.waitForClose());
    }
    // A second connection from the controller's address, whose row a second later says so.
    Client again(m_agent->port());
    QVERIFY(again.status().fieldCount > 0);

    const double gain = controller.status().gainDb[0];
    observer.send("SetGain 0 " + QByteArray::number(int(gain * 2) + 4) + "\r\n");
    QCOMPARE(observer.status().gainDb[0], gain);
    controller.send("SetGain 0 " + QByteArray::number(int(gain * 2) + 4) + "\r\n");
    QCOMPARE(controller.status().gainDb[0], gain + 2);

    QStringList events;
    for (const QJsonObject &row : journal())
        events.append(row.value(QStringLiteral("event")).toString());
    QVERIFY2(events.contains(QStringLiteral("client_refused"))
                 && events.contains(QStringLiteral("setting_refused"))
                 && events.contains(QStringLiteral("setting")),
             qPrintable(events.join(QLatin1Char(' '))));
    // Still once when the events of that second have had their count written: refusals
    // are journalled once a minute.
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            for (const QJsonObject &row : journal()) {
                if (row.value(QStringLiteral("event")) == QLatin1String("client_connected")
                    && row.contains(QStringLiteral("repeated")))
                    return true;
            }
            return false;
        }(),
        10000);
    int refusedRows = 0;
    for (const QJsonObject &row : journal()) {
        if (row.value(QStringLiteral("event")) != QLatin1String("client_refused"))
            continue;
        ++refusedRows;
        QVERIFY(QRegularExpression(QStringLiteral(R"(^127\.0\.0\.3:\d+$)"))
                    .match(row.value(QStringLiteral("client")).toString())
                    .hasMatch());
        QCOMPARE(row.value(QStringLiteral("count")).toInt(), 1);
    }
    QCOMPARE(refusedRows, 1);
    // A client that leaves is journalled as leaving.
    observer.socket().disconnectFromHost();
    QVERIFY(m_agent->waitForReport(QStringLiteral("client_disconnected")));
}

void tst_Agent::clientsFollowTheDevice()
{
    QVERIFY(startPair({}));
    const quint16 simPort = m_sim->port();
    Client client(m_agent->port());
    QVERIFY(client.status().fieldCount > 0);

    // The amplifier goes away: its clients are closed and new ones turned away.
    QVERIFY(m_sim->stop());
    QVERIFY(client.waitForClose());
    Client refused(m_agent->port());
    QVERIFY(refused.waitForClose());

    // And comes back on its address: the agent opens the link again and serves.
    m_sim = std::make_unique<SimProcess>();
    QVERIFY(m_sim->start({QStringLiteral("--port"), QString::number(simPort)}));
    QVERIFY(m_agent->waitForReport(QStringLiteral("link_up"), 2, 30000));
    Client again(m_agent->port());
    QVERIFY(again.status().fieldCount > 0);
}

void tst_Agent::badUpstream_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("answers");
    QTest::newRow("accepts and closes")
        << int(BadUpstream::AcceptAndClose) << QStringLiteral("closed") << false;
    QTest::newRow("answers garbage")
        << int(BadUpstream::AnswerGarbage) << QStringLiteral("no reply to '?'") << false;
    QTest::newRow("answers only ?") << int(BadUpstream::AnswerOnlyIdentify) << QString() << true;
    // Up every time, down every time: the pause starts again at 0.5 s after each success.
    QTest::newRow("answers, then closes") << int(BadUpstream::AnswerThenClose) << QString() << true;
}

// Something takes the agent's connection but is no amplifier, or only half of one: the link
// is up only once it answers, and the agent tries again with a growing pause, saying so once.
void tst_Agent::badUpstream()
{
    QFETCH(int, behaviour);
    QFETCH(QString, reason);
    QFETCH(bool, answers);
    BadUpstream upstream{BadUpstream::Behaviour(behaviour)};
    QVERIFY(upstream.listen());
    QVERIFY(startAgent({QStringLiteral("--host"),
                        QStringLiteral("127.0.0.1"),
                        QStringLiteral("--port"),
                        QString::number(upstream.port())},
                       {QStringLiteral("--timeout"), QStringLiteral("300")}));
    QList<QByteArray> canonical = {"?", "Status", "Meas"};
    if (behaviour == BadUpstream::AnswerThenClose) {
        QVERIFY(upstream.waitForConnections(4, 30000));
        const QList<qint64> times = upstream.connectionTimes();
        for (int i = 1; i < 4; ++i)
            QVERIFY2(times[i] - times[i - 1] >= 450 && times[i] - times[i - 1] < 1900,
                     qPrintable(QString::number(times[i] - times[i - 1])));
        QVERIFY(m_agent->waitForReport(QStringLiteral("link_down"), 3));
        QVERIFY(journalEvents().count(QStringLiteral("link_failed")) == 0);
    } else if (answers) {
        QVERIFY(m_agent->waitForReport(QStringLiteral("no_reply"), 2));
        QCOMPARE(upstream.connectionTimes().size(), 1);
        QCOMPARE(journalEvents().count(QStringLiteral("link_up")), 1);
        // Settings reach the device as the panel sends them, or not at all; "?" is answered
        // from the identity read at connect.
        Client client(m_agent->port());
        static const char lines[] = "SetGain\t0\t20\r\nSetGain   1    21\r\nsetgain 2 5\r\n"
                                    "SetLin 1\0 9\r\n?\r\n?\r\n";
        client.send(QByteArray(lines, sizeof(lines) - 1) + "SetGain 2 7" + QByteArray(300, ' ')
                    + "\r\nSetMaxCellT 99999\r\nSetMaxP 0065 \r\n");
        QVERIFY(client.waitForFrames(2));
        QCOMPARE(kindsOf(client.frames()),
                 QList<Reply::Kind>({Reply::Kind::Identification, Reply::Kind::Identification}));
        const QList<QByteArray> sent = {"SetGain 0 20", "SetGain 1 21", "SetMaxP 65"};
        QTRY_VERIFY(upstream.lines().contains(sent.last()));
        QStringList journalled;
        for (const QJsonObject &row : journal()) {
            if (row.value(QStringLiteral("event")) == QLatin1String("setting"))
                journalled.append(row.value(QStringLiteral("command")).toString());
        }
        QCOMPARE(journalled, QStringList({"SetGain 0 20", "SetGain 1 21", "SetMaxP 65"}));
        // Out of the panel's range: refused, and said why.
        QCOMPARE(reasons(QStringLiteral("setting_refused")),
                 QStringList{QStringLiteral("out of range 0..255")});
        for (const QByteArray &line : sent)
            QCOMPARE(upstream.lines().count(line), 1);
        QCOMPARE(upstream.lines().count("?"), 1);
        canonical += sent;
    } else {
        QVERIFY(upstream.waitForConnections(4, 30000));
        const QList<qint64> times = upstream.connectionTimes();
        // 0.5 s, 1 s, 2 s: never shorter, whatever the load makes longer.
        for (int i = 1; i < 4; ++i)
            QVERIFY2(times[i] - times[i - 1] >= 450 << (i - 1), qPrintable(QString::number(i)));
        Client refused(m_agent->port());
        QVERIFY(refused.waitForClose());
        QVERIFY(refused.frames().isEmpty());
        const QList<QJsonObject> rows = journal();
        QStringList failures;
        for (const QJsonObject &row : rows) {
            if (row.value(QStringLiteral("event")) == QLatin1String("link_failed"))
                failures.append(row.value(QStringLiteral("reason")).toString());
        }
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().contains(reason), qPrintable(failures.first()));
        QCOMPARE(journalEvents().count(QStringLiteral("link_up")), 0);
    }
    if (behaviour != BadUpstream::AnswerThenClose)
        QCOMPARE(journalEvents().count(QStringLiteral("link_down")), 0);
    // Nothing but whole, canonical lines went out.
    for (const QByteArray &line : upstream.lines())
        QVERIFY2(canonical.contains(line), line.constData());
}

void tst_Agent::clientThatNeverReadsIsDropped()
{
    QVERIFY(startPair({}));
    Client reader(m_agent->port());
    QTcpSocket stuck;
    // A small window, so that the agent's side fills after a few hundred replies.
    stuck.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    // Qt would otherwise read everything into its own buffer, unasked.
    stuck.setReadBufferSize(4096);
    stuck.connectToHost(QHostAddress::LocalHost, m_agent->port());
    QVERIFY(stuck.waitForConnected(5000));

    // "?" is answered from the identity at once, so no question waits: it is the unread
    // replies that must get the client dropped. The kernel's buffers on loopback take a
    // little more than the largest send buffer of them (4.5 MB for 4 MiB); the agent's own
    // 64 KiB come on top. Half a send buffer more is far from the 4 MiB more that a bound
    // 64 times as large would let through.
    qint64 sendBufferMax = 4 * 1024 * 1024;
    QFile wmem(QStringLiteral("/proc/sys/net/ipv4/tcp_wmem"));
    if (wmem.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> sizes = wmem.readAll().simplified().split(' ');
        if (sizes.size() == 3)
            sendBufferMax = sizes.last().toLongLong();
    }
    const qint64 budget = sendBufferMax * 3 / 2 + 128 * 1024;
    reader.send("?\r\n");
    QVERIFY(reader.waitForFrames(1));
    const int repliesPerBurst = 1000;
    const qint64 burstReplyBytes = qint64(reader.frames().first().size()) * repliesPerBurst;
    const QByteArray burst = QByteArray("?\r\n").repeated(repliesPerBurst);
    for (int sent = 0;
         sent * burstReplyBytes < budget && stuck.state() == QAbstractSocket::ConnectedState;
         ++sent) {
        stuck.write(burst);
        stuck.waitForBytesWritten(1000);
        // The reader is served meanwhile.
        reader.send("Meas\r\n");
        QVERIFY(reader.waitForFrames(sent + 2));
    }
    QVERIFY(m_agent->waitForReport(QStringLiteral("client_dropped")));
    QVERIFY(m_agent->stderrText().contains(QStringLiteral("not reading its replies")));
    const int served = reader.frames().size();
    reader.send("Status\r\n");
    QVERIFY(reader.waitForFrames(served + 1));
}

void tst_Agent::readBackAfterSetting_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("Status") << QByteArray("Status");
    // Asked while the agent's own poll keeps a reading fresh: the one from before the setting
    // is not the answer.
    QTest::newRow("Meas") << QByteArray("Meas");
}

void tst_Agent::readBackAfterSetting()
{
    QFETCH(QByteArray, query);
    // A slow amplifier, so that queries wait in line behind each other.
    QVERIFY(startPair({QStringLiteral("--delay"), QStringLiteral("20")}));
    Client other(m_agent->port());
    Client client(m_agent->port());
    QVERIFY(other.status().fieldCount > 0);
    for (int i = 0; i < 20; ++i) {
        // The same asked before the setting, and after it.
        other.send(query + "\r\n");
        // Gain A 0 dB and 20 dB by turns: power A some 0.1 W, and several watts.
        const int halfSteps = query == "Meas" ? (i % 2) * 40 : 30 + i;
        client.send("SetGain 0 " + QByteArray::number(halfSteps) + "\r\n" + query + "\r\n");
        QVERIFY(client.waitForFrames(i + 1));
        if (query == "Status") {
            QCOMPARE(Reply::decodeStatus(client.frames().last()).gainDb[0], halfSteps / 2.0);
        } else {
            const double powerA = Reply::decodeMeasurement(client.frames().last()).powerTenths[0];
            QVERIFY2(halfSteps == 0 ? powerA <= 5 : powerA >= 50,
                     qPrintable(
                         QStringLiteral("%1 W at %2 dB").arg(powerA / 10).arg(halfSteps / 2)));
        }
    }
}

bool tst_Agent::startBefore(const BadUpstream &upstream, const QStringList &agentArguments)
{
    return startAgent({QStringLiteral("--host"),
                       QStringLiteral("127.0.0.1"),
                       QStringLiteral("--port"),
                       QString::number(upstream.port())},
                      agentArguments)
           && m_agent->waitForReport(QStringLiteral("model_identified"));
}

// A reply that comes after the agent gave up on its question is that question's: it does
// not answer the next one of its kind, nor make the agent's own setting look like another's.
void tst_Agent::lateReplyAnswersNothingElse()
{
    BadUpstream upstream{BadUpstream::Amplifier};
    QVERIFY(upstream.listen());
    QVERIFY(startBefore(upstream,
                        {QStringLiteral("--timeout"),
                         QStringLiteral("500"),
                         QStringLiteral("--status-interval"),
                         QStringLiteral("3600000")}));
    Client client(m_agent->port());
    QCOMPARE(client.status().gainDb[0], 10.0);
    // The agent's own reads, at connect and at its first reading, are done.
    QVERIFY(upstream.waitForLines("Status", 2, 10000));
    upstream.delayNextStatus(650);
    client.send("Status\r\nSetGain 0 30\r\nStatus\r\n");
    // The first Status is not answered in time; the second shows the setting.
    QVERIFY(client.waitForFrames(2));
    QCOMPARE(Reply::decodeStatus(client.frames().last()).gainDb[0], 15.0);
    QCOMPARE(client.status().gainDb[0], 15.0);
    QVERIFY(m_agent->waitForReport(QStringLiteral("no_reply")));
    QVERIFY(!journalEvents().contains(QStringLiteral("settings_changed")));
}

// A setting dropped with the link leaves no mark: "Meas" is answered from the agent's own
// poll again, however many clients ask.
void tst_Agent::droppedSettingKeepsMeasShared()
{
    BadUpstream upstream{BadUpstream::Amplifier};
    QVERIFY(upstream.listen());
    QVERIFY(startBefore(upstream, {QStringLiteral("--timeout"), QStringLiteral("3000")}));
    {
        Client client(m_agent->port());
        // A query goes out whose reply is held 2 s; the setting waits behind it ("?" is
        // answered at once, after the setting is taken), and the link is cut.
        upstream.setReplyDelay(2000);
        const int heard = upstream.lines().size();
        QVERIFY(QTest::qWaitFor([&] { return upstream.lines().size() > heard; }, 10000));
        client.send("SetLin 7\r\n?\r\n");
        QVERIFY(client.waitForFrames(1));
        upstream.cutConnections();
        upstream.setReplyDelay(0);
        QVERIFY(m_agent->waitForReport(QStringLiteral("setting_dropped")));
    }
    QVERIFY(m_agent->waitForReport(QStringLiteral(" link_up "), 2, 30000));
    std::vector<std::unique_ptr<Client>> pollers;
    for (int i = 0; i < 10; ++i)
        pollers.push_back(std::make_unique<Client>(m_agent->port()));
    const int measBefore = upstream.lines().count("Meas");
    QElapsedTimer clock;
    clock.start();
    const int rounds = 10;
    for (int round = 1; round <= rounds; ++round) {
        for (const auto &poller : pollers)
            poller->send("Meas\r\n");
        for (const auto &poller : pollers)
            QVERIFY(poller->waitForFrames(round));
    }
    // The agent's own poll, ten a second, and a few asked as a reading turns 100 ms old.
    const int asked = upstream.lines().count("Meas") - measBefore;
    QVERIFY2(asked <= clock.elapsed() / 100 + 5,
             qPrintable(QStringLiteral("%1 Meas in %2 ms").arg(asked).arg(clock.elapsed())));
}

// A fault still latched when the link is back is the same fault: journalled once.
void tst_Agent::faultLatchedAcrossReconnect()
{
    // The link drops after every 40 replies.
    QVERIFY(startPair({QStringLiteral("--drop-after"), QStringLiteral("40")}));
    Client elsewhere(m_sim->port());
    elsewhere.send("SetMaxCellT 20\r\n");
    QVERIFY(m_agent->waitForReport(QStringLiteral("fault_set")));
    const int ups = m_agent->stderrText().count(QLatin1String(" link_up "));
    QVERIFY(m_agent->waitForReport(QStringLiteral(" link_up "), ups + 2, 30000));
    QCOMPARE(journalEvents().count(QStringLiteral("fault_set")), 1);
}

void tst_Agent::noSettingLostInSilence()
{
    // A slow amplifier that drops the link after every 20 replies.
    QVERIFY(startPair({QStringLiteral("--delay"),
                       QStringLiteral("20"),
                       QStringLiteral("--drop-after"),
                       QStringLiteral("20")}));
    int next = 1000;
    for (int round = 0; round < 40 && next < 1060; ++round) {
        // Once the link is back up after a drop.
        const int ups = m_agent->stderrText().count(QLatin1String(" link_up "));
        Client client(m_agent->port());
        if (client.waitForClose(500)) {
            QVERIFY(m_agent->waitForReport(QStringLiteral(" link_up "), ups + 1, 30000));
            continue;
        }
        // Settings (calibrations, which the simulator names as it carries them out) and
        // questions between, until the link drops and the agent closes the client.
        for (int asked = 1; asked <= 10; ++asked) {
            client.send("Calibrate " + QByteArray::number(next++ % 3) + "\r\nMeas\r\n");
            const auto settled = [&] {
                return client.frames().size() >= asked
                       || client.socket().state() != QAbstractSocket::ConnectedState;
            };
            if (!QTest::qWaitFor(settled, 10000)
                || client.socket().state() != QAbstractSocket::ConnectedState)
                break;
        }
    }
    QVERIFY(m_agent->stderrText().contains(QLatin1String("link_down")));
    // Every setting journalled as made reached the amplifier; every other one is said.
    QStringList made;
    int dropped = 0;
    for (const QJsonObject &row : journal()) {
        const QString event = row.value(QStringLiteral("event")).toString();
        if (event == QLatin1String("setting"))
            made.append(row.value(QStringLiteral("command")).toString());
        else if (event == QLatin1String("setting_dropped"))
            ++dropped;
    }
    QVERIFY(made.size() > 20);
    // The simulator reports each setting it carried out (a second's repeats as a count).
    const auto carriedOut = [this] {
        int count = 0;
        const QRegularExpression repeats(QStringLiteral(R"((\d+) more like this .*calibrated)"));
        for (const QString &line : m_sim->stderrText().split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = repeats.match(line);
            if (match.hasMatch())
                count += match.captured(1).toInt();
            else if (line.contains(QLatin1String("calibrated")))
                ++count;
        }
        return count;
    };
    QTRY_VERIFY_WITH_TIMEOUT(carriedOut() >= made.size(), 10000);
    qInfo("%d settings made, %d dropped, %d sent, %d carried out",
          int(made.size()),
          dropped,
          next - 1000,
          carriedOut());
}

void tst_Agent::silentDevice()
{
    // It answers 30 replies on each connection, then nothing while it still listens.
    QVERIFY(startPair({QStringLiteral("--mute-after"), QStringLiteral("30")}));
    Client client(m_agent->port());
    QVERIFY(client.status().fieldCount > 0);
    QVERIFY(m_agent->waitForReport(QStringLiteral("no reply for 5 s"), 1, 30000));
    QVERIFY(client.waitForClose());
    QVERIFY(reasons(QStringLiteral("link_down"))
                .join(QLatin1Char(' '))
                .contains(QLatin1String("no reply")));
    // And the agent tries again: the simulator answers the new connection.
    QVERIFY(m_agent->waitForReport(QStringLiteral("link_up"), 2, 30000));
    Client again(m_agent->port());
    QVERIFY(again.status().fieldCount > 0);
}

void tst_Agent::connectionsClosed_data()
{
    QTest::addColumn<QStringList>("agentArguments");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("reason");
    QTest::newRow("idle") << QStringList{QStringLiteral("--idle-timeout"), QStringLiteral("1")}
                          << QByteArray() << QStringLiteral("idle for 1 s");
    QTest::newRow("unfinished line")
        << QStringList() << QByteArray("Meas\r\nMea") << QStringLiteral("line unfinished");
    QTest::newRow("overlong line never ended")
        << QStringList() << QByteArray(1000, 'M') << QStringLiteral("line unfinished");
    // A web page's request, such as a browser (or curl -d) sends: its body is never run.
    QTest::newRow("HTTP POST") << QStringList()
                               << QByteArray("POST / HTTP/1.1\r\nHost: 127.0.0.1:2101\r\n"
                                             "User-Agent: curl/7.88.1\r\nAccept: */*\r\n"
                                             "Content-Length: 10\r\nContent-Type: "
                                             "application/x-www-form-urlencoded\r\n\r\n"
                                             "SetGain 0 7\r\n")
                               << QStringLiteral("HTTP request");
    QTest::newRow("HTTP header first")
        << QStringList() << QByteArray("Host: 127.0.0.1\r\nSetGain 0 7\r\n")
        << QStringLiteral("HTTP request");
    QTest::newRow("junk lines") << QStringList()
                                << QByteArray("a\r\nb\r\nc\r\nd\r\ne\r\nSetGain 0 7\r\n")
                                << QStringLiteral("more than 4 junk lines");
    // An overlong line is junk too, however much of it there is.
    QTest::newRow("overlong lines")
        << QStringList() << (QByteArray(300, 'S') + "\r\n").repeated(5) + "SetGain 0 7\r\n"
        << QStringLiteral("more than 4 junk lines");
}

void tst_Agent::connectionsClosed()
{
    QFETCH(QStringList, agentArguments);
    QFETCH(QByteArray, sent);
    QFETCH(QString, reason);
    QVERIFY(startPair({}, agentArguments));
    Client client(m_agent->port());
    QVERIFY(client.socket().waitForConnected(5000));
    client.send(sent);
    QVERIFY(client.waitForClose(30000));
    QVERIFY(m_agent->waitForReport(QStringLiteral("client_dropped")));
    QVERIFY2(reasons(QStringLiteral("client_dropped")).join(QLatin1Char(' ')).contains(reason),
             qPrintable(m_agent->stderrText()));
    QCOMPARE(reasons(QStringLiteral("client_dropped")).size(), 1);
    // Nothing of it reached the amplifier, and the next client is served.
    Client next(m_agent->port());
    const Reply::Status status = next.status();
    QVERIFY(status.fieldCount > 0);
    // (The simulator's 700136A would ignore the linearity anyway; a gain it would take.)
    QVERIFY(status.gainDb[0] != 3.5);
}

void tst_Agent::manyConnections_data()
{
    QTest::addColumn<QStringList>("agentArguments");
    QTest::addColumn<QString>("limits");
    QTest::addColumn<int>("connections");
    QTest::addColumn<QString>("report");
    QTest::newRow("more than --max-clients")
        << QStringList{QStringLiteral("--max-clients"), QStringLiteral("3")} << QString() << 6
        << QStringLiteral("reason=too many clients");
    QTest::newRow("descriptors run out")
        << QStringList{QStringLiteral("--max-clients"), QStringLiteral("200")}
        << QStringLiteral("ulimit -n 64") << 60 << QStringLiteral("accept_failed");
    // One of the two leaves a single descriptor for the last client accepted, none for the
    // second one it writes its replies through.
    QTest::newRow("descriptors run out, one over")
        << QStringList{QStringLiteral("--max-clients"), QStringLiteral("200")}
        << QStringLiteral("ulimit -n 65") << 60 << QStringLiteral("accept_failed");
}

void tst_Agent::manyConnections()
{
    QFETCH(QStringList, agentArguments);
    QFETCH(QString, limits);
    QFETCH(int, connections);
    QFETCH(QString, report);
    QVERIFY(startPair({}, agentArguments, limits));
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < connections; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, m_agent->port());
        QVERIFY(crowd.back()->waitForConnected(5000));
        crowd.back()->write("?\r\n");
    }
    QVERIFY(m_agent->waitForReport(report));
    // Every client the agent took is answered, however few descriptors were left for it.
    const auto accepted = [this] {
        int count = 0;
        bool counted = false; // the row with the count of those after the first has come
        for (const QJsonObject &row : journal()) {
            if (row.value(QStringLiteral("event")).toString() != QStringLiteral("client_connected"))
                continue;
            counted = counted || row.contains(QStringLiteral("repeated"));
            count += row.value(QStringLiteral("repeated")).toInt(1);
        }
        return counted ? count : -1;
    };
    const auto answered = [&crowd] {
        return int(std::count_if(crowd.begin(), crowd.end(), [](const auto &socket) {
            return socket->bytesAvailable() > 0;
        }));
    };
    QTRY_COMPARE_WITH_TIMEOUT(answered(), accepted(), 20000);
    // Once they have gone (and the agent has seen them go), it serves again.
    crowd.clear();
    const auto served = [this] {
        Client next(m_agent->port());
        return !next.waitForClose(1000) && next.status().fieldCount > 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(served(), 20000);
}

void tst_Agent::unansweredQuestions_data()
{
    QTest::addColumn<int>("questions");
    QTest::addColumn<bool>("dropped");
    // The bound the README gives, not the constant: a changed constant must show.
    QTest::newRow("at the bound") << 256 << false;
    QTest::newRow("one over") << 257 << true;
}

// Questions the device has not answered yet are bounded per client: a flood is dropped, a
// client at the bound gets every answer.
void tst_Agent::unansweredQuestions()
{
    QFETCH(int, questions);
    QFETCH(bool, dropped);
    QVERIFY(startPair({QStringLiteral("--delay"), QStringLiteral("1000")},
                      {QStringLiteral("--timeout"), QStringLiteral("5000")}));
    Client client(m_agent->port());
    QVERIFY(client.socket().waitForConnected(5000));
    client.send(QByteArray("Status\r\n").repeated(questions));
    if (dropped) {
        QVERIFY(client.waitForClose());
        QVERIFY(m_agent->stderrText().contains(QStringLiteral("too many questions")));
    } else {
        QVERIFY(waitUntil(
            &client.socket(),
            &QIODevice::readyRead,
            [&] { return client.frames().size() >= questions; },
            30000));
        QVERIFY(!m_agent->stderrText().contains(QStringLiteral("client_dropped")));
    }
}

void tst_Agent::panelAndConsoleThroughTheAgent()
{
    QVERIFY(startPair({}));
    App::resetState();
    App::amplifierTcpPort = m_agent->port();
    MainWindow window;
    findWidget<QLineEdit>(&window, "HostIP")->setText(QStringLiteral("127.0.0.1"));
    findWidget<QPushButton>(&window, "EthernetConnect")->click();
    QTRY_COMPARE(window.windowTitle().left(25), QStringLiteral("Korvane Amplifier 700136A"));
    QTRY_VERIFY(findWidget<QTextEdit>(&window, "CHAPout")->toPlainText().contains(QLatin1Char('.')));

    ChildProcess ctl;
    ctl.start(QStringLiteral(KORVANE_CTL_PATH),
              {QStringLiteral("--host"),
               QStringLiteral("127.0.0.1"),
               QStringLiteral("--port"),
               QString::number(m_agent->port()),
               QStringLiteral("identify")});
    QTRY_COMPARE_WITH_TIMEOUT(ctl.state(), QProcess::NotRunning, 10000);
    QCOMPARE(ctl.exitCode(), 0);
    QCOMPARE(ctl.readAllStandardOutput().trimmed(), QByteArray("700136A"));

    // A gain set by the console tool shows in the panel, and the panel's next step starts
    // from it: 20.5 dB, not 11 dB from the 10.5 it showed before.
    const QStringList agent = {QStringLiteral("--host"),
                               QStringLiteral("127.0.0.1"),
                               QStringLiteral("--port"),
                               QString::number(m_agent->port())};
    ChildProcess set;
    set.start(QStringLiteral(KORVANE_CTL_PATH),
              agent
                  + QStringList{QStringLiteral("set"),
                                QStringLiteral("gain"),
                                QStringLiteral("B"),
                                QStringLiteral("20")});
    QTRY_COMPARE_WITH_TIMEOUT(set.state(), QProcess::NotRunning, 10000);
    QCOMPARE(set.exitCode(), 0);
    auto *gainB = findWidget<QDoubleSpinBox>(&window, "GainB");
    QTRY_COMPARE_WITH_TIMEOUT(gainB->value(), 20.0, 10000);
    QTest::keyClick(gainB, Qt::Key_Up);
    ChildProcess status;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            status.start(QStringLiteral(KORVANE_CTL_PATH),
                         agent + QStringList{QStringLiteral("status"), QStringLiteral("--json")});
            status.waitForFinished(10000);
            return status.readAllStandardOutput().contains("\"gain_b_db\": 20.5");
        }(),
        10000);
    App::amplifierTcpPort = App::DefaultAmplifierTcpPort;
}

void tst_Agent::journalOfAFault()
{
    QVERIFY(startPair({}));
    Client client(m_agent->port());
    // Below the ambient 25 °C: the cells are over their limit at once and the fault latches.
    client.send("SetMaxCellT 20\r\n");
    QVERIFY(m_agent->waitForReport(QStringLiteral("fault_set")));
    client.send("SetMaxCellT 100\r\nReset\r\n");
    QVERIFY(m_agent->waitForReport(QStringLiteral("fault_cleared")));
    QVERIFY(m_agent->waitForReport(QStringLiteral("temperature_back")));

    QStringList events;
    for (const QJsonObject &row : journal()) {
        QVERIFY(QRegularExpression(
                    QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)$)"))
                    .match(row.value(QStringLiteral("time")).toString())
                    .hasMatch());
        events.append(row.value(QStringLiteral("event")).toString());
    }
    const auto after = [&events](const char *first, const char *then) {
        const int at = events.indexOf(QLatin1String(first));
        return at >= 0 && events.indexOf(QLatin1String(then), at) > at;
    };
    QVERIFY2(after("fault_set", "fault_cleared") && after("temperature_over", "temperature_back"),
             qPrintable(events.join(QLatin1Char(' '))));

    // One vocabulary: a level on every event, the sensors named as in the metrics, and the
    // end says what ended.
    QVERIFY(m_agent->stop());
    const QStringList levels = {"info", "warning", "error"};
    const QStringList sensors = {"cell1", "cell2", "driver"};
    bool stopped = false;
    for (const QJsonObject &row : journal()) {
        const QString event = row.value(QStringLiteral("event")).toString();
        QVERIFY2(levels.contains(row.value(QStringLiteral("level")).toString()), qPrintable(event));
        if (event == QLatin1String("fault_set"))
            QCOMPARE(row.value(QStringLiteral("level")).toString(), QStringLiteral("error"));
        if (event.startsWith(QLatin1String("temperature_")))
            QVERIFY(sensors.contains(row.value(QStringLiteral("sensor")).toString()));
        if (event == QLatin1String("stopped"))
            stopped = row.contains(QStringLiteral("device"))
                      && row.contains(QStringLiteral("listen"));
    }
    QVERIFY(stopped);

    // A second run appends to the journal.
    const int rows = journal().size();
    QVERIFY(startAgent({QStringLiteral("--host"),
                        QStringLiteral("127.0.0.1"),
                        QStringLiteral("--port"),
                        QString::number(m_sim->port())},
                       {},
                       QString(),
                       false));
    QVERIFY(m_agent->waitForReport(QStringLiteral("model_identified")));
    QVERIFY(journal().size() > rows);
    QCOMPARE(journal().first().value(QStringLiteral("event")).toString(), QStringLiteral("started"));
    QCOMPARE(journalEvents().count(QStringLiteral("started")), 2);
}

void tst_Agent::stoppedIsTheLastRow_data()
{
    QTest::addColumn<QStringList>("agentArguments");
    QTest::addColumn<int>("held");        // clients that connect first and stay
    QTest::addColumn<int>("connections"); // then these, one after another
    QTest::addColumn<Event>("event");
    QTest::addColumn<QString>("countKey");
    // Repeats within the second are counted, and the count is due when the agent stops.
    QTest::newRow("clients connected within a second")
        << QStringList() << 0 << 20 << Event::ClientConnected << QStringLiteral("repeated");
    // Refusals are counted for a minute.
    QTest::newRow("clients refused within a minute")
        << QStringList{QStringLiteral("--max-clients"), QStringLiteral("1")} << 1 << 5
        << Event::ClientRefused << QStringLiteral("count");
}

// At SIGTERM the counts still due go in before "stopped", in the journal and on standard
// error alike, and nothing comes after it.
void tst_Agent::stoppedIsTheLastRow()
{
    QFETCH(QStringList, agentArguments);
    QFETCH(int, held);
    QFETCH(int, connections);
    QFETCH(Event, event);
    QFETCH(QString, countKey);
    QVERIFY(startPair({}, agentArguments));
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < held; ++i) {
        clients.push_back(std::make_unique<Client>(m_agent->port()));
        QVERIFY(clients.back()->status().fieldCount > 0);
    }
    for (int i = 0; i < connections; ++i) {
        clients.push_back(std::make_unique<Client>(m_agent->port()));
        clients.back()->send("?\r\n");
    }
    // Served or turned away, each one has been counted.
    const auto settled = [&clients] {
        return std::all_of(clients.begin(), clients.end(), [](const auto &client) {
            return !client->frames().isEmpty()
                   || client->socket().state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
    QVERIFY(m_agent->stop());

    const QString name = Events::name(event);
    const QList<QJsonObject> rows = journal();
    QVERIFY(!rows.isEmpty());
    QCOMPARE(rows.last().value(QStringLiteral("event")).toString(), Events::name(Event::Stopped));
    int counted = 0;
    for (const QJsonObject &row : rows) {
        // Every row is an event of the table, at its level.
        Event known;
        QVERIFY(Events::fromName(row.value(QStringLiteral("event")).toString(), &known));
        QCOMPARE(row.value(QStringLiteral("level")).toString(), Events::levelName(known));
        if (row.value(QStringLiteral("event")).toString() == name)
            counted += row.value(countKey).toInt(1);
    }
    QCOMPARE(counted, connections);
    const QString text = m_agent->stderrText().trimmed();
    QVERIFY2(text.mid(text.lastIndexOf(QLatin1Char('\n')) + 1).contains(QLatin1String(" stopped ")),
             qPrintable(text.right(300)));
}

void tst_Agent::journalOnAFullDisk()
{
    // A file size limit of 8 KiB (in 512-byte blocks) stands in for a full disk.
    QVERIFY(startPair({}, {}, QStringLiteral("ulimit -f 16")));
    const QString full = QStringLiteral("cannot write the journal");
    for (int i = 0; i < 500 && !m_agent->stderrText().contains(full); ++i) {
        // From one address after another: a row each, not one a second.
        Client client(m_agent->port(), QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i % 250)));
        QVERIFY(client.status().fieldCount > 0);
    }
    QVERIFY(m_agent->waitForReport(full));
    // Space comes back: the rows that follow are whole, and the file has no part of a row.
    QFile file(m_folder.filePath(QStringLiteral("events.jsonl")));
    QVERIFY(file.open(QIODevice::ReadWrite));
    // Read and emptied under the file's lock, as every writer of it works: the agent may be
    // taking back the part of a row that did not fit, and emptying the file between its
    // write and its taking back would have it grow the file again to where it was.
    QVERIFY(::flock(file.handle(), LOCK_EX) == 0);
    const QByteArray before = file.readAll();
    // Up to the last whole row, short of the limit.
    QVERIFY2(before.endsWith('\n') && before.size() < 8192,
             qPrintable(QString::number(before.size())));
    QVERIFY(file.resize(0));
    ::flock(file.handle(), LOCK_UN);
    file.close();
    for (int i = 0; i < 500 && !m_agent->stderrText().contains(QStringLiteral("written again"));
         ++i) {
        // From one address after another: a row each, not one a second.
        Client client(m_agent->port(), QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i % 250)));
        QVERIFY(client.status().fieldCount > 0);
    }
    QVERIFY(m_agent->waitForReport(QStringLiteral("the journal is written again")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    QVERIFY(rows.size() > 1);
    for (const QByteArray &row : rows) {
        if (row.isEmpty())
            continue;
        QJsonParseError error{};
        QJsonDocument::fromJson(row, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, row.constData());
    }
    QCOMPARE(m_agent->stderrText().count(full), 1);
}

void tst_Agent::settingsChangedElsewhere_data()
{
    QTest::addColumn<QString>("statusInterval");
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QJsonValue>("previous");
    QTest::addColumn<QByteArray>("then"); // a setting through the agent right after
    // Read every 300 ms.
    QTest::newRow("gain") << QStringLiteral("300") << QByteArray("SetGain 0 30")
                          << QStringLiteral("gain_a_db") << QJsonValue(15) << QJsonValue(10.5)
                          << QByteArray();
    // Read at once when the status character changes: the fault switched RF off.
    QTest::newRow("fault") << QStringLiteral("3600000") << QByteArray("SetMaxCellT 20")
                           << QStringLiteral("rf_enabled") << QJsonValue(false) << QJsonValue(true)
                           << QByteArray();
    // Read only after the agent's own setting, which does not hide the other change.
    QTest::newRow("beside a setting of ours")
        << QStringLiteral("3600000") << QByteArray("SetMaxDrvT 90")
        << QStringLiteral("driver_limit_c") << QJsonValue(90) << QJsonValue(60)
        << QByteArray("SetGain 1 7");
}

// Another client of the amplifier (or its own fault logic) changes its settings: the agent
// sees it, journals it, and holds the temperatures against the new limits.
void tst_Agent::settingsChangedElsewhere()
{
    QFETCH(QString, statusInterval);
    QFETCH(QByteArray, setting);
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    QFETCH(QJsonValue, previous);
    QFETCH(QByteArray, then);
    QVERIFY(startPair({}, {QStringLiteral("--status-interval"), statusInterval}));
    // Once the agent knows the settings (also the Status it reads at its first reading), they
    // change on another path.
    Client client(m_agent->port());
    client.send("Meas\r\nStatus\r\n");
    QVERIFY(client.waitForFrames(2));
    Client elsewhere(m_sim->port());
    QVERIFY(elsewhere.socket().waitForConnected(5000));
    elsewhere.send(setting + "\r\nStatus\r\n");
    QVERIFY(elsewhere.waitForFrames(1));
    if (!then.isEmpty())
        client.send(then + "\r\n");
    const auto changed = [this](const QString &field, const QJsonValue &value) {
        for (const QJsonObject &row : journal()) {
            if (row.value(QStringLiteral("event")) == QLatin1String("settings_changed")
                && row.value(field) == value)
                return row;
        }
        return QJsonObject();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!changed(field, value).isEmpty(), 10000);
    QCOMPARE(changed(field, value).value(QStringLiteral("previous")).toObject().value(field),
             previous);
    // Only the other change: ours is journalled as a setting.
    QVERIFY(!changed(field, value).contains(QStringLiteral("gain_b_db")));
    if (setting.startsWith("SetMaxCellT")) {
        QVERIFY(!changed(QStringLiteral("cell_limit_c"), 20).isEmpty());
        QVERIFY(m_agent->waitForReport(QStringLiteral("temperature_over")));
        for (const QJsonObject &row : journal()) {
            if (row.value(QStringLiteral("event")) == QLatin1String("temperature_over"))
                QCOMPARE(row.value(QStringLiteral("limit_c")), QJsonValue(20));
        }
    }
    // What goes through the agent is a setting, not a change from elsewhere.
    client.send("SetGain 2 42\r\n");
    QTRY_COMPARE(client.status().gainDb[2], 21.0);
    QVERIFY(changed(QStringLiteral("gain_c_db"), 21).isEmpty());
}

void tst_Agent::exampleOptionsParse()
{
    QFile example(QStringLiteral(KORVANE_AGENT_SOURCE_DIR "/korvane-agent.conf.example"));
    QVERIFY(example.open(QIODevice::ReadOnly));
    int checked = 0;
    const QRegularExpression setting(QStringLiteral(R"(KORVANE_AGENT_OPTIONS="([^"]*)\")"));
    for (const QByteArray &line : example.readAll().split('\n')) {
        const QRegularExpressionMatch match = setting.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        ChildProcess agent;
        agent.start(QStringLiteral(KORVANE_AGENT_PATH),
                    QStringList{QStringLiteral("--check")}
                        + match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        QVERIFY(agent.waitForFinished(10000));
        QVERIFY2(agent.exitCode() == 0, agent.readAllStandardError().constData());
        ++checked;
    }
    QCOMPARE(checked, 2);
}

// The lease and the alarms through the agent's own commands, and a plain client that sees
// nothing of them but its settings refused while another holds the lease.
void tst_Agent::leaseAndAlarms()
{
    QVERIFY(startPair({},
                      {QStringLiteral("--control"),
                       QStringLiteral("127.0.0.1"),
                       QStringLiteral("--allow"),
                       QStringLiteral("127.0.0.2/31"),
                       QStringLiteral("--admin"),
                       QStringLiteral("127.0.0.3")}));
    Client plain(m_agent->port());
    Client holder(m_agent->port());
    Client observer(m_agent->port(), QHostAddress(QStringLiteral("127.0.0.2")));
    Client admin(m_agent->port(), QHostAddress(QStringLiteral("127.0.0.3")));
    const auto ok = [](const Extension::Message &answer) {
        return answer.verb == QLatin1String(Extension::Verb::Ok);
    };
    // Before @hello the agent's lines are junk, as to an amplifier: no answer.
    holder.send("@lease\r\n");
    QCOMPARE(holder.status().fieldCount, 8);
    QCOMPARE(holder.frames().size(), 1);
    QCOMPARE(command(&holder, "hello").body.value("role").toString(), QStringLiteral("controller"));
    QCOMPARE(command(&observer, "hello").body.value("role").toString(), QStringLiteral("observer"));
    QCOMPARE(command(&admin, "hello").body.value("admin").toBool(), true);

    // Observers may look, not acknowledge or hold.
    QCOMPARE(command(&observer, "alarms").body.value("alarms").toArray().size(), 8);
    QCOMPARE(command(&observer, "ack", {{"alarm", "all"}}).verb, QStringLiteral("error"));
    QCOMPARE(command(&observer, "lease-take", {{"for", 60}}).verb, QStringLiteral("error"));
    QVERIFY(m_agent->waitForReport(QStringLiteral("request_refused")));

    const Extension::Message taken = command(&holder,
                                             "lease-take",
                                             {{"for", 600}, {"note", "calibration run"}});
    QVERIFY2(ok(taken), qPrintable(taken.body.value("reason").toString()));
    const QString token = taken.body.value("token").toString();
    QCOMPARE(token.size(), 32);
    QCOMPARE(command(&admin, "lease").body.value("holder").toString(), QStringLiteral("127.0.0.1"));

    // Another client's setting is refused, but RF off goes through; the plain client gets
    // only the answers to its questions, byte for byte as without the lease.
    const double gain = plain.status().gainDb[0];
    plain.send("SetGain 0 " + QByteArray::number(int(gain * 2) + 4) + "\r\nSetRF 0\r\n");
    QCOMPARE(plain.status().gainDb[0], gain);
    QCOMPARE(plain.frames().size(), 2);
    QCOMPARE(Reply::kindOf(plain.frames().at(1)), Reply::Kind::Status);
    QVERIFY(reasons(QStringLiteral("setting_refused"))
                .contains(
                    QStringLiteral("lease held by 127.0.0.1 until ")
                    + QDateTime::fromString(taken.body.value("until").toString(), Qt::ISODateWithMs)
                          .toLocalTime()
                          .toString(QStringLiteral("HH:mm:ss"))));
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            for (const QJsonObject &row : journal()) {
                if (row.value("event") == QLatin1String("setting")
                    && row.value("command") == QLatin1String("SetRF 0"))
                    return true;
            }
            return false;
        }(),
        10000);
    // An opted-in client is told why.
    Client other(m_agent->port());
    command(&other, "hello");
    other.send("SetGain 1 3\r\n");
    QVERIFY(other.waitForFrames(2));
    const Extension::Message refused = Extension::parseFrame(other.frames().last());
    QCOMPARE(refused.verb, QStringLiteral("refused"));
    QVERIFY(refused.body.value("reason").toString().startsWith("lease held by 127.0.0.1"));

    // The token makes another connection a holder; the holder's settings go through.
    QString wrong = token;
    wrong[0] = wrong[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(command(&other, "lease-use", {{"token", wrong}}).verb, QStringLiteral("error"));
    QVERIFY(ok(command(&other, "lease-use", {{"token", token}})));
    other.send("SetGain 1 " + QByteArray::number(int(gain * 2) + 2) + "\r\n");
    QCOMPARE(other.status().gainDb[1], gain + 1);

    // Only an admin breaks it; then the token never writes again.
    QCOMPARE(command(&holder, "lease-break", {{"reason", "x"}}).verb, QStringLiteral("error"));
    QVERIFY(ok(command(&admin, "lease-break", {{"reason", "operator left"}})));
    QVERIFY(m_agent->waitForReport(QStringLiteral("lease_broken")));
    Client late(m_agent->port());
    command(&late, "hello");
    QCOMPARE(command(&late, "lease-use", {{"token", token}}).verb, QStringLiteral("error"));

    // A lease ends at its time.
    QVERIFY(ok(command(&late, "lease-take", {{"for", 1}})));
    QVERIFY(m_agent->waitForReport(QStringLiteral("lease_expired")));
    QCOMPARE(command(&late, "lease").body.value("held").toBool(), false);
}

// Acknowledgements and shelves are in a state file beside the journal, read at the next
// start; one that cannot be read stops the agent rather than losing them.
void tst_Agent::alarmsKeptAcrossRestart()
{
    QVERIFY(startPair({}));
    const QString state = m_folder.filePath(QStringLiteral("events.alarms.json"));
    QFile::remove(state);
    {
        Client client(m_agent->port());
        command(&client, "hello");
        const Extension::Message shelved = command(&client,
                                                   "shelve",
                                                   {{"alarm", "power_b"},
                                                    {"for", 3600},
                                                    {"reason", "probe"}});
        QVERIFY2(shelved.verb == QLatin1String("ok"),
                 qPrintable(shelved.body.value("reason").toString()));
        QCOMPARE(command(&client,
                         "shelve",
                         {{"alarm", "power_b"}, {"for", 8 * 3600 + 1}, {"reason", "x"}})
                     .verb,
                 QStringLiteral("error"));
    }
    QVERIFY(m_agent->stop());
    QVERIFY(QFile::exists(state));
    const QStringList device{QStringLiteral("--host"),
                             QStringLiteral("127.0.0.1"),
                             QStringLiteral("--port"),
                             QString::number(m_sim->port())};
    QVERIFY(startAgent(device, {}, QString(), false));
    QVERIFY(m_agent->waitForReport(QStringLiteral("model_identified")));
    Client client(m_agent->port());
    command(&client, "hello");
    bool found = false;
    for (const QJsonValue alarm : command(&client, "alarms").body.value("alarms").toArray()) {
        if (alarm[QStringLiteral("name")] == QLatin1String("power_b")) {
            QCOMPARE(alarm[QStringLiteral("shelve_reason")].toString(), QStringLiteral("probe"));
            QCOMPARE(alarm[QStringLiteral("shelved_by")].toString(), QStringLiteral("127.0.0.1"));
            found = true;
        }
    }
    QVERIFY(found);
    QVERIFY(m_agent->stop());

    QFile broken(state);
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{\"alarms\": {\"fault\": {\"unacknowledged\": 7");
    broken.close();
    ChildProcess agent;
    agent.start(QStringLiteral(KORVANE_AGENT_PATH),
                device
                    + QStringList{QStringLiteral("--listen"),
                                  QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--events"),
                                  m_folder.filePath(QStringLiteral("events.jsonl"))});
    QVERIFY(agent.waitForFinished(10000));
    QCOMPARE(agent.exitCode(), 1);
    QVERIFY(agent.readAllStandardError().contains("events.alarms.json: not a JSON object"));
}

QTEST_MAIN(tst_Agent)
#include "tst_agent.moc"
