#include "agentpair.h"
#include "appstate.h"
#include "extension.h"
#include "findwidget.h"
#include "mainwindow.h"
#include "replies.h"
#include "replywatch.h"
#include "scratchsettings.h"
#include "scriptedpeer.h"
#include "scriptedpty.h"
#include "serialports.h"
#include "simprocess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QImage lamp(const char *colour)
{
    return QPixmap(QStringLiteral(":/images/LED_%1.png").arg(QLatin1String(colour))).toImage();
}

QByteArray frame(const QByteArray &content)
{
    return '\0' + content + '\xff';
}

// The seven lines of one serial probe, as they follow each other on the wire.
QByteArray probeLines()
{
    QByteArray lines;
    for (int ends = 1; ends <= 7; ++ends)
        lines += "?" + QByteArray("\r\n").repeated(ends);
    return lines;
}

// A loopback listener that never completes another connection: its backlog of one is
// taken by a connection nobody accepts, so a new SYN goes unanswered, as from an address
// where no host answers.
class StalledListener
{
public:
    StalledListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_filler.connectToHost(QHostAddress::LocalHost, m_port);
        if (!m_filler.waitForConnected(5000))
            m_port = 0;
    }
    ~StalledListener() { ::close(m_fd); }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QTcpSocket m_filler;
};

// Passes a client's bytes on to the simulator and its replies back, and keeps what the
// client sent: the panel's lines exactly as the amplifier gets them.
class RecordingRelay : public QObject
{
public:
    explicit RecordingRelay(quint16 upstreamPort)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this, upstreamPort] {
            m_client.reset(m_server.nextPendingConnection());
            m_client->setParent(nullptr);
            m_upstream.connectToHost(QHostAddress::LocalHost, upstreamPort);
            connect(m_client.get(), &QTcpSocket::readyRead, this, [this] {
                const QByteArray bytes = m_client->readAll();
                received += bytes;
                m_upstream.write(bytes);
            });
            connect(&m_upstream, &QTcpSocket::readyRead, this, [this] {
                m_client->write(m_upstream.readAll());
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray received;

private:
    QTcpServer m_server;
    std::unique_ptr<QTcpSocket> m_client;
    QTcpSocket m_upstream;
};

} // namespace

// Opening, closing and losing the serial and TCP links, and the poll they share.
class tst_Links : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void serialOpenAndClose();
    void serialErrors_data();
    void serialErrors();
    void serialHangUpIsLost();
    void hangUpSeenWithoutWrite();
    void tcpConnect();
    void amplifierPort();
    void peerCloses();
    void refusedThenConnects();
    void addressesAreDecimal();
    void connectFailures_data();
    void connectFailures();
    void bothLinksUp();
    void silenceWatchedAcrossLinks();
    void reconnectsKeepOneMeasPerTick();
    void refreshEndsSerialLink();
    void closingTheWindowEndsLinksQuietly();
    void connectingIsVisible();
    void acceptedThenClosed();
    void rfBoxFollowsTheAmplifier_data();
    void rfBoxFollowsTheAmplifier();
    void amplifierLinesOnlyWithoutAgent();
    void agentLinesWithAgent_data();
    void agentLinesWithAgent();
    // Needs korvane-agent's own commands (@hello and after).
    void agentExtensionRoleAndLease();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return findWidget<T>(m_window.get(), name);
    }
    QImage lampOf(const char *name) const
    {
        return widget<QLabel>(name)->pixmap(Qt::ReturnByValue).toImage();
    }
    QTimer *pollTimer() const { return m_window->m_pollTimer; }
    QString agentInfo() const
    {
        // In full: the label itself may show it cut short.
        auto *label = widget<QLabel>("AgentInfo");
        return label->isVisible() ? label->accessibleDescription() : QString();
    }
    QString statusMessage() const { return m_window->statusBar()->currentMessage(); }
    // Opens the device's terminal and the panel's serial link to it.
    bool openSerial(ScriptedPty &device);
    bool openSerial(const QString &path);
    // Has the peer listen and the panel connect to it, up to its "Status".
    bool connectTcp(ScriptedPeer &peer);

    std::unique_ptr<MainWindow> m_window;
};

void tst_Links::initTestCase()
{
    useScratchSettings();
    qRegisterMetaType<QSerialPort::SerialPortError>();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
}

