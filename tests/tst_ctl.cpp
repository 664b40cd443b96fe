#include "agentpair.h"
#include "badupstream.h"
#include "childprocess.h"
#include "replies.h"
#include "rowfile.h"
#include "scriptedpty.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

// How long a run may take before it counts as hung. Waits end as soon as their outcome is
// known; this only bounds a run that never ends.
constexpr int Timeout = 10000;
const QString Tcp = QStringLiteral("tcp");
const QString Pty = QStringLiteral("pty");

struct Run
{
    int exitCode = -1; // -1: crashed or never ended
    QString out;
    QString err;
};

// Runs korvane-ctl to its end with the event loop going, so that a peer in this test can
// answer it meanwhile.
Run ctl(const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    qRegisterMetaType<QProcess::ExitStatus>();
    ChildProcess process;
    process.setProcessEnvironment(environment);
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    process.start(QStringLiteral(KORVANE_CTL_PATH), arguments);
    if (!finished.wait(Timeout)) {
        process.kill();
        process.waitForFinished();
    }
    const bool normal = process.exitStatus() == QProcess::NormalExit && !finished.isEmpty();
    return {normal ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Waits, with the event loop going so that a peer in this test can answer, for the
// process to end.
bool finishes(QProcess &process)
{
    qRegisterMetaType<QProcess::ExitStatus>();
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    return process.state() == QProcess::NotRunning || finished.wait(Timeout);
}

// Whether process `pid` waits for a lock on a file (flock), as the kernel lists it.
bool waitsForFileLock(qint64 pid)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QRegularExpression waiter(QStringLiteral("-> FLOCK +ADVISORY +WRITE +%1 ").arg(pid));
    return QString::fromLatin1(locks.readAll()).contains(waiter);
}

// Command lines as text, for short test rows; none of their arguments holds a blank.
QStringList words(const QString &text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QStringList linkTo(const SimProcess &sim, const QString &transport)
{
    return transport == Pty ? QStringList{"--serial", sim.ptyPath()}
                            : words("--host 127.0.0.1 --port") << QString::number(sim.port());
}

QJsonObject jsonOf(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The lines of a CSV file; an unfinished last line comes back as one that is no whole row.
QStringList csvLines(const QString &path)
{
    QFile file(path);
    QStringList lines;
    if (file.open(QIODevice::ReadOnly))
        lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && !lines.takeLast().isEmpty())
        lines.append(QStringLiteral("unfinished"));
    return lines;
}

QDateTime timeOf(const QString &row)
{
    return QDateTime::fromString(row.section(QLatin1Char(','), 0, 0), Qt::ISODateWithMs);
}

// A CSV row as a whole: local time with milliseconds and offset, six numbers, one status
// character.
const QRegularExpression WholeRow(QStringLiteral(
    "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)(,\\d+\\.\\d){6},"
    ".$"));

// A loopback amplifier that records every byte it is sent and answers "?", "Status" (with
// gain A at 10.5 dB) and "Meas". The tool waits for each reply before its next line.
class FakeAmplifier : public QObject
{
public:
    explicit FakeAmplifier(const QByteArray &model = "700122A", char statusChar = '0')
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this, model, statusChar] {
            while (QTcpSocket *client = m_server.nextPendingConnection()) {
                ++m_connections;
                connect(client, &QTcpSocket::readyRead, this, [this, client, model, statusChar] {
                    const QByteArray bytes = client->readAll();
                    received += bytes;
                    if (bytes == "?\r\n")
                        client->write(Reply::identificationFrame(model));
                    if (bytes.endsWith("Status\r\n"))
                        client->write(Reply::statusFrame({65, 55, 60, true, 10, {21, 21, 1}}));
                    if (bytes == "Meas\r\n" && !measReply.isEmpty()) {
                        client->write(measReply);
                    } else if (bytes == "Meas\r\n") {
                        Reply::MeasValues values;
                        values.statusChar = statusChar;
                        client->write(Reply::measFrame(values));
                    }
                });
            }
        });
    }
    QStringList link() const
    {
        return words("--host 127.0.0.1 --port") << QString::number(m_server.serverPort());
    }
    // Takes in a connection still waiting in the backlog too, so that none goes unseen.
    int connections()
    {
        m_server.waitForNewConnection(0);
        return m_connections;
    }
    QByteArray received;
    QByteArray measReply; // what "Meas" gets instead of a whole reading

private:
    QTcpServer m_server;
    int m_connections = 0;
};

} // namespace

