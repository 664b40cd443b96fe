#include "appstate.h"
#include "findwidget.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "scriptedpeer.h"
#include "scriptedpty.h"
#include "serialports.h"
#include "simprocess.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QImage lamp(const char *colour)
{
    return QPixmap(QStringLiteral(":/images/LED_%1.png").arg(QLatin1String(colour))).toImage();
}

QByteArray frame(const QByteArray &content)
{
    return '\0' + content + '\xff';
}

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
    void serialHangUpIsLost();
    void hangUpSeenWithoutWrite();
    void tcpConnect();
    void peerCloses();
    void refusedThenConnects();
    void bothLinksUp();
    void reconnectsKeepOneMeasPerTick();
    void refreshEndsSerialLink();
    void closingTheWindowEndsLinksQuietly();

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
    QVERIFY(!m_window->m_serial->isOpen());
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Disconnect"));

    // A closed port reports nothing more: the loss is handled once, not in a loop.
    QSignalSpy errors(m_window->m_serial, &QSerialPort::errorOccurred);
    QVERIFY(errors.isValid());
    QSignalSpy ticks(pollTimer(), &QTimer::timeout);
    QVERIFY(ticks.wait(1000));
    QVERIFY(ticks.wait(1000));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(lampOf("USBLED"), lamp("Red"));
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
                .endsWith(QStringLiteral("\nEthernet conn")));
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    peer.send(frame("?\r\n700136A"));
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));

    // Disconnect by the button: the lamp goes grey and the poll stops.
    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    QVERIFY(widget<QPushButton>("EthernetConnect")->isEnabled());
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));
    QVERIFY(!pollTimer()->isActive());
}

void tst_Links::peerCloses()
{
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));
    peer.send(frame("?\r\n700136A"));
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    peer.closeClient();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("TCPLED"), lamp("Grey"));

    // And the button connects again.
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);
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

    ScriptedPeer peer;
    QVERIFY(peer.listen(port));
    widget<QPushButton>("EthernetConnect")->click();
    QVERIFY(peer.waitForClient());
    QVERIFY(peer.waitForLine("Status"));
    QCOMPARE(peer.lines().mid(0, 2), (QList<QByteArray>{"?", "Status"}));
}

void tst_Links::bothLinksUp()
{
    ScriptedPty device;
    QVERIFY(openSerial(device));
    ScriptedPeer peer;
    QVERIFY(connectTcp(peer));

    widget<QPushButton>("CalibrateBtnA")->click();
    QVERIFY(device.waitForLine("Calibrate 0"));
    QVERIFY(peer.waitForLine("Calibrate 0"));

    // Replies are read from the socket only; the serial side waits unread.
    device.send(frame("?\r\n700115A"));
    peer.send(frame("?\r\n700122A"));
    QTRY_COMPARE(lampOf("TCPLED"), lamp("Green"));
    QVERIFY(peer.waitForPolls(2));
    QVERIFY(m_window->windowTitle().startsWith(QStringLiteral("Korvane Amplifier 700122A")));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));

    // Closing the serial link keeps polling the TCP link that is still up.
    widget<QPushButton>("SerialConnect")->click();
    QCOMPARE(App::serialLinkUp, 0);
    QVERIFY(pollTimer()->isActive());
    QVERIFY(peer.waitForPolls(3));

    widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QVERIFY(!pollTimer()->isActive());
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

    widget<QPushButton>("SerialRefresh")->click();
    QCOMPARE(App::serialLinkUp, 0);
    QVERIFY(!m_window->m_serial->isOpen());
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(lampOf("USBLED"), lamp("Grey"));
    QVERIFY(!pollTimer()->isActive());
    QCOMPARE(widget<QComboBox>("serialPortInfoListBox")->count(), 0);
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

QTEST_MAIN(tst_Links)
#include "tst_links.moc"