void tst_Links::init()
{
    App::resetState();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
}

void tst_Links::cleanup()
{
    m_window.reset();
    App::amplifierTcpPort = App::DefaultAmplifierTcpPort;
}

bool tst_Links::openSerial(ScriptedPty &device)
{
    return device.open() && openSerial(device.slavePath());
}

bool tst_Links::openSerial(const QString &path)
{
    // As if the scan had found the amplifier there.
    widget<QComboBox>("serialPortInfoListBox")->addItem(path);
    widget<QComboBox>("serialPortInfoListBox")->setCurrentIndex(0);
    widget<QPushButton>("SerialConnect")->click();
    return App::serialLinkUp == 1;
}

bool tst_Links::connectTcp(ScriptedPeer &peer)
{
    if (!peer.listen())
        return false;
    App::amplifierTcpPort = peer.port();
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("127.0.0.1"));
    widget<QPushButton>("EthernetConnect")->click();
    return peer.waitForClient() && peer.waitForLine("Status");
}

void tst_Links::serialOpenAndClose()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Disconnect"));
    QVERIFY(device.waitForLine("Meas"));
    QVERIFY(device.received().startsWith("?\r\nStatus\r\nMeas\r\n"));
    QVERIFY(pollTimer()->isActive());
    QCOMPARE(pollTimer()->interval(), 100);
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));

    device.send(frame("?\r\n700122A"));
    QTRY_COMPARE(lampOf("USBLED"), lamp("Green"));
    QVERIFY(m_window->windowTitle().startsWith(QStringLiteral("Korvane Amplifier 700122A")));

    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 0);
    QVERIFY(!m_window->m_serial->isOpen());
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));
    QVERIFY(!pollTimer()->isActive());

    // The close path unbound the port: opened by someone else, it feeds the window nothing.
    const QString title = m_window->windowTitle();
    QVERIFY(m_window->m_serial->open(QIODevice::ReadWrite));
    QSignalSpy arrived(m_window->m_serial, &QSerialPort::readyRead);
    QVERIFY(arrived.isValid());
    device.send(frame("?\r\n700115A"));
    QVERIFY(arrived.wait());
    emit m_window->m_serial->errorOccurred(QSerialPort::ResourceError);
    QCOMPARE(m_window->windowTitle(), title);
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));
}

void tst_Links::serialErrors_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<bool>("lost");
    QTest::newRow("resource") << QSerialPort::ResourceError << true;
    for (const auto error : {QSerialPort::DeviceNotFoundError,
                             QSerialPort::PermissionError,
                             QSerialPort::OpenError,
                             QSerialPort::WriteError,
                             QSerialPort::ReadError,
                             QSerialPort::UnsupportedOperationError,
                             QSerialPort::UnknownError,
                             QSerialPort::TimeoutError,
                             QSerialPort::NotOpenError})
        QTest::newRow(QByteArray::number(int(error))) << error << false;
}

void tst_Links::serialErrors()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(bool, lost);
    ScriptedPty device;
    QVERIFY(openSerial(device));
    emit m_window->m_serial->errorOccurred(error);
    QCOMPARE(App::serialLinkUp, lost ? 0 : 1);
    QCOMPARE(m_window->m_serial->isOpen(), !lost);
    QCOMPARE(lampOf("USBLED"), lamp(lost ? "Red" : "Grey"));
    // A lost link offers to connect again: there is nothing left to disconnect.
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(),
             lost ? QStringLiteral("Connect") : QStringLiteral("Disconnect"));
    QVERIFY(pollTimer()->isActive());
    if (!lost)
        return;

    // A click in the Lost state opens the port again, as from Closed.
    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 1);
    QVERIFY(device.waitForLine("?", 2));
    QVERIFY(device.waitForLine("Status", 2));
}

