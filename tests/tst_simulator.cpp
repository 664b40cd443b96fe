#include "frameassembler.h"
#include "replies.h"
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

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
    const QDeadlineTimer deadline(Timeout);
    for (;;) {
        const QByteArray bytes = device->readAll();
        if (raw)
            *raw += bytes;
        for (const char byte : bytes) {
            if (assembler.push(byte))
                frames.append(assembler.frame());
        }
        if (frames.size() >= count || deadline.hasExpired())
            return frames;
        QSignalSpy readyRead(device, &QIODevice::readyRead);
        readyRead.wait(int(deadline.remainingTime()));
    }
}

// Sends command lines (CR LF added) and returns the first reply to them.
QByteArray ask(QIODevice *device, const QByteArray &lines)
{
    device->write(lines + "\r\n");
    const QList<QByteArray> frames = readFrames(device, 1);
    return frames.isEmpty() ? QByteArray() : frames.first();
}

QVector<QByteArray> statusFields(const QByteArray &frame)
{
    return Reply::readFields(frame, Reply::StatusWidths, Reply::StatusFieldCount);
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
    void identification_data();
    void identification();
    void setCommandShowsInStatus_data();
    void setCommandShowsInStatus();
    void readsLinesAndIgnoresTheRest_data();
    void readsLinesAndIgnoresTheRest();
    void clientsShareOneDevice();
    void powerFollowsGainAndLimit_data();
    void powerFollowsGainAndLimit();
    void overTemperatureLatches_data();
    void overTemperatureLatches();
    void burst();
    void coalesce();
    void junk();
    void delay();
    void dropAfter();
    void muteAfter_data();
    void muteAfter();
    void serialPort();
    void serialPortHangUp();
    void badOptions_data();
    void badOptions();
    void helpListsOptions();
};

// Starts the simulator as `sim`, and with START_CLIENT connects `socket` to it as well.
#define START_SIM(arguments) \
    SimProcess sim; \
    QVERIFY2(sim.start(arguments), qPrintable(sim.errorString()))
#define START_CLIENT(arguments) \
    START_SIM(arguments); \
    QTcpSocket socket; \
    QVERIFY(connectTo(&socket, sim.port()))

void tst_Simulator::identification_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("default") << QStringList() << QByteArray("\0?\r\n700136A\xff", 12);
    for (const char *model : Reply::ProbeModels) {
        QTest::newRow(model) << QStringList{"--model", model}
                             << QByteArray("\0?\r\n", 4) + model + '\xff';
    }
}

void tst_Simulator::identification()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);
    START_CLIENT(arguments);
    socket.write("?\r\n");
    QByteArray raw;
    QCOMPARE(readFrames(&socket, 1, &raw).size(), 1);
    QCOMPARE(raw, expected);
    QVERIFY(Reply::probeMatches(raw));

    // Every model starts where a fresh panel's controls do, cool and without fault.
    QCOMPARE(ask(&socket, "Status"), StartStatus);
    const Reply::Measurement meas = Reply::decodeMeasurement(ask(&socket, "Meas"));
    QCOMPARE(meas.fieldCount, Reply::MeasFieldCount);
    QCOMPARE(meas.statusChar, qint8(Reply::NoFault));
    for (const double tenths : {meas.cellTenths[0], meas.cellTenths[1], meas.driverTenths})
        QVERIFY2(tenths >= 250 && tenths < 300, qPrintable(QString::number(tenths)));
    for (const double tenths : meas.powerTenths)
        QVERIFY(tenths > 0 && tenths <= 65);
}

