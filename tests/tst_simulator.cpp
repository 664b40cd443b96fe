#include "childprocess.h"
#include "halfclose.h"
#include "frameassembler.h"
#include "replies.h"
#include "simprocess.h"
#include "waiting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Timeout = 5000;
// How long a device that should stay silent gets to prove it.
constexpr int SilenceMs = 500;

const QByteArray StartStatus("Status, 065, 055, 060, 1, 010, 021, 021, 021\xff");

// Collects the frames a device sends, waiting for `count` of them; the raw bytes go to
// *raw when asked for.
QList<QByteArray> readFrames(QIODevice *device, int count, QByteArray *raw = nullptr)
{
    FrameAssembler assembler;
    QList<QByteArray> frames;
    const auto enough = [&] {
        const QByteArray bytes = device->readAll();
        if (raw)
            *raw += bytes;
        for (const char byte : bytes) {
            if (assembler.push(byte))
                frames.append(assembler.frame());
        }
        return frames.size() >= count;
    };
    waitUntil(device, &QIODevice::readyRead, enough, Timeout);
    return frames;
}

// Sends command lines (CR LF added) and returns the first reply to them.
QByteArray ask(QIODevice *device, const QByteArray &lines)
{
    device->write(lines + "\r\n");
    return readFrames(device, 1).value(0);
}

QVector<QByteArray> statusFields(const QByteArray &frame)
{
    return Reply::readFields(frame, Reply::StatusWidths, Reply::StatusFieldCount);
}

Reply::Measurement meas(QIODevice *device, const QByteArray &lines)
{
    return Reply::decodeMeasurement(ask(device, lines + "\r\nMeas"));
}

// True once process `pid` has ended, reaped or not.
bool hasEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const char state = text.mid(text.lastIndexOf(')') + 2, 1).append('?').at(0);
    return state == 'Z' || state == 'X';
}

bool connectTo(QTcpSocket *socket, quint16 port)
{
    QSignalSpy connected(socket, &QTcpSocket::connected);
    socket->connectToHost(QHostAddress::LocalHost, port);
    return connected.wait(Timeout);
}

} // namespace

// korvane-sim as a panel sees it: the real program, over loopback TCP and a pseudo-terminal.
class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void linesShowInStatus_data();
    void linesShowInStatus();
    void clientsShareOneDevice();
    void powerFollowsGainAndLimit();
    void overTemperatureLatches_data();
    void overTemperatureLatches();
    void faultOptions_data();
    void faultOptions();
    void serialPort();
    void clientThatNeverReadsIsDropped();
    void closedTerminalForgetsReplies();
    void halfCloseGetsReplies_data();
    void halfCloseGetsReplies();
    void diesWithTheTest();
};

// Starts the simulator as `sim` and connects `socket` to it.
#define START_CLIENT(arguments) \
    SimProcess sim; \
    QVERIFY2(sim.start(arguments), qPrintable(sim.errorString())); \
    QTcpSocket socket; \
    QVERIFY(connectTo(&socket, sim.port()))