void tst_Links::serialHangUpIsLost()
{
    SimProcess sim;
    QVERIFY2(sim.start(
                 {QStringLiteral("--pty"), QStringLiteral("--drop-after"), QStringLiteral("4")}),
             qPrintable(sim.errorString()));
    QVERIFY(openSerial(sim.ptyPath()));
    QTRY_COMPARE(lampOf("USBLED"), lamp("Green"));

    // After four replies the simulator hangs up its end of the terminal.
    QTRY_VERIFY_WITH_TIMEOUT(App::serialLinkUp == 0, 10000);
    QCOMPARE(lampOf("USBLED"), lamp("Red"));
    QVERIFY2(statusMessage().startsWith(QStringLiteral("Link to %1 lost at ").arg(sim.ptyPath())),
             qPrintable(statusMessage()));
    QVERIFY(!m_window->m_serial->isOpen());
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane Amplifier"));

    // A closed port reports nothing more: the loss is handled once, not in a loop.
    QSignalSpy errors(m_window->m_serial, &QSerialPort::errorOccurred);
    QVERIFY(errors.isValid());
    QSignalSpy ticks(pollTimer(), &QTimer::timeout);
    QVERIFY(ticks.wait(1000));
    QVERIFY(ticks.wait(1000));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(lampOf("USBLED"), lamp("Red"));

    // A refresh finds the amplifier plugged in again; the lost link's bindings take
    // none of the probe's answer, and the window shows nothing of it.
    SimProcess replugged;
    QVERIFY2(replugged.start(
                 {QStringLiteral("--pty"), QStringLiteral("--model"), QStringLiteral("700115A")}),
             qPrintable(replugged.errorString()));
    const QString path = replugged.ptyPath();
    Platform::setSerialPortProvider([path] {
        return QList<Platform::SerialPortEntry>{{path, "USB Serial Device", 0}};
    });
    const QString title = m_window->windowTitle();
    widget<QPushButton>("SerialRefresh")->click();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    QCOMPARE(widget<QComboBox>("serialPortInfoListBox")->count(), 1);
    QVERIFY(widget<QPlainTextEdit>("DebugOut")
                ->toPlainText()
                .endsWith(path + QStringLiteral(": OK, Match: 700115A")));
    QCOMPARE(lampOf("USBLED"), lamp("Red"));
    QCOMPARE(m_window->windowTitle(), title);
    QCOMPARE(App::serialLinkUp, 0);
}

// The hang-up alone tells the link is lost: no write has to fail first.
void tst_Links::hangUpSeenWithoutWrite()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    QVERIFY(device.waitForLine("Status"));
    pollTimer()->stop();
    device.hangUp();
    QTRY_COMPARE(lampOf("USBLED"), lamp("Red"));
    QCOMPARE(App::serialLinkUp, 0);
    QVERIFY(!m_window->m_serial->isOpen());
}

void tst_Links::tcpConnect()
{
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));
    QVERIFY(peer.waitForPolls(10));
    const QList<QByteArray> lines = peer.lines();
    QCOMPARE(lines.mid(0, 2), (QList<QByteArray>{"?", "Status"}));
    QCOMPARE(lines.count("Meas"), lines.size() - 2);
    QCOMPARE(pollTimer()->interval(), 100);
    QCOMPARE(App::tcpLinkUp, 1);
    // A flood waits in the system, not in the panel's memory.
    QCOMPARE(m_window->m_socket.readBufferSize(), MainWindow::LinkReadBufferBytes);
    QCOMPARE(m_window->m_serial->readBufferSize(), MainWindow::LinkReadBufferBytes);
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Disconnect"));
    QVERIFY(widget<QPushButton>("EthernetConnect")->isEnabled());
    QVERIFY(widget<QPlainTextEdit>("DebugOut")
                ->toPlainText()
                .contains(QStringLiteral("\nEthernet conn")));
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    // The controls hold no amplifier's values until it has said who it is and its settings
    // are read.
    auto *calibrate = widget<QPushButton>("CalibrateBtnB");
    QVERIFY(!calibrate->isEnabled());
    peer.send(frame("?\r\n700136A"));
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));
    QVERIFY(!calibrate->isEnabled());
    // Switching RF off is never blocked: while the link is open, a ticked RF box takes the
    // click that unticks it, settings read or not.
    auto *rf = widget<QCheckBox>("PAOnCB");
    QVERIFY(rf->isChecked() && rf->isEnabled());
    rf->click();
    QVERIFY(peer.waitForLine("SetRF 0"));
    QVERIFY(!rf->isEnabled());
    rf->setChecked(true);
    peer.send(frame("Status, 065, 055, 060, 1, 010, 021, 021, 021"));
    QTRY_VERIFY(calibrate->isEnabled());

    // Disconnect by the button with a command still queued: the socket closes once it has
    // gone out, the lamp goes grey, the poll stops, and nothing is shown as the amplifier's.
    calibrate->click();
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForLine("Calibrate 1"));
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    QVERIFY(widget<QPushButton>("EthernetConnect")->isEnabled());
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    QVERIFY(!pollTimer()->isActive());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane Amplifier"));
    for (const char *control : {"GainA", "MaxPowerLim", "PAOnCB", "ResetBtn", "CalibrateBtnB"})
        QVERIFY2(!widget<QWidget>(control)->isEnabled(), control);
}