void tst_Simulator::setCommandShowsInStatus_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("report");
    const auto row = [](const char *name,
                        const char *commands,
                        int field,
                        const char *expected,
                        const char *report = "") {
        QTest::newRow(name) << QByteArray(commands) << field << QByteArray(expected)
                            << QString::fromLatin1(report);
    };
    row("RF off", "SetRF 0", 3, "0");
    row("RF on again", "SetRF 0\r\nSetRF 1", 3, "1");
    row("gain A", "SetGain 0 40", 5, "040");
    row("gain B", "SetGain 1 0", 6, "000");
    row("gain C", "SetGain 2 63", 7, "063");
    row("linearity", "SetLin 55", 4, "055");
    row("power limit", "SetMaxP 123", 0, "123");
    row("cell limit", "SetMaxCellT 80", 1, "080");
    row("driver limit", "SetMaxDrvT 90", 2, "090");
    row("calibrate", "Calibrate 1", -1, "", "calibrated");
    row("RF 7", "SetRF 0\r\nSetRF 7", 3, "1", "clamped");
    row("gain 64", "SetGain 1 64", 6, "063", "clamped");
    row("gain 1000", "SetGain 2 1000", 7, "063", "clamped");
    row("linearity 0", "SetLin 0", 4, "001", "clamped");
    row("linearity 101", "SetLin 101", 4, "100", "clamped");
    row("power 501", "SetMaxP 501", 0, "500", "clamped");
    row("cell 256", "SetMaxCellT 256", 1, "255", "clamped");
    row("driver 999", "SetMaxDrvT 999", 2, "255", "clamped");
}

void tst_Simulator::setCommandShowsInStatus()
{
    QFETCH(QByteArray, commands);
    QFETCH(int, field);
    QFETCH(QByteArray, expected);
    QFETCH(QString, report);
    START_CLIENT({});

    const QVector<QByteArray> fields = statusFields(ask(&socket, commands + "\r\nStatus"));
    QVector<QByteArray> wanted = statusFields(StartStatus);
    if (field >= 0)
        wanted[field] = expected;
    QCOMPARE(fields, wanted);
    if (!report.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains(report), Timeout);
}

void tst_Simulator::readsLinesAndIgnoresTheRest_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("report");
    QTest::newRow("LF") << QByteArray("?\n") << QString();
    QTest::newRow("CR") << QByteArray("?\r") << QString();
    QTest::newRow("CR LF") << QByteArray("?\r\n") << QString();
    QTest::newRow("LF CR") << QByteArray("?\n\r") << QString();
    QTest::newRow("blanks") << QByteArray("  ?\t\r\n   \r\n") << QString();
    // The panel's port probe: "?" and then one to seven CR LF.
    for (int ends = 2; ends <= 7; ++ends)
        QTest::addRow("probe, %d CR LF", ends)
            << "?" + QByteArray("\r\n").repeated(ends) << QString();
    const auto bad = [](const char *name, const QByteArray &line, const char *report) {
        QTest::newRow(name) << line + "\r\n?\r\n" << QString::fromLatin1(report);
    };
    bad("unknown", "Hello", "unknown command");
    bad("argument missing", "SetGain 1", "argument");
    bad("argument too many", "SetRF 0 1", "argument");
    bad("not a number", "SetLin abc", "not a number");
    bad("negative", "SetMaxP -5", "not a number");
    bad("no channel 3", "SetGain 3 10", "no channel");
    bad("binary", QByteArray("\x00\x01\xfe\xff\x80zz", 7), "ignored");
    bad("overlong", QByteArray(300, 'A'), "discarded");
    bad("overlong command", "SetRF 0" + QByteArray(300, ' '), "discarded");
    bad("100 kB, no line end", QByteArray(100000, '\x01'), "discarded");
}

void tst_Simulator::readsLinesAndIgnoresTheRest()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, report);
    START_CLIENT({});
    // Exactly one identification, as a second one would come before the status, and no
    // setting changed.
    socket.write(input + "Status\r\n");
    const QList<QByteArray> frames = readFrames(&socket, 2);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(Reply::kindOf(frames[0]), Reply::Kind::Identification);
    QCOMPARE(frames[1], StartStatus);
    if (!report.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains(report), Timeout);
}