// The real korvane-ctl against the real simulator, over TCP and a pseudo-terminal, and
// against a peer that shows what went over the wire.
class tst_Ctl : public QObject
{
    Q_OBJECT

private slots:
    void linesOnWire_data();
    void linesOnWire();
    void readouts();
    void rfFollowsModel_data();
    void rfFollowsModel();
    void badInvocation_data();
    void badInvocation();
    void noAmplifier_data();
    void noAmplifier();
    void watch_data();
    void watch();
    void scan_data();
    void scan();
    void closedOutput();
    void peerTextEscaped_data();
    void peerTextEscaped();
    void staleRepliesDiscarded();
    void fullFileKeepsWholeRows();
    void partRowCutOff_data();
    void partRowCutOff();
    void headerWrittenOnce();
    // Needs korvane-agent's own commands (@hello and after).
    void agentExtensionCommands();

private:
    QTemporaryDir m_dir;
};

#define START_SIM(sim, arguments) QVERIFY2((sim).start(arguments), qPrintable((sim).errorString()))

void tst_Ctl::linesOnWire_data()
{
    // Lines as the amplifier should receive them, '|' for each CR LF.
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("lines");
    // What stderr says when Status does not show the change; empty when it does.
    QTest::addColumn<QString>("refusal");
    QTest::newRow("identify") << "identify" << QString("?|") << QString();
    QTest::newRow("status") << "status" << QString("Status|") << QString();
    QTest::newRow("meas") << "meas" << QString("Meas|") << QString();
    QTest::newRow("gain confirmed")
        << "set gain C 0.5" << QString("SetGain 2 1|Status|") << QString();
    // The peer's Status: 6.5 W, 55 and 60 °C, gain A at 10.5 dB; other values are refused,
    // each read from its own field.
    QTest::newRow("gain refused") << "set gain A 0.5" << QString("SetGain 0 1|Status|")
                                  << QString("gain A not confirmed: after 'SetGain 0 1' the "
                                             "amplifier reports 10.5 dB, not 0.5 dB");
    QTest::newRow("power confirmed")
        << "set max-power 6.5" << QString("SetMaxP 65|Status|") << QString();
    QTest::newRow("power refused") << "set max-power 6" << QString("SetMaxP 60|Status|")
                                   << QString("reports 6.5 W, not 6.0 W");
    QTest::newRow("driver confirmed")
        << "set max-driver-temp 60" << QString("SetMaxDrvT 60|Status|") << QString();
    QTest::newRow("driver refused") << "set max-driver-temp 55" << QString("SetMaxDrvT 55|Status|")
                                    << QString("reports 60 °C, not 55 °C");
    QTest::newRow("gain sent only")
        << "set gain a 31.5 --no-confirm" << QString("SetGain 0 63|") << QString();
    // Only the 700115A switches RF by command; the peer is a 700122A.
    QTest::newRow("rf on") << "set rf ON --no-confirm" << QString("?|")
                           << QString("the 700122A's RF follows its fault state");
    // So has a linearity setting (all but the 700136A): the model is asked for first.
    QTest::newRow("linearity") << "set linearity 100 --no-confirm" << QString("?|SetLin 100|")
                               << QString();
    QTest::newRow("power") << "set max-power 12.3 --no-confirm" << QString("SetMaxP 123|")
                           << QString();
    QTest::newRow("cell") << "set max-cell-temp 255 --no-confirm" << QString("SetMaxCellT 255|")
                          << QString();
    QTest::newRow("driver") << "set max-driver-temp 0 --no-confirm" << QString("SetMaxDrvT 0|")
                            << QString();
    QTest::newRow("calibrate A") << "calibrate a --no-confirm" << QString("Calibrate 0|")
                                 << QString();
    QTest::newRow("calibrate C") << "calibrate C" << QString("Calibrate 2|Status|") << QString();
    QTest::newRow("reset") << "reset" << QString("Reset|Status|") << QString();
    // The agent's commands and a lease say "@hello" first and nothing more to a far end that
    // does not answer it as the agent.
    const QString notAgent("not a korvane-agent");
    QTest::newRow("alarms, no agent") << "alarms" << QString("@hello|") << notAgent;
    QTest::newRow("lease take, no agent")
        << "lease take --for 10m" << QString("@hello|") << notAgent;
    QTest::newRow("lease, no agent")
        << "--lease abc set gain A 1" << QString("@hello|") << notAgent;
}

void tst_Ctl::linesOnWire()
{
    QFETCH(QString, arguments);
    QFETCH(QString, lines);
    QFETCH(QString, refusal);
    FakeAmplifier amplifier;
    const Run run = ctl(amplifier.link() + words(arguments));
    QCOMPARE(run.exitCode, refusal.isEmpty() ? 0 : 1);
    QVERIFY2(refusal.isEmpty() ? run.err.isEmpty() : run.err.contains(refusal), qPrintable(run.err));
    const QByteArray expected = lines.replace('|', "\r\n").toLatin1();
    QTRY_VERIFY_WITH_TIMEOUT(amplifier.received.size() >= expected.size(), Timeout);
    QCOMPARE(amplifier.received, expected);
}