void tst_Links::amplifierPort()
{
    // The one test that leaves the port as the amplifier has it.
    QCOMPARE(App::amplifierTcpPort, quint16(2101));
    QTcpServer amplifier;
    if (!amplifier.listen(QHostAddress::LocalHost, 2101))
        QSKIP("port 2101 is taken on this machine");
    QSignalSpy connected(&amplifier, &QTcpServer::newConnection);
    QVERIFY(connected.isValid());
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("127.0.0.1"));
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(connected.wait(5000));
    QTRY_COMPARE(App::tcpLinkUp, 1);
}

void tst_Links::peerCloses()
{
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));
    peer.send(frame("?\r\n700136A"));
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    // A frame cut off by the lost link is finished by the next one: the receive buffer
    // outlives links.
    peer.send(QByteArray("\0Meas, 0, 0253", 14));
    QVERIFY(peer.waitForPolls(2));
    peer.closeClient();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^Link to 127.0.0.1 closed at \\d\\d:\\d\\d:\\d\\d$"))
                 .match(statusMessage())
                 .hasMatch(),
             qPrintable(statusMessage()));
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    QVERIFY(pollTimer()->isActive());

    // And the button connects again.
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);
    QVERIFY(widget<QTextEdit>("TempAVal")->toPlainText().isEmpty());
    peer.send(", 0248, 0301, 123, 118, 120\xff");
    QTRY_COMPARE(widget<QTextEdit>("TempAVal")->toPlainText(), QStringLiteral("25.3"));
}

void tst_Links::refusedThenConnects()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    App::amplifierTcpPort = port;
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("127.0.0.1"));
    const QString log = widget<QPlainTextEdit>("DebugOut")->toPlainText();
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(m_window->m_socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(m_window->m_socket.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(App::tcpLinkUp, 0);
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    QCOMPARE(widget<QPlainTextEdit>("DebugOut")->toPlainText(), log);
    QCOMPARE(statusMessage(), QStringLiteral("Cannot connect to 127.0.0.1: Connection refused"));

    ScriptedPeer peer;
    QVERIFY(peer.listen(port));
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QVERIFY(peer.waitForLine("Status"));
    QCOMPARE(peer.lines().mid(0, 2), (QList<QByteArray>{"?", "Status"}));
    QCOMPARE(statusMessage(), QString());
}

void tst_Links::addressesAreDecimal()
{
    // Leading zeros are decimal zeros, not an octal prefix (010 would be 8).
    ScriptedPeer peer;
    QVERIFY(peer.listen(0, QHostAddress(QStringLiteral("127.0.0.10"))));
    App::amplifierTcpPort = peer.port();
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("127.000.000.010"));
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);
}

void tst_Links::connectFailures_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<bool>("clickAgain");
    QTest::addColumn<QString>("message");
    const QString stalled = QStringLiteral("Cannot connect to 127.0.0.1: ");
    QTest::newRow("no answer") << "127.0.0.1" << true << false << stalled + "no answer within 5 s";
    QTest::newRow("cancelled") << "127.0.0.1" << true << true << stalled + "cancelled";
    QTest::newRow("group above 255") << "999.999.999.999" << false << false
                                     << "Invalid address 999.999.999.999: 999 is above 255";
    QTest::newRow("three groups") << "1.2.3" << false << false
                                  << "Invalid address 1.2.3.: a number is missing";
    QTest::newRow("empty") << "" << false << false << "Invalid address ...: a number is missing";
    QTest::newRow("letters") << "amplifier" << false << false
                             << "Invalid address ...: a number is missing";
    QTest::newRow("signs") << "+1.-2.3.4" << false << false
                           << "Invalid address +1.-2.3.4: \"+1\" is not a decimal number";
}