void tst_Simulator::clientsShareOneDevice()
{
    START_SIM({});
    QTcpSocket first;
    QTcpSocket second;
    QVERIFY(connectTo(&first, sim.port()));
    QVERIFY(connectTo(&second, sim.port()));
    // Both talk at once; each hears only its own answers.
    first.write(QByteArray("?\r\n").repeated(5));
    second.write(QByteArray("Status\r\n").repeated(5));
    const QList<QByteArray> firstFrames = readFrames(&first, 5);
    const QList<QByteArray> secondFrames = readFrames(&second, 5);
    QCOMPARE(firstFrames.count(Reply::identificationFrame("700136A").mid(1)), 5);
    QCOMPARE(secondFrames.count(StartStatus), 5);
    // A setting made on one connection is the device's, seen on the other.
    QCOMPARE(statusFields(ask(&first, "SetGain 0 30\r\nStatus")).value(5), QByteArray("030"));
    QCOMPARE(statusFields(ask(&second, "Status")).value(5), QByteArray("030"));
}

void tst_Simulator::powerFollowsGainAndLimit_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<double>("saturationTenths");
    QTest::newRow("700115A") << QByteArray("700115A") << 150.0;
    QTest::newRow("700122A") << QByteArray("700122A") << 220.0;
    QTest::newRow("700136A") << QByteArray("700136A") << 360.0;
}

void tst_Simulator::powerFollowsGainAndLimit()
{
    QFETCH(QByteArray, model);
    QFETCH(double, saturationTenths);
    START_CLIENT(QStringList({"--model", model}));
    socket.write("SetMaxP 500\r\n");
    double previous = -1;
    Reply::Measurement meas;
    for (const int halfDb : {0, 10, 20, 30, 40, 50, 63}) {
        meas = Reply::decodeMeasurement(
            ask(&socket, "SetGain 1 " + QByteArray::number(halfDb) + "\r\nMeas"));
        QVERIFY2(meas.powerTenths[1] > previous, qPrintable(QString::number(halfDb)));
        QCOMPARE(meas.powerTenths[0], meas.powerTenths[2]);
        previous = meas.powerTenths[1];
    }
    // Full gain runs into the model's saturation, not beyond it.
    QVERIFY(previous <= saturationTenths && previous >= 0.9 * saturationTenths);
    meas = Reply::decodeMeasurement(ask(&socket, "SetMaxP 50\r\nMeas"));
    QCOMPARE(meas.powerTenths[1], 50.0);
    meas = Reply::decodeMeasurement(ask(&socket, "SetMaxP 5\r\nMeas"));
    for (const double tenths : meas.powerTenths)
        QCOMPARE(tenths, 5.0);
    meas = Reply::decodeMeasurement(ask(&socket, "SetRF 0\r\nMeas"));
    QCOMPARE(meas.statusChar, qint8(Reply::NoFault));
    for (const double tenths : meas.powerTenths)
        QCOMPARE(tenths, 0.0);
}

void tst_Simulator::overTemperatureLatches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<char>("fault");
    QTest::addColumn<bool>("stillHot");
    QTest::newRow("hot ambient") << QStringList{"--ambient", "70"} << QByteArray() << '1' << true;
    QTest::newRow("low cell limit")
        << QStringList() << QByteArray("SetMaxCellT 20") << '1' << false;
    QTest::newRow("low driver limit")
        << QStringList() << QByteArray("SetMaxDrvT 20") << '2' << false;
}