void tst_Simulator::linesShowInStatus_data()
{
    // Lines sent before "?" and "Status": exactly one identification must come back, then
    // Status with `field` changed to `value` (or none changed), and stderr must report.
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("report");
    QTest::newRow("LF") << QByteArray("?\n") << -1 << QByteArray() << QString();
    QTest::newRow("CR") << QByteArray("?\r") << -1 << QByteArray() << QString();
    QTest::newRow("blanks") << QByteArray("  ?\t\r\n   \r\n") << -1 << QByteArray() << QString();
    // The panel's port probe: "?" and then up to seven CR LF.
    QTest::newRow("probe") << "?" + QByteArray("\r\n").repeated(7) << -1 << QByteArray()
                           << QString();
    const auto set = [](const char *lines, int field, const char *value, const char *report) {
        QTest::newRow(lines) << QByteArray(lines) + "\r\n?\r\n"
                             << field << QByteArray(value) << QString::fromLatin1(report);
    };
    // The default model's RF follows its fault state, whatever is asked.
    set("SetRF 0", -1, "", "follows its fault state");
    set("SetGain 0 40", 5, "040", "");
    set("Calibrate 1", -1, "", "calibrated");
    set("SetRF 7", 3, "1", "clamped");
    set("SetGain 1 64", 6, "063", "clamped");
    // Nor has it a linearity setting: it keeps reporting its fixed one.
    set("SetLin 42", -1, "", "has no linearity setting");
    set("SetMaxP 501", 0, "500", "clamped");
    set("SetMaxCellT 256", 1, "255", "clamped");
    set("SetMaxDrvT 999", 2, "255", "clamped");
    const auto bad = [](const char *name, const QByteArray &line, const char *report) {
        QTest::newRow(name) << line + "\r\n?\r\n"
                            << -1 << QByteArray() << QString::fromLatin1(report);
    };
    bad("unknown", "Hello", "unknown command");
    bad("no channel 3", "SetGain 3 10", "no channel");
    bad("binary", QByteArray("\x00\x01\xfe\xff\x80zz", 7), "ignored");
    bad("overlong command", "SetRF 0" + QByteArray(300, ' '), "discarded");
    bad("100 kB, no line end", QByteArray(100000, '\x01'), "discarded");
    // One line of log a second for a flood, with the count, not one a line.
    bad("100 000 junk lines", QByteArray("junk\r\n").repeated(100000) + "junk", "more like this");
}

void tst_Simulator::linesShowInStatus()
{
    QFETCH(QByteArray, input);
    QFETCH(int, field);
    QFETCH(QByteArray, value);
    QFETCH(QString, report);
    START_CLIENT({});
    socket.write(input + "Status\r\n");
    const QList<QByteArray> frames = readFrames(&socket, 2);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(Reply::kindOf(frames[0]), Reply::Kind::Identification);
    QVector<QByteArray> wanted = statusFields(StartStatus);
    if (field >= 0)
        wanted[field] = value;
    QCOMPARE(statusFields(frames[1]), wanted);
    if (!report.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains(report), Timeout);
    QVERIFY2(sim.stderrText().size() < 4096, qPrintable(sim.stderrText().left(4096)));
}

void tst_Simulator::clientsShareOneDevice()
{
    START_CLIENT({});
    QTcpSocket second;
    QVERIFY(connectTo(&second, sim.port()));
    // Both talk at once; each hears only its own answers.
    socket.write(QByteArray("?\r\n").repeated(5));
    second.write(QByteArray("Status\r\n").repeated(5));
    QCOMPARE(readFrames(&socket, 5).count("?\r\n700136A\xff"), 5);
    QCOMPARE(readFrames(&second, 5).count(StartStatus), 5);
}

void tst_Simulator::powerFollowsGainAndLimit()
{
    START_CLIENT(QStringList({"--model", "700122A"}));
    socket.write("SetMaxP 500\r\n");
    double previous = -1;
    for (const int halfDb : {0, 10, 20, 30, 40, 50, 63}) {
        const Reply::Measurement m = meas(&socket, "SetGain 1 " + QByteArray::number(halfDb));
        QVERIFY2(m.powerTenths[1] > previous, qPrintable(QString::number(halfDb)));
        QCOMPARE(m.powerTenths[0], m.powerTenths[2]);
        previous = m.powerTenths[1];
    }
    // Full gain runs into the model's 22 W saturation, not beyond it; then the limit holds.
    QVERIFY2(previous <= 220 && previous >= 200, qPrintable(QString::number(previous)));
    const Reply::Measurement limited = meas(&socket, "SetMaxP 5");
    // This model's RF follows its fault state: "SetRF 0" changes nothing.
    const Reply::Measurement kept = meas(&socket, "SetRF 0");
    QCOMPARE(kept.statusChar, qint8(Reply::NoFault));
    for (int channel = 0; channel < 3; ++channel) {
        QCOMPARE(limited.powerTenths[channel], 5.0);
        QCOMPARE(kept.powerTenths[channel], 5.0);
    }
}