void tst_Links::connectFailures()
{
    QFETCH(QString, host);
    QFETCH(bool, stalled);
    QFETCH(bool, clickAgain);
    QFETCH(QString, message);
    StalledListener listener;
    if (stalled) {
        QVERIFY(listener.port());
        App::amplifierTcpPort = listener.port();
    }
    widget<QLineEdit>("HostIP")->setText(host);
    const QString typed = widget<QLineEdit>("HostIP")->text();
    widget<QPushButton>("EthernetConnect")->click();
    if (!stalled)
        QCOMPARE(m_window->m_socket.state(), QAbstractSocket::UnconnectedState);
    else
        QCOMPARE(statusMessage(), QStringLiteral("Connecting to 127.0.0.1\u2026"));
    // A connection being opened can be called off by the same button.
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(),
             stalled ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    if (clickAgain) {
        QCOMPARE(m_window->m_socket.state(), QAbstractSocket::ConnectingState);
        widget<QPushButton>("EthernetConnect")->click();
    }
    QTRY_COMPARE_WITH_TIMEOUT(statusMessage(), message, 10000);
    QCOMPARE(m_window->m_socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(App::tcpLinkUp, 0);
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    QCOMPARE(widget<QLineEdit>("HostIP")->text(), typed);
}

void tst_Links::bothLinksUp()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));

    // Replies are read from the socket only; the serial side's are dropped as they come.
    device.send(frame("?\r\n700115A") + Reply::measFrame({'0', {0, 0}, 0, {456, 0, 0}}));
    peer.send(frame("?\r\n700122A") + frame("Status, 065, 055, 060, 1, 010, 021, 021, 021"));
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    QTRY_COMPARE(m_window->m_serial->bytesAvailable(), 0);
    QVERIFY(peer.waitForPolls(2));
    QVERIFY(m_window->windowTitle().startsWith(QStringLiteral("Korvane Amplifier 700122A")));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));

    QTRY_VERIFY(widget<QPushButton>("CalibrateBtnA")->isEnabled());
    widget<QPushButton>("CalibrateBtnA")->click();
    QVERIFY(device.waitForLine("Calibrate 0"));
    QVERIFY(peer.waitForLine("Calibrate 0"));

    // Once the socket goes, the serial link shows fresh readings only, and names no model
    // until its own amplifier has said which it is.
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QVERIFY(pollTimer()->isActive());
    device.send(Reply::measFrame({'0', {0, 0}, 0, {123, 0, 0}}));
    QTRY_COMPARE(widget<QTextEdit>("CHAPout")->toPlainText(), QStringLiteral("12.3"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane Amplifier"));
    QVERIFY(!widget<QPushButton>("CalibrateBtnA")->isEnabled());

    // Closing the serial link keeps polling the TCP link that is still up.
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);
    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 0);
    QVERIFY(pollTimer()->isActive());
    QVERIFY(peer.waitForPolls(3));

    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QVERIFY(!pollTimer()->isActive());
}

// The reply watch spans the links: a link that opens beside one already read does not
// restart the silence, and one that closes does not end the watch of the other.
void tst_Links::silenceWatchedAcrossLinks()
{
    // Replies dated by a clock of the test's, which the links' opening and closing move on.
    QDateTime now(QDate(2026, 3, 1), QTime(7, 0, 5), Qt::UTC);
    m_window->m_replyWatch->setClock([&now] { return now; });
    m_window->m_replyWatch->setTimeout(ReplyWatch::DefaultTimeoutMs);
    const auto silentSince = [](const QDateTime &time) {
        return QStringLiteral("No reply from the amplifier since ")
               + time.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    };
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));
    peer.send(frame("Meas, 0, 0253, 0248, 0301, 123, 118, 120"));
    QTRY_COMPARE(widget<QTextEdit>("TempAVal")->toPlainText(), QStringLiteral("25.3"));
    const QDateTime firstReply = now;
    now = now.addSecs(10);
    ScriptedPty device;
    QVERIFY(openSerial(device));
    QTRY_COMPARE_WITH_TIMEOUT(statusMessage(), silentSince(firstReply), 10000);

    peer.send(frame("Meas, 0, 0260, 0248, 0301, 123, 118, 120"));
    QTRY_COMPARE(widget<QTextEdit>("TempAVal")->toPlainText(), QStringLiteral("26.0"));
    const QDateTime secondReply = now;
    now = now.addSecs(10);
    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 0);
    QTRY_COMPARE_WITH_TIMEOUT(statusMessage(), silentSince(secondReply), 10000);

    // The watch ends with the last link: a silence that was under way is not said after it.
    peer.send(frame("Meas, 0, 0270, 0248, 0301, 123, 118, 120"));
    QTRY_COMPARE(widget<QTextEdit>("TempAVal")->toPlainText(), QStringLiteral("27.0"));
    QSignalSpy silences(m_window->m_replyWatch, &ReplyWatch::silent);
    QVERIFY(silences.isValid());
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QVERIFY(!silences.wait(2 * ReplyWatch::DefaultTimeoutMs));
    QVERIFY2(statusMessage().startsWith(QLatin1String("Disconnected from 127.0.0.1 at ")),
             qPrintable(statusMessage()));
}