void tst_Simulator::overTemperatureLatches()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, setup);
    QFETCH(char, fault);
    QFETCH(bool, stillHot);
    START_CLIENT(arguments);

    Reply::Measurement meas = Reply::decodeMeasurement(ask(&socket, setup + "\r\nMeas"));
    QCOMPARE(meas.statusChar, qint8(fault));
    for (const double tenths : meas.powerTenths)
        QCOMPARE(tenths, 0.0);
    // Latched: RF stays off whatever the panel asks.
    QCOMPARE(statusFields(ask(&socket, "SetRF 1\r\nStatus")).value(3), QByteArray("0"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains("refused"), Timeout);

    if (stillHot) {
        // Reset clears the latch, but the next look at the sensors sets it again.
        meas = Reply::decodeMeasurement(ask(&socket, "Reset\r\nMeas"));
        QCOMPARE(meas.statusChar, qint8(fault));
        return;
    }
    meas = Reply::decodeMeasurement(ask(&socket, "SetMaxCellT 255\r\nSetMaxDrvT 255\r\nMeas"));
    QCOMPARE(meas.statusChar, qint8(fault));
    meas = Reply::decodeMeasurement(ask(&socket, "Reset\r\nSetRF 1\r\nMeas"));
    QCOMPARE(meas.statusChar, qint8(Reply::NoFault));
    QVERIFY(meas.powerTenths[0] > 0);
}

void tst_Simulator::burst()
{
    START_CLIENT(QStringList({"--burst", "4"}));
    QSignalSpy reads(&socket, &QIODevice::readyRead);
    QVERIFY(reads.isValid());
    QCOMPARE(ask(&socket, "Status"), StartStatus);
    QVERIFY2(reads.count() > 1, qPrintable(QString::number(reads.count())));
}

void tst_Simulator::coalesce()
{
    START_CLIENT(QStringList({"--coalesce", "2"}));
    QSignalSpy reads(&socket, &QIODevice::readyRead);
    QVERIFY(reads.isValid());
    socket.write("?\r\n");
    QVERIFY(!reads.wait(SilenceMs)); // held back until there is a second reply
    socket.write("Status\r\n");
    QVERIFY(reads.wait(Timeout));
    const QList<QByteArray> frames = readFrames(&socket, 2);
    QCOMPARE(reads.count(), 1); // both in one piece
    QCOMPARE(frames.size(), 2);
    QCOMPARE(Reply::kindOf(frames[0]), Reply::Kind::Identification);
    QCOMPARE(frames[1], StartStatus);
}

void tst_Simulator::junk()
{
    START_CLIENT(QStringList({"--junk"}));
    socket.write("?\r\nStatus\r\n");
    QByteArray raw;
    const QList<QByteArray> frames = readFrames(&socket, 2, &raw);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[1], StartStatus);
    const int firstEnd = raw.indexOf('\xff');
    const QByteArray before = raw.left(raw.indexOf('\0'));
    const QByteArray between = raw.mid(firstEnd + 1, raw.indexOf('\0', firstEnd) - firstEnd - 1);
    for (const QByteArray &junk : {before, between}) {
        QVERIFY(!junk.isEmpty());
        QVERIFY(!junk.contains('\xff'));
    }
}

void tst_Simulator::delay()
{
    START_CLIENT(QStringList({"--delay", "300"}));
    QElapsedTimer clock;
    clock.start();
    socket.write("SetLin 42\r\n?\r\nStatus\r\n");
    const QList<QByteArray> frames = readFrames(&socket, 2);
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(frames.size(), 2);
    QCOMPARE(Reply::kindOf(frames[0]), Reply::Kind::Identification);
    QCOMPARE(statusFields(frames[1]).value(4), QByteArray("042"));
}

void tst_Simulator::dropAfter()
{
    START_SIM(QStringList({"--drop-after", "2"}));
    for (int client = 0; client < 2; ++client) {
        QTcpSocket socket;
        QVERIFY(connectTo(&socket, sim.port()));
        QSignalSpy disconnected(&socket, &QTcpSocket::disconnected);
        QVERIFY(disconnected.isValid());
        // Only replies count: the setting in between does not.
        socket.write("?\r\nSetLin 10\r\nStatus\r\n");
        const QList<QByteArray> frames = readFrames(&socket, 2);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames[1], StartStatus);
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, Timeout);
        QCOMPARE(socket.readAll(), QByteArray());
    }
}