void tst_Simulator::overTemperatureLatches_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("switchable");
    QTest::newRow("700115A switches RF by command") << "700115A" << true;
    QTest::newRow("700136A: RF follows the fault") << "700136A" << false;
}

void tst_Simulator::overTemperatureLatches()
{
    QFETCH(QString, model);
    QFETCH(bool, switchable);
    START_CLIENT(QStringList({"--model", model}));
    // A limit under room temperature: the fault latches, RF goes off and stays off.
    Reply::Measurement m = meas(&socket, "SetMaxDrvT 20");
    QCOMPARE(m.statusChar, qint8('2'));
    QCOMPARE(m.powerTenths[0], 0.0);
    QCOMPARE(statusFields(ask(&socket, "SetRF 1\r\nStatus")).value(3), QByteArray("0"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains(switchable ? "refused" : "follows"), Timeout);
    // Reset while a cell is still over its limit: the next look at the sensors latches again.
    m = meas(&socket, "SetMaxDrvT 255\r\nSetMaxCellT 20\r\nReset\r\nSetRF 1");
    QCOMPARE(m.statusChar, qint8('1'));
    QCOMPARE(m.powerTenths[0], 0.0);
    // Back within the limit it stays latched until Reset; then RF may come on again, on
    // its own where RF follows the fault.
    QCOMPARE(meas(&socket, "SetMaxCellT 255").statusChar, qint8('1'));
    m = meas(&socket, switchable ? "Reset\r\nSetRF 1" : "Reset");
    QCOMPARE(m.statusChar, qint8(Reply::NoFault));
    QVERIFY(m.powerTenths[0] > 0);
    QCOMPARE(statusFields(ask(&socket, "SetRF 0\r\nStatus")).value(3),
             QByteArray(switchable ? "0" : "1"));
}

void tst_Simulator::faultOptions_data()
{
    // Each row is named by the simulator's arguments. Every byte that comes back for "?",
    // SetLin 42, Status, "?"; how many reads it takes at least, and how many milliseconds;
    // whether the connection is closed after it.
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("minReads");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<bool>("closes");
    const QByteArray id("\0?\r\n700136A\xff", 12);
    const QByteArray status = '\0' + QByteArray("Status, 065, 055, 060, 1, 010, 042, 021, 021\xff");
    const QByteArray junk("xx\r\n");
    QTest::newRow("--burst 4") << id + status + id << 4 << 0 << false;
    // The first two replies go out together; the third waits for a fourth.
    QTest::newRow("--coalesce 2") << id + status << 1 << 0 << false;
    QTest::newRow("--junk") << junk + id + junk + status + junk + id << 1 << 0 << false;
    QTest::newRow("--delay 300") << id + status + id << 1 << 300 << false;
    // 71 bytes of ten bits at 9600 baud: 74 ms, a byte or a few at a time.
    QTest::newRow("--baud 9600") << id + status + id << 5 << 70 << false;
    // Only replies count, not the setting in between.
    QTest::newRow("--drop-after 2") << id + status << 1 << 0 << true;
    QTest::newRow("--mute-after 1") << id << 1 << 0 << false;
    QTest::newRow("--mute-after 0") << QByteArray() << 0 << 0 << false;
}

void tst_Simulator::faultOptions()
{
    QFETCH(QByteArray, expected);
    QFETCH(int, minReads);
    QFETCH(int, minMs);
    QFETCH(bool, closes);
    const QString arguments = QTest::currentDataTag();
    START_CLIENT(arguments.split(' '));
    QSignalSpy reads(&socket, &QIODevice::readyRead);
    QSignalSpy disconnected(&socket, &QTcpSocket::disconnected);
    QElapsedTimer clock;
    clock.start();
    socket.write("?\r\nSetGain 0 42\r\nStatus\r\n?\r\n");
    QByteArray raw;
    readFrames(&socket, expected.count('\xff'), &raw);
    QVERIFY2(clock.elapsed() >= minMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(reads.count() >= minReads, qPrintable(QString::number(reads.count())));
    // Coalesced replies come in one piece.
    QVERIFY(!arguments.startsWith("--coalesce") || reads.count() == 1);
    if (closes)
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, Timeout);
    else
        QVERIFY(!reads.wait(SilenceMs) && disconnected.isEmpty());
    QCOMPARE(raw + socket.readAll(), expected);
    if (expected.isEmpty())
        return; // never answers anyone
    // Muted or dropped, the setting took all the same, as another client sees.
    QTcpSocket other;
    QVERIFY(connectTo(&other, sim.port()));
    QCOMPARE(statusFields(ask(&other, "Status\r\nStatus")).value(5), QByteArray("042"));
}

void tst_Simulator::serialPort()
{
    // The terminal outlives the panel closing it: replies count across both sessions.
    SimProcess sim;
    QVERIFY2(sim.start({"--pty", "--model", "700122A", "--drop-after", "3"}),
             qPrintable(sim.errorString()));
    QSerialPort port(sim.ptyPath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.write("?\r\n\r\n\r\n");
    QCOMPARE(readFrames(&port, 1).value(0), QByteArray("?\r\n700122A\xff"));
    QCOMPARE(statusFields(ask(&port, "SetGain 2 40\r\nStatus")).value(7), QByteArray("040"));
    port.close();
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    // The last reply before the hang-up still arrives; then the line is dead.
    QCOMPARE(statusFields(ask(&port, "Status\r\nStatus")).value(7), QByteArray("040"));
    QTRY_VERIFY_WITH_TIMEOUT(port.error() != QSerialPort::NoError, Timeout);
    // QSerialPort keeps reporting a hung-up terminal until it is closed.
    port.close();
    QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains("hung up"), Timeout);
    QVERIFY(!port.open(QIODevice::ReadWrite));
    // SIGTERM ends it by itself all the same.
    QVERIFY(sim.stop());
}

// A client that polls and never reads is cut off before the simulator's memory grows with
// it, and the others are served meanwhile.
void tst_Simulator::clientThatNeverReadsIsDropped()
{
    START_CLIENT({});
    const int greedy = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(greedy >= 0);
    // A small receive window, so that unread replies pile up in the simulator, not here.
    const int window = 4096;
    QCOMPARE(::setsockopt(greedy, SOL_SOCKET, SO_RCVBUF, &window, sizeof window), 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(sim.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(greedy, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    // Up to 2 MB of polls, 14 MB of replies: far past the bound.
    const QByteArray polls = QByteArray("Meas\r\n").repeated(10000);
    for (int i = 0; i < 35; ++i) {
        if (::send(greedy, polls.constData(), size_t(polls.size()), MSG_NOSIGNAL) < 0)
            break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains("reads no replies"), Timeout);
    ::close(greedy);
    QCOMPARE(Reply::kindOf(ask(&socket, "?")), Reply::Kind::Identification);
}

// Replies a closed client left unread in the terminal do not reach the next one.
void tst_Simulator::closedTerminalForgetsReplies()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--pty"}), qPrintable(sim.errorString()));
    const int earlier = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(earlier >= 0);
    const QByteArray lines = QByteArray("Status\r\n").repeated(50);
    QCOMPARE(::write(earlier, lines.constData(), size_t(lines.size())), qint64(lines.size()));
    const int replies = 50 * (StartStatus.size() + 1);
    int unread = 0;
    QTRY_VERIFY_WITH_TIMEOUT(::ioctl(earlier, FIONREAD, &unread) == 0 && unread >= replies, Timeout);
    ::close(earlier);
    // The close is seen a moment later; a program opening within it could still read them.
    QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains(
                                 QStringLiteral("closed with %1 bytes of replies unread")
                                     .arg(replies)),
                             Timeout);

    QSerialPort port(sim.ptyPath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QVERIFY2(ask(&port, "?") == QByteArray("?\r\n700136A\xff"), qPrintable(sim.stderrText()));
}

void tst_Simulator::halfCloseGetsReplies_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("pty");
    QTest::newRow("tcp") << QString() << false;
    QTest::newRow("tcp, replies delayed") << QStringLiteral("--delay 300") << false;
    QTest::newRow("tcp, replies held back") << QStringLiteral("--coalesce 2") << false;
    QTest::newRow("pty, replies waiting") << QString() << true;
    QTest::newRow("pty, replies delayed") << QStringLiteral("--delay 300") << true;
}

// A client that sends its lines and shuts its sending side (or, on the terminal, closes the
// descriptor it wrote on and reads on another) gets every answer; over TCP the connection
// closes after them.
void tst_Simulator::halfCloseGetsReplies()
{
    QFETCH(QString, arguments);
    QFETCH(bool, pty);
    SimProcess sim;
    QVERIFY2(sim.start(arguments.split(' ', Qt::SkipEmptyParts) << "--pty"),
             qPrintable(sim.errorString()));
    QList<QByteArray> frames;
    if (pty) {
        const QByteArray path = sim.ptyPath().toLocal8Bit();
        const int reader = ::open(path.constData(), O_RDWR | O_NOCTTY);
        const int writer = ::open(path.constData(), O_WRONLY | O_NOCTTY);
        QVERIFY(reader >= 0 && writer >= 0);
        const QByteArray lines = "Meas\r\nStatus\r\n";
        QCOMPARE(::write(writer, lines.constData(), size_t(lines.size())), qint64(lines.size()));
        const auto unread = [reader] {
            int count = 0;
            return ::ioctl(reader, FIONREAD, &count) == 0 ? count : -1;
        };
        // Without a delay the replies wait in the terminal when the writer goes.
        if (arguments.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(unread() >= StartStatus.size() + 30, Timeout);
        const int before = unread();
        ::close(writer);
        // One more question on the reader's side, answered after the close is seen.
        QCOMPARE(::write(reader, "?\r\n", 3), qint64(3));
        QTRY_VERIFY_WITH_TIMEOUT(unread() >= before + 12 || !arguments.isEmpty(), Timeout);
        frames = readFramesFrom(reader, 3, Timeout);
        ::close(reader);
    } else {
        const HalfCloseResult result = askThenHalfClose(sim.port(),
                                                        "Meas\r\nStatus\r\n?\r\n",
                                                        Timeout);
        QVERIFY(result.closedByPeer);
        frames = result.frames;
    }
    QList<Reply::Kind> kinds;
    for (const QByteArray &frame : frames)
        kinds.append(Reply::kindOf(frame));
    QCOMPARE(kinds,
             QList<Reply::Kind>(
                 {Reply::Kind::Measurement, Reply::Kind::Status, Reply::Kind::Identification}));
}

// A test killed outright (a crash, a CTest time-out) takes its simulator with it. The test
// runs itself as the one to be killed, holding a simulator.
void tst_Simulator::diesWithTheTest()
{
    if (qEnvironmentVariableIsSet("KORVANE_HOLD_SIM")) {
        SimProcess sim;
        QVERIFY2(sim.start({"--pty"}), qPrintable(sim.errorString()));
        std::printf("holding %lld\n", static_cast<long long>(sim.processId()));
        std::fflush(stdout);
        QFile input;
        QVERIFY(input.open(stdin, QIODevice::ReadOnly));
        input.readLine(); // until killed
        return;
    }
    ChildProcess holder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KORVANE_HOLD_SIM", "1");
    holder.setProcessEnvironment(environment);
    holder.start(QCoreApplication::applicationFilePath(), {"diesWithTheTest"});
    QByteArray out;
    QVERIFY(waitUntil(
        &holder,
        &QProcess::readyReadStandardOutput,
        [&] { return (out += holder.readAllStandardOutput()).contains("holding "); },
        Timeout));
    const int at = out.indexOf("holding ") + 8;
    const qint64 sim = out.mid(at, out.indexOf('\n', at) - at).toLongLong();
    QVERIFY(sim > 0 && !hasEnded(sim));
    ::kill(pid_t(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished(Timeout));
    const bool ended = QTest::qWaitFor([&] { return hasEnded(sim); }, Timeout);
    if (!ended)
        ::kill(pid_t(sim), SIGKILL); // not to leave it behind, whatever the outcome
    QVERIFY(ended);
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