void tst_Ctl::rfFollowsModel_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("refusal");
    // What `status --json` then holds.
    QTest::addColumn<QString>("shown");
    const QString rfOn = QStringLiteral("\"rf_on\": true");
    QTest::newRow("700115A off") << "700115A"
                                 << "rf off" << QString() << "\"rf_on\": false";
    QTest::newRow("700115A on") << "700115A"
                                << "rf on" << QString() << rfOn;
    QTest::newRow("700122A off") << "700122A"
                                 << "rf off"
                                 << "the 700122A's RF follows its fault state" << rfOn;
    QTest::newRow("700136A on") << "700136A"
                                << "rf on"
                                << "the 700136A's RF follows its fault state" << rfOn;
    QTest::newRow("700122A linearity") << "700122A"
                                       << "linearity 50" << QString() << "\"linearity_pct\": 50";
    QTest::newRow("700136A linearity") << "700136A"
                                       << "linearity 50"
                                       << "the 700136A has no linearity setting"
                                       << "\"linearity_pct\": 10";
}

// The simulator and the tool agree on which models switch RF by command and which have a
// linearity setting; on the others nothing is sent and the tool says why.
void tst_Ctl::rfFollowsModel()
{
    QFETCH(QString, model);
    QFETCH(QString, setting);
    QFETCH(QString, refusal);
    QFETCH(QString, shown);
    SimProcess sim;
    START_SIM(sim, words("--model " + model));
    const QStringList link = linkTo(sim, Tcp);
    const Run set = ctl(link + words("set " + setting));
    QCOMPARE(set.exitCode, refusal.isEmpty() ? 0 : 1);
    QVERIFY2(refusal.isEmpty() ? set.err.isEmpty() : set.err.contains(refusal), qPrintable(set.err));
    const Run status = ctl(link + words("status --json"));
    QCOMPARE(status.exitCode, 0);
    QVERIFY2(status.out.contains(shown), qPrintable(status.out));
}

// What a script, a person and a log read from a freshly started device.
void tst_Ctl::readouts()
{
    SimProcess sim;
    START_SIM(sim, words("--pty --model 700115A --ambient 40"));
    const QStringList link = linkTo(sim, Pty);
    QCOMPARE(ctl(link + words("identify")).out, "700115A\n");

    // The simulator's start values: Status, 065, 055, 060, 1, 010, 021, 021, 021.
    QCOMPARE(jsonOf(ctl(link + words("status --json")).out),
             jsonOf(R"({"max_power_w": 6.5, "max_cell_temp_c": 55, "max_driver_temp_c": 60,
                        "rf_on": true, "linearity_pct": 10,
                        "gain_a_db": 10.5, "gain_b_db": 10.5, "gain_c_db": 10.5})"));
    QCOMPARE(ctl(link + words("status")).out,
             "max power          6.5 W\n"
             "max cell temp       55 °C\n"
             "max driver temp     60 °C\n"
             "rf                  on\n"
             "linearity           10 %\n"
             "gain A            10.5 dB\n"
             "gain B            10.5 dB\n"
             "gain C            10.5 dB\n");

    // Just started: every sensor near the ambient temperature, in degrees, not tenths.
    const QJsonObject reading = jsonOf(ctl(link + words("meas --json")).out);
    QCOMPARE(reading.size(), 8);
    for (const char *key : {"cell1_temp_c", "cell2_temp_c", "driver_temp_c"})
        QVERIFY2(qAbs(reading.value(key).toDouble() - 40) < 5, key);
    QCOMPARE(reading.value("status"), QJsonValue("0"));
    QCOMPARE(reading.value("fault"), QJsonValue(false));
    const QString table = ctl(link + words("meas")).out;
    QVERIFY2(table.contains(QRegularExpression("\ncell 2 temp +4\\d\\.\\d °C\n")),
             qPrintable(table));
    QVERIFY2(table.contains(QRegularExpression("\nstatus +0\n$")), qPrintable(table));

    // A log appended to by two watches and a single reading has one header, whole rows.
    const QString path = m_dir.filePath("appended.csv");
    const QStringList watch = words("meas --watch --count 3 --interval 20 --csv") << path;
    QCOMPARE(ctl(linkTo(sim, Tcp) + watch).exitCode, 0);
    QCOMPARE(ctl(link + watch).exitCode, 0);
    QCOMPARE(ctl(linkTo(sim, Tcp) + words("meas --csv") << path).exitCode, 0);
    const QStringList lines = csvLines(path);
    QCOMPARE(lines.value(0),
             "time,power_a_w,power_b_w,power_c_w,cell1_temp_c,cell2_temp_c,driver_temp_c,status");
    QCOMPARE(lines.size(), 1 + 3 + 3 + 1);
    for (int i = 1; i < lines.size(); ++i) {
        QVERIFY2(WholeRow.match(lines[i]).hasMatch(), qPrintable(lines[i]));
        QVERIFY(i == 1 || timeOf(lines[i - 1]) <= timeOf(lines[i]));
    }
    // The rows carry their offset from UTC, as the agent's journal does.
    QProcessEnvironment berlin = QProcessEnvironment::systemEnvironment();
    berlin.insert("TZ", "Europe/Berlin");
    const QString zoned = m_dir.filePath("zoned.csv");
    QCOMPARE(ctl(link + words("meas --csv") << zoned, berlin).exitCode, 0);
    const QString row = csvLines(zoned).value(1);
    const QDateTime stamped = timeOf(row);
    QVERIFY2(row.section(',', 0, 0).endsWith(stamped.offsetFromUtc() == 7200 ? "+02:00" : "+01:00"),
             qPrintable(row));
}