void tst_Links::reconnectsKeepOneMeasPerTick()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    widget<QPushButton>("SerialConnect")->click();
    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 1);

    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);

    peer.clearReceived();
    QSignalSpy ticks(pollTimer(), &QTimer::timeout);
    QVERIFY(ticks.isValid());
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 10, 10000);
    const int counted = ticks.count();
    QVERIFY(peer.waitForLine("Meas", counted));
    // Let anything a second binding would have sent arrive too.
    QVERIFY(peer.waitForPolls(1));
    QVERIFY2(peer.count("Meas") <= ticks.count() + 1,
             qPrintable(
                 QStringLiteral("%1 Meas for %2 ticks").arg(peer.count("Meas")).arg(ticks.count())));
}

void tst_Links::refreshEndsSerialLink()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    device.send(frame("?\r\n700136A"));
    QTRY_COMPARE(lampOf("USBLED"), lamp("Green"));
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));

    // The scan probes the same device, silent now; its lines go to the socket as well.
    const QString path = device.slavePath();
    Platform::setSerialPortProvider([path] {
        return QList<Platform::SerialPortEntry>{{path, "USB Serial Device", 0}};
    });
    widget<QPushButton>("SerialRefresh")->click();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    QCOMPARE(App::serialLinkUp, 0);
    QVERIFY(!m_window->m_serial->isOpen());
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));
    QCOMPARE(widget<QComboBox>("serialPortInfoListBox")->count(), 0);
    QTRY_VERIFY(device.received().endsWith(probeLines()));
    QTRY_VERIFY(peer.received().contains(probeLines()));
}

void tst_Links::closingTheWindowEndsLinksQuietly()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));
    QVERIFY(peer.waitForPolls(2));

    m_window.reset();
    QTRY_VERIFY(!peer.isConnected());
    for (const QByteArray &line : peer.lines())
        QVERIFY2(line == "?" || line == "Status" || line == "Meas", line.constData());
    QVERIFY(!device.received().contains("Set"));
}

// Return in the address field connects as the button does, and never disconnects; a USB
// Connect with no amplifier listed says what to do.
void tst_Links::connectingIsVisible()
{
    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 0);
    QCOMPARE(statusMessage(),
             QStringLiteral("No amplifier is listed: plug it in and press Refresh"));

    ScriptedPeer peer;
    QVERIFY(peer.listen());
    App::amplifierTcpPort = peer.port();
    auto *address = widget<QLineEdit>("HostIP");
    address->setText(QStringLiteral("127.0.0.1"));
    QTest::keyClick(address, Qt::Key_Return);
    QCOMPARE(statusMessage(), QStringLiteral("Connecting to 127.0.0.1\u2026"));
    QVERIFY(peer.waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);
    QVERIFY(statusMessage().isEmpty());
    // The peer never answers: the lamp is not green, and does not say "No link" either.
    QCOMPARE(widget<QLabel>("TCPLED")->accessibleDescription(),
             QStringLiteral("Link open, waiting for the amplifier"));
    QTest::keyClick(address, Qt::Key_Return);
    QVERIFY(peer.waitForPolls(2));
    QCOMPARE(App::tcpLinkUp, 1);
    QVERIFY(peer.isConnected());
    // Nor does it start connecting again beside the open link.
    QVERIFY2(statusMessage().isEmpty(), qPrintable(statusMessage()));
    QCOMPARE(widget<QLabel>("TCPLED")->accessibleDescription(),
             QStringLiteral("Link open, waiting for the amplifier"));

    // Another port (an agent's), as --connect opens it: named with its port, and the typed
    // address, which is saved for the next run, stays as it was.
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    ScriptedPeer agent;
    QVERIFY(agent.listen());
    m_window->connectTo(QStringLiteral("127.0.0.1"), agent.port());
    QCOMPARE(statusMessage(), QStringLiteral("Connecting to 127.0.0.1:%1\u2026").arg(agent.port()));
    QVERIFY(agent.waitForClient());
    QVERIFY(agent.waitForLine("Status"));
    QCOMPARE(address->text(), QStringLiteral("127.0.0.1"));
    agent.closeClient();
    QTRY_VERIFY(statusMessage().startsWith(
        QStringLiteral("Link to 127.0.0.1:%1 closed at ").arg(agent.port())));
}

