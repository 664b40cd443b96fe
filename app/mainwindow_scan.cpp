// The serial port scan: every port that describes itself as one of the amplifier's USB
// adapters is asked to identify itself, and those that answer with a known model are
// offered in the port list.
#include "mainwindow.h"

#include "appstate.h"
#include "commands.h"
#include "mainwindowform.h"
#include "probe.h"
#include "replies.h"
#include "serialports.h"

#include <QCoreApplication>
#include <QSignalBlocker>
#include <QStatusBar>

namespace {

const QString &notAvailableText()
{
    static const QString text = QCoreApplication::translate("MainWindow", "N/A");
    return text;
}

QStringList portEntryData(const Platform::SerialPortEntry &port)
{
    return {port.name,
            port.productIdentifier ? QString::number(port.productIdentifier, 16)
                                   : notAvailableText()};
}

// What the operator can do about a candidate port that would not open.
QString openFailureHint(const QString &portName, const QSerialPort &serial)
{
    if (serial.error() != QSerialPort::PermissionError)
        return QCoreApplication::translate("MainWindow", "Cannot open %1: %2")
            .arg(portName, serial.errorString());
    const QString group = Platform::serialPortGroup(portName);
    return QCoreApplication::translate("MainWindow", "Cannot open %1: your user must be in group %2")
        .arg(portName, group.isEmpty() ? QStringLiteral("dialout") : group);
}

} // namespace

void MainWindow::on_SerialRefresh_clicked()
{
    // The scan reuses the link's port object; end the link properly rather than leave
    // the panel showing a link the scan has closed.
    if (App::serialLinkUp)
        closeSerialLink();
    FindSerialPorts();
}

void MainWindow::FindSerialPorts()
{
    // The probe's answers are the probe's own. A lost serial link leaves the window bound
    // to this port object, and Qt's serial waits emit readyRead() and errors inside the
    // probe: unblocked, the reply reader would take the answer and the link's error
    // handling would act on a port that is not the link.
    const QSignalBlocker probeOnly(m_serial);
    m_form->serialPortInfoListBox->clear();
    notAvailableText(); // translated once, on the first scan, and kept for the process

    QStringList openFailures;
    const QList<Platform::SerialPortEntry> ports = Platform::availableSerialPorts();
    for (const Platform::SerialPortEntry &port : ports) {
        const QStringList entryData = portEntryData(port);
        m_serial->setPortName(port.name);

        QString report = Reply::probeErrorReport(port.name);
        if (Platform::isAmplifierCandidate(port)) {
            App::serialLinkUp = m_serial->open(QIODevice::ReadWrite) ? 1 : 0;
            if (App::serialLinkUp) {
                const QByteArray received = probe();
                if (Reply::probeMatches(received))
                    m_form->serialPortInfoListBox->addItem(port.name, entryData);
                report = Reply::probeReport(port.name, received);
            } else {
                openFailures.append(openFailureHint(port.name, *m_serial));
            }
        } else {
            App::serialLinkUp = 0;
        }
        m_form->DebugOut->appendPlainText(report);
        m_serial->close();
        App::serialLinkUp = 0;
    }
    showOpenFailures(openFailures);
}

void MainWindow::showOpenFailures(const QStringList &hints)
{
    // Stays until the next scan or message: an empty list must not go unexplained.
    if (hints.isEmpty()) {
        if (statusBar()->currentMessage() == m_scanMessage)
            statusBar()->clearMessage();
        m_scanMessage.clear();
        return;
    }
    m_scanMessage = hints.first();
    if (hints.size() > 1)
        m_scanMessage += tr(" (and %1 more)").arg(hints.size() - 1);
    statusBar()->showMessage(m_scanMessage);
}

QByteArray MainWindow::probe()
{
    // The probe's lines go through the command buffer: each send repeats it with one more
    // line end.
    App::commandBuffer = QLatin1String(Command::Identify);
    return Probe::run(m_serial, [this] { SendCommand(); });
}