void tst_Ctl::badInvocation_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("gain above top") << "set gain A 32" << QString("0 to 31.5 dB");
    QTest::newRow("gain off its steps") << "set gain B 12.25" << QString("steps of 0.5");
    QTest::newRow("gain below bottom") << "set gain C -0.5" << QString("0 to 31.5 dB");
    QTest::newRow("channel D") << "set gain D 10" << QString("A, B or C");
    QTest::newRow("rf yes") << "set rf yes" << QString("on or off");
    QTest::newRow("linearity 0") << "set linearity 0" << QString("1 to 100");
    QTest::newRow("linearity 101") << "set linearity 101" << QString("1 to 100");
    QTest::newRow("linearity 50.5") << "set linearity 50.5" << QString("1 to 100");
    QTest::newRow("power above top") << "set max-power 50.1" << QString("0 to 50.0 W");
    QTest::newRow("power in hundredths") << "set max-power 12.34" << QString("one decimal");
    QTest::newRow("cell limit 256") << "set max-cell-temp 256" << QString("0 to 255");
    QTest::newRow("driver limit -1") << "set max-driver-temp -1" << QString("0 to 255");
    QTest::newRow("no value") << "set gain A" << QString("a channel and a value");
    QTest::newRow("unknown setting") << "set volume 3" << QString("max-power");
    QTest::newRow("two links") << "status --serial /dev/null" << QString("--serial");
    QTest::newRow("watch on status") << "status --watch" << QString("does not go with");
    QTest::newRow("count, no watch") << "meas --count 3" << QString("needs --watch");
    // A number where a word belongs stays where it was typed, and is refused there.
    QTest::newRow("-0 as channel") << "set gain -0 A" << QString("A, B or C");
    QTest::newRow("-0 as setting") << "set -0 gain A" << QString("set what?");
    QTest::newRow("host twice") << "status --host 127.0.0.1" << QString("--host given more");
    QTest::newRow("serial twice") << "status --serial /dev/null --serial /dev/null"
                                  << QString("--serial given more");
    // One range for the reply timeout, korvane-agent's too.
    QTest::newRow("timeout of 5 ms")
        << "status --timeout 5" << QString("--timeout must be a whole number from 10 to 60000");
    QTest::newRow("timeout of an hour")
        << "status --timeout 3600000"
        << QString("--timeout must be a whole number from 10 to 60000");
    // The agent's commands.
    QTest::newRow("unknown alarm") << "ack fan" << QString("no alarm 'fan'");
    QTest::newRow("all shelved") << "shelve all --for 1h --reason x" << QString("no alarm 'all'");
    QTest::newRow("shelve, no reason") << "shelve power_a --for 1h" << QString("needs --reason");
    QTest::newRow("shelve, for and until clear")
        << "shelve power_a --for 1h --until-clear --reason x" << QString("either --for");
    QTest::newRow("duration without its unit")
        << "lease take --for 1h30" << QString("'1h30' is no duration");
    QTest::newRow("duration of nothing") << "lease take --for 0s" << QString("from 1 s");
    QTest::newRow("duration in days") << "lease take --for 2d" << QString("'2d' is no duration");
    QTest::newRow("lease, no action") << "lease" << QString("lease takes one of");
    QTest::newRow("renew, no token") << "lease renew --for 5m" << QString("needs --lease TOKEN");
    QTest::newRow("note on a renewal")
        << "--lease abc lease renew --for 5m --note x" << QString("--note does not go with");
    QTest::newRow("break, no reason") << "lease break" << QString("needs --reason");
    QTest::newRow("line over the agent's bound")
        << "ack all --comment " + QString(250, 'x') << QString("at most 256 bytes");
    QTest::newRow("alarms on a serial line")
        << "alarms --serial /dev/null" << QString("--serial does not go with alarms");
    QTest::newRow("lease on a serial line")
        << "--lease abc --serial /dev/null status" << QString("--serial");
    // The fake amplifier's own link is left out when a row gives the address itself.
    QTest::newRow("address above 255")
        << "--host 127.0.0.256 --port 1 status" << QString("--host 127.0.0.256: 256 is above 255");
}

