// The serial and TCP links: opening, closing and watching them, and the poll that runs
// while one is up. Bindings made here use Qt::UniqueConnection, so that a slot runs once
// per signal however often a link is opened, lost and opened again.
#include "mainwindow.h"

#include "appstate.h"
#include "commands.h"
#include "connectattempt.h"
#include "extension.h"
#include "ipv4address.h"
#include "mainwindowform.h"
#include "replies.h"
#include "replywatch.h"
#include "serialports.h"

#include <QHostAddress>
#include <QStatusBar>

namespace {

constexpr auto Unique = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
constexpr int ConnectMessageMs = 10000;

} // namespace

void MainWindow::on_SerialConnect_clicked()
{
    if (m_model->offersDisconnect(PanelModel::Link::Serial)) {
        closeSerialLink();
        return;
    }
    const QString port = m_form->serialPortInfoListBox->currentText();
    if (port.isEmpty()) {
        statusBar()->showMessage(tr("No amplifier is listed: plug it in and press Refresh"),
                                 ConnectMessageMs);
        return;
    }
    m_serial->setPortName(port);
    m_serialPortName = port;
    App::serialLinkUp = m_serial->open(QIODevice::ReadWrite) ? 1 : 0;
    if (!App::serialLinkUp) {
        statusBar()->showMessage(tr("Cannot open %1: %2").arg(port, m_serial->errorString()),
                                 ConnectMessageMs);
        return;
    }
    connect(m_serial,
            SIGNAL(errorOccurred(QSerialPort::SerialPortError)),
            this,
            SLOT(SerialError(QSerialPort::SerialPortError)),
            Unique);
    connect(m_serial, SIGNAL(readyRead()), this, SLOT(ReadSerData()), Unique);
    m_model->opened(PanelModel::Link::Serial, port);
    linkUp();
    send(QLatin1String(Command::Identify));
    askStatus();
    startPoll();
}

void MainWindow::closeSerialLink()
{
    const bool wasUp = App::serialLinkUp;
    m_serial->close();
    App::serialLinkUp = 0;
    m_model->closed(PanelModel::Link::Serial);
    disconnect(m_serial,
               SIGNAL(errorOccurred(QSerialPort::SerialPortError)),
               this,
               SLOT(SerialError(QSerialPort::SerialPortError)));
    disconnect(m_serial, SIGNAL(readyRead()), this, SLOT(ReadSerData()));
    stopPollUnlessLinkUp();
    if (wasUp)
        linkDown(tr("Disconnected from %1 at %2").arg(m_serialPortName, clockText()));
}

void MainWindow::SerialError(QSerialPort::SerialPortError error)
{
    // A port whose device went away reports a resource error. A hung-up one (an unplugged
    // adapter, a closed pseudo-terminal) reports read errors instead, over and over, until
    // a write fails; it is the same loss of the device.
    const bool lost = error == QSerialPort::ResourceError
                      || (error == QSerialPort::ReadError
                          && Platform::serialPortHungUp(m_serial->handle()));
    if (!lost)
        return;
    m_serial->close();
    App::serialLinkUp = 0;
    m_model->lost(PanelModel::Link::Serial);
    linkDown(tr("Link to %1 lost at %2").arg(m_serialPortName, clockText()));
}

void MainWindow::on_EthernetConnect_clicked()
{
    if (App::tcpLinkUp) {
        // With bytes still queued the socket closes later, and the link stays up until then.
        m_tcpCloseRequested = true;
        m_socket.disconnectFromHost();
        disconnect(&m_socket, SIGNAL(readyRead()), this, SLOT(ReadSerData()));
        stopPollUnlessLinkUp();
        return;
    }
    if (m_connectAttempt->isPending()) {
        m_connectAttempt->cancel();
        return;
    }
    connectTcp();
}

void MainWindow::connectTcp()
{
    const QString typed = m_form->HostIP->text();
    const Ipv4::Parsed host = Ipv4::parseDecimal(typed);
    if (!host.isValid()) {
        m_connectMessage = tr("Invalid address %1: %2").arg(typed, host.error);
        statusBar()->showMessage(m_connectMessage, ConnectMessageMs);
        return;
    }
    // A typed address is the amplifier's, as far as anyone has said.
    connectTo(QHostAddress(host.address).toString(), App::amplifierTcpPort);
}

