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
    m_form->serialPortInfoListBox->clear();
    notAvailableText(); // translated once, on the first scan, and kept for the process

    const QList<Platform::SerialPortEntry> ports = Platform::availableSerialPorts();
    for (const Platform::SerialPortEntry &port : ports) {
        const QStringList entryData = portEntryData(port);
        m_serial->setPortName(port.name);

        QString report = Reply::probeErrorReport(port.name);
        if (Platform::isAmplifierAdapter(port.description)) {
            App::serialLinkUp = m_serial->open(QIODevice::ReadWrite) ? 1 : 0;
            if (App::serialLinkUp) {
                const QByteArray received = probe();
                if (Reply::probeMatches(received))
                    m_form->serialPortInfoListBox->addItem(port.name, entryData);
                report = Reply::probeReport(port.name, received);
            }
        } else {
            App::serialLinkUp = 0;
        }
        m_form->DebugOut->appendPlainText(report);
        m_serial->close();
        App::serialLinkUp = 0;
    }
}

QByteArray MainWindow::probe()
{
    App::commandBuffer = QLatin1String(Command::Identify);
    for (int i = 0; i < Probe::Sends - 1; ++i)
        SendCommand();
    m_serial->flush();
    Platform::waitForSerialWritten(m_serial, Probe::FlushWaitMs);
    Platform::sleepMs(Probe::AnswerMs);
    SendCommand();
    return Platform::takeSerialInput(m_serial);
}