void tst_Ctl::badInvocation()
{
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    FakeAmplifier amplifier;
    const QStringList link = arguments.startsWith("--host") ? QStringList() : amplifier.link();
    const Run run = ctl(link + words(arguments));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    // Checked before the link is opened: not even a connection.
    QCOMPARE(amplifier.connections(), 0);
    QCOMPARE(amplifier.received, QByteArray());
}

void tst_Ctl::noAmplifier_data()
{
    // The link: the muted simulator over "tcp" or "pty", a TCP port nobody listens on
    // ("closed", its number for %1) or a missing serial port.
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("identify, no reply") << Tcp << "identify" << QString("no reply to '?'");
    QTest::newRow("set, no reply") << Pty << "set gain a 1" << QString("no reply to 'Status'");
    QTest::newRow("set rf, no reply") << Pty << "set rf off" << QString("no reply to '?'");
    const QString closed("closed");
    const QString refused("cannot open 127.0.0.1:%1: ");
    QTest::newRow("refused") << closed << "status" << refused;
    QTest::newRow("watch refused") << closed << "meas --watch" << refused;
    const QString missing = "/nonexistent/ttyUSB7";
    QTest::newRow("no such serial port")
        << missing << "identify" << QString("cannot open ") + missing;
    // This test holds the simulator's terminal open as a serial port: %2 is its process.
    QTest::newRow("serial port in use")
        << QString("held") << "identify" << QString("is in use by process %2 (tst_ctl)");
    QTest::newRow("log on a full disk")
        << Tcp << "meas --csv /dev/full"
        << QString("cannot open /dev/full: ") + std::strerror(ENOSPC);
}

void tst_Ctl::noAmplifier()
{
    QFETCH(QString, link);
    QFETCH(QString, arguments);
    QFETCH(QString, message);
    SimProcess sim;
    START_SIM(sim, words("--pty --mute-after 0"));
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(closed.serverPort());
    closed.close();
    QSerialPort holder(sim.ptyPath());
    QVERIFY(link != "held" || holder.open(QIODevice::ReadWrite));
    const QStringList target = link == "closed"     ? words("--host 127.0.0.1 --port") << port
                               : link == "held"     ? QStringList{"--serial", sim.ptyPath()}
                               : link.contains('/') ? QStringList{"--serial", link}
                                                    : linkTo(sim, link);
    const Run run = ctl(target + words(arguments + " --timeout 300"));
    QCOMPARE(run.exitCode, 1);
    message.replace("%1", port).replace("%2", QString::number(QCoreApplication::applicationPid()));
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    // Our own message only, no library's warning before it.
    for (const QString &line : run.err.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(line.startsWith("korvane-ctl: "), qPrintable(line));
}

void tst_Ctl::watch_data()
{
    // The watch runs until the file has `rows` readings and stderr shows `report`; then
    // the signal ends it. With --drop-after 3 the simulator drops each link after three.
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QString>("simArguments");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("report");
    QTest::newRow("SIGINT over tcp") << Tcp << "" << SIGINT << 3 << QString();
    QTest::newRow("SIGTERM over pty") << Pty << "" << SIGTERM << 3 << QString();
    QTest::newRow("tcp dropped") << Tcp << "--drop-after 3" << SIGINT << 4 << QString("is back");
    // A long timeout: the hang-up itself must be noticed, not the silence after it.
    QTest::newRow("pty hung up") << Pty << "--drop-after 3" << SIGINT << 3 << QString("hung up");
    // Opened and closed at once, three times: never back, and waiting longer each time.
    QTest::newRow("tcp accepts and closes")
        << QString("flapping") << "" << SIGINT << 0 << QString("reconnecting in 2 s");
    // Readings short of their fields are neither printed nor logged.
    QTest::newRow("tcp short readings")
        << QString("short") << "" << SIGINT << 0 << QString("incomplete reading skipped");
}

void tst_Ctl::watch()
{
    QFETCH(QString, transport);
    QFETCH(QString, simArguments);
    QFETCH(int, signalNumber);
    QFETCH(int, rows);
    QFETCH(QString, report);
    SimProcess sim;
    START_SIM(sim, words(simArguments + " --pty"));
    BadUpstream flapping(BadUpstream::AcceptAndClose);
    QVERIFY(flapping.listen());
    FakeAmplifier shortReadings;
    shortReadings.measReply = QByteArray("\0Meas, 0, 0253, 0248\xff", 22);
    const QStringList link = transport == "flapping" ? words("--host 127.0.0.1 --port")
                                                           << QString::number(flapping.port())
                             : transport == "short" ? shortReadings.link()
                                                    : linkTo(sim, transport);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QString(".csv"));
    ChildProcess process;
    process.start(KORVANE_CTL_PATH,
                  link + words("meas --watch --interval 20 --timeout 5000 --csv") << path);
    QVERIFY(process.waitForStarted(Timeout) && process.processId() > 0);
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((csvLines(path).size() > rows
                              && (err += process.readAllStandardError()).contains(report.toUtf8()))
                                 || process.state() == QProcess::NotRunning,
                             Timeout);
    QVERIFY2(process.state() == QProcess::Running, err.constData());
    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(finishes(process));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    err += process.readAllStandardError();
    // Back only once the amplifier has answered.
    QVERIFY2(rows > 0 || !err.contains("is back"), err.constData());

    // Whole rows only, each one printed as well (under a header once there is one); a
    // reconnection waits half a second.
    const QStringList lines = csvLines(path);
    for (const QString &row : lines.mid(1))
        QVERIFY2(WholeRow.match(row).hasMatch(), qPrintable(row));
    QVERIFY(rows > 0 || lines.size() <= 1);
    const QString printed = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(printed.split('\n', Qt::SkipEmptyParts).size(), lines.size() > 1 ? lines.size() : 0);
    QVERIFY(lines.size() <= 4 || !simArguments.contains("drop")
            || timeOf(lines[3]).msecsTo(timeOf(lines[4])) >= 450);
}