// A peer that accepts and closes at once (an agent whose amplifier is away) leaves no link
// to disconnect: the button offers Connect, and Connect connects again.
void tst_Links::acceptedThenClosed()
{
    QTcpServer closer;
    QVERIFY(closer.listen(QHostAddress::LocalHost));
    int accepted = 0;
    connect(&closer, &QTcpServer::newConnection, &closer, [&] {
        while (QTcpSocket *client = closer.nextPendingConnection()) {
            ++accepted;
            client->close();
            client->deleteLater();
        }
    });
    App::amplifierTcpPort = closer.serverPort();
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("127.0.0.1"));
    auto *button = widget<QPushButton>("EthernetConnect");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        button->click();
        QTRY_COMPARE(accepted, attempt);
        QTRY_VERIFY(statusMessage().startsWith(QLatin1String("Link to 127.0.0.1 closed at ")));
        QCOMPARE(App::tcpLinkUp, 0);
        QCOMPARE(button->text(), QStringLiteral("Connect"));
        QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane Amplifier"));
        QVERIFY(!widget<QDoubleSpinBox>("GainA")->isEnabled());
    }
}

void tst_Links::rfBoxFollowsTheAmplifier_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("switchable");
    QTest::newRow("700115A switches RF by command") << "700115A" << true;
    QTest::newRow("700136A: RF follows the fault") << "700136A" << false;
}

// The panel and the simulator agree: unticking RF switches it off where the model switches
// RF by command; elsewhere the read-back ticks the box again and the status bar says why.
void tst_Links::rfBoxFollowsTheAmplifier()
{
    QFETCH(QString, model);
    QFETCH(bool, switchable);
    SimProcess sim;
    QVERIFY2(sim.start({QStringLiteral("--model"), model}), qPrintable(sim.errorString()));
    App::amplifierTcpPort = sim.port();
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("127.0.0.1"));
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->windowTitle().contains(model), 10000);
    auto *rf = widget<QCheckBox>("PAOnCB");
    QTRY_VERIFY(rf->isChecked());
    rf->click();
    QVERIFY(!rf->isChecked());
    if (switchable) {
        QTRY_COMPARE_WITH_TIMEOUT(widget<QTextEdit>("CHAPout")->toPlainText(),
                                  QStringLiteral("0.0"),
                                  10000);
        QVERIFY(!rf->isChecked());
    } else {
        // Said with the read-back after the setting, which may come after a read that
        // was already on its way and ticks the box first.
        QTRY_COMPARE_WITH_TIMEOUT(statusMessage(),
                                  QStringLiteral("RF stays on: this model's RF follows its fault "
                                                 "state"),
                                  10000);
        QVERIFY(rf->isChecked());
    }
}

// Without --agent the panel sends the amplifier's own lines and nothing else, even to a far
// end that would answer more.
void tst_Links::amplifierLinesOnlyWithoutAgent()
{
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    RecordingRelay relay(sim.port());
    m_window->connectTo(QStringLiteral("127.0.0.1"), relay.port());
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    // Past the first periodic read-back, when an agent's link asks for its lease.
    QTRY_VERIFY_WITH_TIMEOUT(relay.received.count("Status\r\n") >= 2, 10000);
    const QByteArray sent = relay.received;
    QVERIFY(sent.startsWith("?\r\nStatus\r\n"));
    QVERIFY(sent.endsWith("\r\n"));
    QList<QByteArray> lines = sent.split('\n');
    lines.removeLast();
    for (const QByteArray &line : lines)
        QVERIFY2(line == "?\r" || line == "Status\r" || line == "Meas\r", line.constData());
    QCOMPARE(agentInfo(), QString());
}