void tst_Simulator::muteAfter_data()
{
    QTest::addColumn<int>("replies");
    QTest::newRow("never answers") << 0;
    QTest::newRow("after 1") << 1;
    QTest::newRow("after 3") << 3;
}

void tst_Simulator::muteAfter()
{
    QFETCH(int, replies);
    START_SIM(QStringList({"--mute-after", QString::number(replies)}));
    QTcpSocket muted;
    QVERIFY(connectTo(&muted, sim.port()));
    muted.write(QByteArray("?\r\n").repeated(replies));
    QCOMPARE(readFrames(&muted, replies).size(), replies);
    QSignalSpy reads(&muted, &QIODevice::readyRead);
    QVERIFY(reads.isValid());
    muted.write("SetGain 0 33\r\n?\r\nStatus\r\n");
    QVERIFY(!reads.wait(SilenceMs));
    if (replies == 0)
        return;
    // Still listening: the setting took, as another client sees.
    QTcpSocket other;
    QVERIFY(connectTo(&other, sim.port()));
    QCOMPARE(statusFields(ask(&other, "Status")).value(5), QByteArray("033"));
}

void tst_Simulator::serialPort()
{
    START_SIM(QStringList({"--pty", "--model", "700122A"}));
    QSerialPort port(sim.ptyPath());
    for (int session = 0; session < 2; ++session) {
        // The second session checks that the terminal survives the panel closing it.
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.write("?\r\n\r\n\r\n");
        QCOMPARE(readFrames(&port, 1).value(0), QByteArray("?\r\n700122A\xff"));
        const QByteArray gain = QByteArray::number(40 + session);
        QCOMPARE(statusFields(ask(&port, "SetGain 2 " + gain + "\r\nStatus")).value(7), "0" + gain);
        port.close();
    }
    // SIGTERM ends it by itself, pseudo-terminal and all.
    QVERIFY(sim.stop());
}

void tst_Simulator::serialPortHangUp()
{
    START_SIM(QStringList({"--pty", "--drop-after", "1"}));
    QSerialPort port(sim.ptyPath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.write("?\r\nStatus\r\n");
    // The reply before the hang-up still arrives; then the line is dead.
    QCOMPARE(readFrames(&port, 1).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(port.error() != QSerialPort::NoError, Timeout);
    // QSerialPort keeps reporting a hung-up terminal until it is closed.
    port.close();
    QTRY_VERIFY_WITH_TIMEOUT(sim.stderrText().contains("hung up"), Timeout);
    QVERIFY(!port.open(QIODevice::ReadWrite));
}

void tst_Simulator::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown model") << QStringList{"--model", "700999A"};
    QTest::newRow("port too big") << QStringList{"--port", "70000"};
    QTest::newRow("burst 0") << QStringList{"--burst", "0"};
    QTest::newRow("negative delay") << QStringList{"--delay", "-1"};
    QTest::newRow("ambient not a number") << QStringList{"--ambient", "hot"};
    QTest::newRow("host not an address") << QStringList{"--host", "no.such.host"};
    QTest::newRow("unknown option") << QStringList{"--bogus"};
}

void tst_Simulator::badOptions()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(SimProcess::programPath(), arguments);
    QVERIFY(process.waitForFinished(Timeout));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(!process.readAllStandardError().isEmpty());
}

void tst_Simulator::helpListsOptions()
{
    QProcess process;
    process.start(SimProcess::programPath(), {"--help"});
    QVERIFY(process.waitForFinished(Timeout));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray help = process.readAllStandardOutput();
    const QByteArray options("--host --port --pty --model --ambient --burst --coalesce --junk "
                             "--delay --drop-after --mute-after");
    for (const QByteArray &option : options.split(' '))
        QVERIFY2(help.contains(option), option.constData());
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