void tst_Ctl::scan_data()
{
    QTest::addColumn<QString>("simArguments");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("amplifier") << "" << QString("USB Serial Device") << ": OK, Match: 700136A";
    QTest::newRow("other adapter, other model")
        << "--model 700115A" << QString("CCS USB to UART (ttyACM0)") << ": OK, Match: 700115A";
    QTest::newRow("not an adapter") << "" << QString("pseudo-terminal") << ": Error";
    QTest::newRow("silent adapter")
        << "--mute-after 0" << QString("USB Serial Device") << ": OK, NoMatch";
}

void tst_Ctl::scan()
{
    QFETCH(QString, simArguments);
    QFETCH(QString, description);
    QFETCH(QString, outcome);
    SimProcess sim;
    START_SIM(sim, words(simArguments + " --pty"));
    const QString missing = "/nonexistent/ttyUSB3";
    const Run run = ctl(QStringList{"scan", "--probe", sim.ptyPath() + "=" + description}
                        << "--probe" << missing + "=USB Serial Device");
    QCOMPARE(run.out, sim.ptyPath() + outcome + "\n" + missing + ": Error\n");
    QCOMPARE(run.exitCode, outcome.contains("Match:") ? 0 : 1);
}

// `korvane-ctl ... meas --watch | head -1`: once nobody reads, the tool ends as a pipeline's
// writer does, and asks the amplifier nothing more.
void tst_Ctl::closedOutput()
{
    FakeAmplifier amplifier;
    ChildProcess process;
    process.setReaderGone();
    process.start(KORVANE_CTL_PATH, amplifier.link() + words("meas --watch --interval 20"));
    QVERIFY(finishes(process));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(process.exitCode(), SIGPIPE);
    QCOMPARE(amplifier.received, QByteArray("Meas\r\n"));
}

void tst_Ctl::peerTextEscaped_data()
{
    // The amplifier's bytes in a model number or status character, and how a terminal or a
    // CSV file gets them.
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<char>("statusChar");
    QTest::addColumn<QString>("shown");
    const QByteArray hostile("\x1b[2J\x1b]0;x\x07\xfe\\ü\xc2\x9b"); // 16 bytes
    QTest::newRow("identify") << "identify" << hostile << '0'
                              << QString("\\x1b[2J\\x1b]0;x\\x07\\xfe\\\\ü\\xc2\\x9b\n");
    QTest::newRow("meas table") << "meas" << QByteArray("700136A") << '\x1b'
                                << QString("\nstatus" + QString(12, ' ') + "\\x1b\n");
    QTest::newRow("watch line") << "meas --watch --count 1" << QByteArray("700136A") << '\x9b'
                                << QString("  \\x9b\n");
    QTest::newRow("csv row") << "meas --csv" << QByteArray("700136A") << '\x07'
                             << QString(",\\x07\n");
}

void tst_Ctl::peerTextEscaped()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, model);
    QFETCH(char, statusChar);
    QFETCH(QString, shown);
    FakeAmplifier amplifier(model, statusChar);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QString(".csv"));
    QStringList command = amplifier.link() + words(arguments);
    if (arguments.endsWith("--csv"))
        command << path;
    const Run run = ctl(command);
    QCOMPARE(run.exitCode, 0);
    QFile file(path);
    const QString csv = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                                       : QString();
    QVERIFY2((run.out + csv).endsWith(shown), qPrintable(run.out + csv));
    for (const QChar c : run.out + csv)
        QVERIFY2(c >= ' ' || c == '\n', qPrintable(run.out + csv));
}