// With --agent: "@hello" once the amplifier is identified, then "@lease" with the read-backs;
// the role and the lease are shown, in frames longer than the amplifier's, and a setting
// the agent did not pass on is told with its reason.
void tst_Links::agentLinesWithAgent_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("shown");
    QTest::newRow("observer") << "observer"
                              << "Observer (read only)";
    QTest::newRow("controller") << "controller"
                                << "Controller";
}

void tst_Links::agentLinesWithAgent()
{
    QFETCH(QString, role);
    QFETCH(QString, shown);
    ScriptedPeer peer;
    QVERIFY(peer.listen());
    m_window->connectTo(QStringLiteral("127.0.0.1"), peer.port(), true);
    QVERIFY(peer.waitForClient() && peer.waitForLine("Status"));
    QVERIFY(peer.waitForPolls(3));
    QVERIFY(!peer.received().contains('@'));
    peer.send(frame("?\r\n700136A"));
    QVERIFY(peer.waitForLine("@hello"));
    const QByteArray settings = Reply::statusFrame({65, 55, 60, true, 10, {21, 21, 21}});
    peer.send(settings);
    peer.send(
        Extension::frame("hello", {{"agent", "korvane-agent"}, {"role", role}, {"extension", 1}}));
    QVERIFY(peer.waitForLine("@lease"));
    QTRY_COMPARE(agentInfo(), shown);
    QCOMPARE(widget<QLabel>("AgentInfo")->text(), agentInfo());
    auto *gain = widget<QDoubleSpinBox>("GainA");
    QCOMPARE(gain->isEnabled(), role == "controller");
    peer.send(Extension::frame("lease",
                               {{"held", true},
                                {"holder", "ops-desk"},
                                {"note", QString(3000, 'n')},
                                {"until", "2001-02-03T12:00:00.000+00:00"},
                                {"yours", false}}));
    QTRY_VERIFY2(agentInfo().startsWith(shown + ", lease: ops-desk until 2001-02-03 "),
                 qPrintable(agentInfo()));
    QVERIFY(peer.waitForLine("@lease", 2));
    QCOMPARE(peer.count("@hello"), 1);

    if (gain->isEnabled()) {
        QTest::keyClick(gain, Qt::Key_Up);
        QVERIFY(peer.waitForLine("SetGain 0 22"));
        QTRY_VERIFY(peer.lines().lastIndexOf("Status") > peer.lines().indexOf("SetGain 0 22"));
        peer.send(
            Extension::frame("refused", {{"command", "SetGain 0 22"}, {"reason", "lease held"}}));
        peer.send(settings.repeated(peer.count("Status") - 1));
        QTRY_COMPARE(statusMessage(),
                     QString("Gain channel A not taken: the amplifier still reports 10.5 dB "
                             "(lease held)"));
    }
    // What the agent said goes with its link.
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QCOMPARE(agentInfo(), QString());
}

// Needs korvane-agent's own commands (@hello and after): the panel shows its role and the
// lease another client takes, and the agent's reason when a setting of its own is refused.
void tst_Links::agentExtensionRoleAndLease()
{
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<SimProcess> agent;
    QVERIFY(AgentPair::start(&sim, &agent, QStringLiteral(KORVANE_AGENT_PATH), {}));
    m_window->connectTo(QStringLiteral("127.0.0.1"), agent->port(), true);
    QTRY_COMPARE_WITH_TIMEOUT(agentInfo(), QString("Controller, lease free"), 10000);
    auto *gain = widget<QDoubleSpinBox>("GainA");
    QTRY_VERIFY(gain->isEnabled());

    QTcpSocket other;
    other.connectToHost(QHostAddress::LocalHost, agent->port());
    QVERIFY(other.waitForConnected(5000));
    other.write("@hello\r\n@lease-take {\"for\":600,\"note\":\"calibration\"}\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(agentInfo().contains(", lease: "), 10000);

    QTest::keyClick(gain, Qt::Key_Up);
    QTRY_VERIFY_WITH_TIMEOUT(statusMessage().startsWith("Gain channel A not taken: the amplifier "
                                                        "still reports 10.5 dB ("),
                             10000);
    QVERIFY2(statusMessage().endsWith(')'), qPrintable(statusMessage()));
}

QTEST_MAIN(tst_Links)
#include "tst_links.moc"