void MainWindow::connectTo(const QString &host, quint16 port, bool agent)
{
    if (App::tcpLinkUp || m_connectAttempt->isPending())
        return;
    m_tcpCloseRequested = false;
    m_tcpAgent = agent;
    // The amplifier's own port goes without saying; another one (an agent's) is named.
    const bool v6 = host.contains(QLatin1Char(':'));
    m_tcpEndpoint = QStringLiteral("%1:%2")
                        .arg(v6 ? QLatin1Char('[') + host + QLatin1Char(']') : host)
                        .arg(port);
    const QString address = port == App::amplifierTcpPort ? host : m_tcpEndpoint;
    m_tcpAddress = address;
    m_connectMessage = tr("Connecting to %1\u2026").arg(address);
    statusBar()->showMessage(m_connectMessage);
    m_model->connecting(PanelModel::Link::Tcp, address);
    m_socket.connectToHost(host, port);
    m_connectAttempt->start(address);
    connect(&m_socket, SIGNAL(connected()), this, SLOT(socketConnected()), Unique);
    connect(&m_socket, SIGNAL(disconnected()), this, SLOT(socketDisconnected()), Unique);
    connect(&m_socket, SIGNAL(readyRead()), this, SLOT(ReadSerData()), Unique);
}

void MainWindow::showConnectFailure(const QString &address, const QString &reason)
{
    m_model->closed(PanelModel::Link::Tcp);
    m_connectMessage = tr("Cannot connect to %1: %2").arg(address, reason);
    statusBar()->showMessage(m_connectMessage, ConnectMessageMs);
}

void MainWindow::socketConnected()
{
    if (!m_connectMessage.isEmpty() && statusBar()->currentMessage() == m_connectMessage)
        statusBar()->clearMessage();
    m_connectMessage.clear();
    App::tcpLinkUp = 1;
    m_agentHelloSent = false;
    readAgentFrames(m_tcpAgent);
    m_model->opened(PanelModel::Link::Tcp, m_tcpAddress);
    linkUp();
    send(QLatin1String(Command::Identify));
    askStatus();
    // A peer that accepts and closes at once may have ended the link while the commands
    // left: then there is nothing left to poll.
    if (!App::tcpLinkUp)
        return;
    startPoll();
    m_form->DebugOut->appendPlainText(QStringLiteral("Ethernet conn"));
}

void MainWindow::socketDisconnected()
{
    if (!App::tcpLinkUp)
        return;
    App::tcpLinkUp = 0;
    readAgentFrames(false);
    // A peer that closes leaves the poll running, ready for the next link; a close the
    // operator asked for stops it once no link is left.
    const bool asked = m_tcpCloseRequested;
    if (asked) {
        m_model->closed(PanelModel::Link::Tcp);
        m_tcpCloseRequested = false;
        stopPollUnlessLinkUp();
    } else {
        m_model->lost(PanelModel::Link::Tcp);
    }
    linkDown(asked ? tr("Disconnected from %1 at %2").arg(m_tcpAddress, clockText())
                   : tr("Link to %1 closed at %2").arg(m_tcpAddress, clockText()));
}

void MainWindow::readAgentFrames(bool agent)
{
    if (agent == m_agentFrames)
        return;
    m_agentFrames = agent;
    App::receiveBuffer = FrameAssembler(agent ? Extension::MaxFrameSize
                                              : FrameAssembler::MaxFrameSize);
}

void MainWindow::linkUp()
{
    m_faultTold = Reply::NoFault;
    m_replyWatch->start();
    m_statusTimer->start(StatusIntervalMs);
}

void MainWindow::linkDown(const QString &why)
{
    readingsLost(why);
    if (App::serialLinkUp || App::tcpLinkUp)
        return;
    m_replyWatch->stop();
    m_statusTimer->stop();
}

void MainWindow::startPoll()
{
    connect(m_pollTimer, SIGNAL(timeout()), this, SLOT(SendPeriodicCmd()), Unique);
    m_pollTimer->start(PollIntervalMs);
}

void MainWindow::stopPollUnlessLinkUp()
{
    // The timer is shared: closing one link must not stop the poll of the other.
    if (App::serialLinkUp || App::tcpLinkUp)
        return;
    disconnect(m_pollTimer, SIGNAL(timeout()), this, SLOT(SendPeriodicCmd()));
    m_pollTimer->stop();
}