// Replies an earlier client left unread on a serial line are not taken for the answer.
void tst_Ctl::staleRepliesDiscarded()
{
    ScriptedPty device;
    QVERIFY(device.open());
    device.send(Reply::statusFrame({65, 55, 60, true, 10, {10, 21, 21}}));
    connect(&device, &ScriptedPty::bytesReceived, &device, [&device] {
        if (device.count("Status") == 1 && !device.property("answered").toBool()) {
            device.setProperty("answered", true);
            device.send(Reply::statusFrame({65, 55, 60, true, 10, {20, 21, 21}}));
        }
    });
    const Run run = ctl(QStringList{"--serial", device.slavePath(), "status"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("\ngain A            10.0 dB\n"), qPrintable(run.out));
}

// A disk that fills up (here: a file size limit) takes no part row, and says why.
void tst_Ctl::fullFileKeepsWholeRows()
{
    FakeAmplifier amplifier;
    const QString path = m_dir.filePath("full.csv");
    ChildProcess process;
    process.setFileSizeLimit(300); // the header and a few rows
    process.start(KORVANE_CTL_PATH,
                  amplifier.link() + words("meas --watch --interval 10 --csv") << path);
    QVERIFY(finishes(process));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QString("cannot write %1: %2").arg(path, std::strerror(EFBIG))),
             qPrintable(err));
    const QStringList lines = csvLines(path);
    QVERIFY(lines.size() > 2);
    for (const QString &row : lines.mid(1))
        QVERIFY2(WholeRow.match(row).hasMatch(), qPrintable(row));
}

void tst_Ctl::partRowCutOff_data()
{
    // Room left on the "disk" after the header and a row, for the next rows.
    QTest::addColumn<int>("room");
    const int row = 29; // a row of the test's below
    QTest::newRow("none") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("all of a row but one byte") << row - 1;
    QTest::newRow("just one row") << row;
}

// Where the disk fills up in the middle of a row, the part of it written is cut off again:
// the file ends with the last whole row, and the failure is said.
void tst_Ctl::partRowCutOff()
{
    QFETCH(int, room);
    const QByteArray header = "time,power_a_w\n";
    const QByteArray row = "2026-03-01T07:00:05.000Z,1.5\n";
    const QString path = m_dir.filePath(QStringLiteral("part-%1.csv").arg(room));
    RowFile file;
    QVERIFY(file.open(path, header));
    QVERIFY(file.append(row));
    // A file size limit plays the full disk: a write past it takes what fits, the next one
    // fails (EFBIG), and the signal that would end the test is ignored meanwhile.
    rlimit before = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit limit = {rlim_t(header.size() + row.size() + room), before.rlim_max};
    const auto signalBefore = ::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    bool written[2] = {};
    {
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &before);
            ::signal(SIGXFSZ, signalBefore);
        });
        written[0] = file.append(row);
        written[1] = file.append(row);
    }
    const int rows = room >= row.size() ? 2 : 1;
    QCOMPARE(written[0], rows == 2);
    QVERIFY(!written[1]);
    QVERIFY2(file.errorString().endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))),
             qPrintable(file.errorString()));
    QFile kept(path);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), header + row.repeated(rows));
    // With room again, the next row follows the last whole one.
    QVERIFY(file.append(row));
    kept.seek(0);
    QCOMPARE(kept.readAll(), header + row.repeated(rows + 1));
}

// Two tools starting on one new file: the one that comes second finds the header there.
void tst_Ctl::headerWrittenOnce()
{
    FakeAmplifier amplifier;
    const QString path = m_dir.filePath("shared.csv");
    QFile other(path);
    QVERIFY(other.open(QIODevice::WriteOnly | QIODevice::Append));
    // This test plays the first tool: it holds the lock, finds the file empty ...
    QCOMPARE(::flock(other.handle(), LOCK_EX), 0);
    ChildProcess process;
    process.start(KORVANE_CTL_PATH, amplifier.link() + words("meas --csv") << path);
    QVERIFY(process.waitForStarted(Timeout));
    QTRY_VERIFY_WITH_TIMEOUT(waitsForFileLock(process.processId()) || other.size() > 0
                                 || process.state() == QProcess::NotRunning,
                             Timeout);
    // ... and writes the header, while the second one waits.
    QVERIFY(
        other.write(
            "time,power_a_w,power_b_w,power_c_w,cell1_temp_c,cell2_temp_c,driver_temp_c,status\n")
        > 0);
    QVERIFY(other.flush());
    QCOMPARE(::flock(other.handle(), LOCK_UN), 0);
    QVERIFY(finishes(process));
    QCOMPARE(process.exitCode(), 0);
    const QStringList lines = csvLines(path);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(WholeRow.match(lines.value(1)).hasMatch(), qPrintable(lines.join('\n')));
}

