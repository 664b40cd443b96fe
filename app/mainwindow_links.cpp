// The serial and TCP links: opening, closing and watching them, and the poll that runs
// while one is up. Bindings made here use Qt::UniqueConnection, so that a slot runs once
// per signal however often a link is opened, lost and opened again.
#include "mainwindow.h"

#include "appstate.h"
#include "commands.h"
#include "connectattempt.h"
#include "ipv4address.h"
#include "mainwindowform.h"
#include "serialports.h"

#include <QHostAddress>
#include <QStatusBar>

namespace {

constexpr auto Unique = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
constexpr int ConnectMessageMs = 10000;

} // namespace

void MainWindow::on_SerialConnect_clicked()
{
    if (App::serialLinkUp) {
        closeSerialLink();
        return;
    }
    m_serial->setPortName(m_form->serialPortInfoListBox->currentText());
    App::serialLinkUp = m_serial->open(QIODevice::ReadWrite) ? 1 : 0;
    if (!App::serialLinkUp)
        return;
    connect(m_serial,
            SIGNAL(errorOccurred(QSerialPort::SerialPortError)),
            this,
            SLOT(SerialError(QSerialPort::SerialPortError)),
            Unique);
    connect(m_serial, SIGNAL(readyRead()), this, SLOT(ReadSerData()), Unique);
    send(QLatin1String(Command::Identify));
    send(QLatin1String(Command::Status));
    m_form->SerialConnect->setText(QStringLiteral("Disconnect"));
    startPoll();
}

void MainWindow::closeSerialLink()
{
    m_serial->close();
    showLamp(m_form->USBLED, ":/images/LED_Grey.png");
    App::serialLinkUp = 0;
    m_form->SerialConnect->setText(QStringLiteral("Connect"));
    disconnect(m_serial,
               SIGNAL(errorOccurred(QSerialPort::SerialPortError)),
               this,
               SLOT(SerialError(QSerialPort::SerialPortError)));
    disconnect(m_serial, SIGNAL(readyRead()), this, SLOT(ReadSerData()));
    stopPollUnlessLinkUp();
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
    showLamp(m_form->USBLED, ":/images/LED_Red.png");
    App::serialLinkUp = 0;
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
    m_tcpCloseRequested = false;
    const QString address = QHostAddress(host.address).toString();
    m_socket.connectToHost(QHostAddress(host.address), App::amplifierTcpPort);
    m_connectAttempt->start(address);
    connect(&m_socket, SIGNAL(connected()), this, SLOT(socketConnected()), Unique);
    connect(&m_socket, SIGNAL(disconnected()), this, SLOT(socketDisconnected()), Unique);
    connect(&m_socket, SIGNAL(readyRead()), this, SLOT(ReadSerData()), Unique);
}

void MainWindow::showConnectFailure(const QString &address, const QString &reason)
{
    m_connectMessage = tr("Cannot connect to %1: %2").arg(address, reason);
    statusBar()->showMessage(m_connectMessage, ConnectMessageMs);
}

void MainWindow::socketConnected()
{
    if (!m_connectMessage.isEmpty() && statusBar()->currentMessage() == m_connectMessage)
        statusBar()->clearMessage();
    m_connectMessage.clear();
    App::tcpLinkUp = 1;
    send(QLatin1String(Command::Identify));
    send(QLatin1String(Command::Status));
    m_form->EthernetConnect->setText(QStringLiteral("Disconnect"));
    startPoll();
    m_form->DebugOut->appendPlainText(QStringLiteral("Ethernet conn"));
}

void MainWindow::socketDisconnected()
{
    showLamp(m_form->TCPLED, ":/images/LED_Grey.png");
    m_form->EthernetConnect->setText(QStringLiteral("Connect"));
    App::tcpLinkUp = 0;
    // A peer that closes leaves the poll running, ready for the next link; a close the
    // operator asked for stops it once no link is left.
    if (m_tcpCloseRequested) {
        m_tcpCloseRequested = false;
        stopPollUnlessLinkUp();
    }
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