// Needs korvane-agent's own commands (@hello and after): the alarms, shelving, and the lease
// from taking it to releasing it, with a setting refused to others and passed on for its
// holder.
void tst_Ctl::agentExtensionCommands()
{
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<SimProcess> agent;
    QVERIFY(AgentPair::start(&sim, &agent, QStringLiteral(KORVANE_AGENT_PATH), {}));
    const QStringList link = words("--host 127.0.0.1 --port") << QString::number(agent->port());
    const auto alarm = [&link](const QString &name) {
        const QJsonArray alarms
            = jsonOf(ctl(link + words("alarms --json")).out).value("alarms").toArray();
        for (const QJsonValue &value : alarms) {
            if (value.toObject().value("name") == name)
                return value.toObject();
        }
        return QJsonObject();
    };

    const Run alarms = ctl(link + words("alarms --json"));
    QCOMPARE(alarms.exitCode, 0);
    QStringList names;
    for (const QJsonValue &value : jsonOf(alarms.out).value("alarms").toArray())
        names << value.toObject().value("name").toString();
    names.sort();
    QCOMPARE(names,
             words("cell1_temperature cell2_temperature driver_temperature fault link power_a "
                   "power_b power_c"));
    const Run table = ctl(link + words("alarms"));
    QCOMPARE(table.exitCode, 0);
    QVERIFY2(table.out.startsWith("alarm ") && table.out.contains("\npower_c "),
             qPrintable(table.out));

    QCOMPARE(ctl(link + words("ack all --comment seen")).exitCode, 0);
    QCOMPARE(ctl(link + words("shelve power_a --for 10m --reason probe")).exitCode, 0);
    QCOMPARE(alarm("power_a").value("shelve_reason"), QJsonValue("probe"));
    const Run fault = ctl(link + words("shelve fault --until-clear --reason x"));
    QCOMPARE(fault.exitCode, 1);
    QVERIFY2(fault.err.startsWith("korvane-ctl: shelve refused: "), qPrintable(fault.err));
    QCOMPARE(ctl(link + words("unshelve power_a")).exitCode, 0);
    QVERIFY(!alarm("power_a").contains("shelve_reason"));

    const Run take = ctl(link + words("lease take --for 10m --note calibration"));
    QCOMPARE(take.exitCode, 0);
    const QString token = take.out.trimmed().section('\n', -1);
    QVERIFY2(!token.isEmpty() && !token.contains(' '), qPrintable(take.out));
    const QStringList holder = link + QStringList{"--lease", token};
    const QJsonObject lease = jsonOf(ctl(link + words("lease show --json")).out);
    QCOMPARE(lease.value("held"), QJsonValue(true));
    QCOMPARE(lease.value("yours"), QJsonValue(false));
    QCOMPARE(lease.value("note"), QJsonValue("calibration"));
    QCOMPARE(jsonOf(ctl(holder + words("lease show --json")).out).value("yours"), QJsonValue(true));
    // Another client's setting is refused; the holder's is passed on.
    QCOMPARE(ctl(link + words("set gain A 12")).exitCode, 1);
    const Run set = ctl(holder + words("set gain A 12"));
    QCOMPARE(set.exitCode, 0);
    QCOMPARE(set.err, QString());
    QVERIFY(ctl(link + words("status")).out.contains("\ngain A            12.0 dB\n"));
    QCOMPARE(ctl(holder + words("lease renew --for 20m")).exitCode, 0);
    const Run stranger = ctl(link + words("--lease nothing set gain A 13"));
    QCOMPARE(stranger.exitCode, 1);
    QVERIFY2(stranger.err.startsWith("korvane-ctl: lease-use refused: "), qPrintable(stranger.err));
    // Only the agent's admins break a lease; this run has none.
    const Run broken = ctl(link + words("lease break --reason x"));
    QCOMPARE(broken.exitCode, 1);
    QVERIFY2(broken.err.startsWith("korvane-ctl: lease-break refused: "), qPrintable(broken.err));
    QVERIFY(ctl(link + words("lease show")).out.contains(QRegularExpression("^held +yes\n")));
    QCOMPARE(ctl(holder + words("lease release")).exitCode, 0);
    QCOMPARE(jsonOf(ctl(link + words("lease show --json")).out).value("held"), QJsonValue(false));
}

QTEST_GUILESS_MAIN(tst_Ctl)
#include "tst_ctl.moc"
