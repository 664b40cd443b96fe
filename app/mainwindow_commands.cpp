// The command channel: every control's command, and the one place that writes to the links.
#include "mainwindow.h"

#include "appstate.h"
#include "commands.h"
#include "extension.h"
#include "mainwindowform.h"
#include "pendingedits.h"
#include "serialports.h"

void MainWindow::SendCommand()
{
    if (App::swallowNextCommand) {
        App::swallowNextCommand = 0;
        return;
    }
    // The buffer keeps its line end: a second send without new text repeats the line
    // with one more line end, which the serial probe relies on.
    App::commandBuffer += QLatin1String(Command::LineEnd);
    if (App::serialLinkUp) {
        m_serial->write(Command::toWire(App::commandBuffer));
        m_serial->flush();
        Platform::waitForSerialWritten(m_serial, Platform::SerialWriteWaitMs);
    }
    if (App::tcpLinkUp) {
        m_socket.write(Command::toWire(App::commandBuffer));
        // Sent now rather than on the event loop's next turn: one wake-up less a poll.
        m_socket.flush();
    }
}

void MainWindow::send(const QString &command)
{
    App::commandBuffer = command;
    SendCommand();
}

void MainWindow::sendSetting(Reply::StatusField field, const QString &command, double value)
{
    // A control set from a reply forms its command too: that one is swallowed, and so is
    // the read-back it would ask for.
    const bool swallowed = App::swallowNextCommand != 0;
    send(command);
    if (swallowed)
        return;
    askStatus();
    m_model->settingSent(field, value);
}

void MainWindow::sendLimit(QAbstractSpinBox *box, Reply::StatusField field, const QString &command)
{
    if (!PendingEdits::isAcceptable(box)) {
        tell(m_pending->range(box));
        return;
    }
    m_pending->sent(box);
    sendSetting(field, command, box->property("value").toDouble());
}

void MainWindow::askStatus()
{
    send(QLatin1String(Command::Status));
    m_model->statusAsked();
}

void MainWindow::sendToAgent(const QString &verb)
{
    if (!App::tcpLinkUp || !m_tcpAgent)
        return;
    m_socket.write(Extension::line(verb) + Command::LineEnd);
    m_socket.flush();
}

void MainWindow::SendPeriodicCmd()
{
    send(QLatin1String(Command::Meas));
}

void MainWindow::on_ResetBtn_clicked()
{
    App::commandBuffer = QLatin1String(Command::Reset);
    App::lastStatusCode = App::StatusRedraw;
    SendCommand();
    askStatus();
}

void MainWindow::on_PAOnCB_clicked()
{
    const bool on = m_form->PAOnCB->isChecked();
    App::commandBuffer = Command::setRf(on);
    App::lastStatusCode = App::StatusRedraw;
    SendCommand();
    askStatus();
    m_model->settingSent(Reply::StatusField::Rf, on ? 1 : 0);
}

void MainWindow::on_SetPwrLimitBtn_clicked()
{
    sendLimit(m_form->MaxPowerLim,
              Reply::StatusField::MaxPower,
              Command::setMaxPower(m_form->MaxPowerLim->value()));
}

void MainWindow::on_SetCellTempLimitBtn_clicked()
{
    sendLimit(m_form->CellTempLim,
              Reply::StatusField::MaxCellTemp,
              Command::setMaxCellTemp(unsigned(m_form->CellTempLim->value())));
}

void MainWindow::on_SetDrvTempLimitBtn_clicked()
{
    sendLimit(m_form->DrvTempLim,
              Reply::StatusField::MaxDriverTemp,
              Command::setMaxDrvTemp(unsigned(m_form->DrvTempLim->value())));
}

// The gain and linearity boxes report a change for each step taken and for typed digits
// once they are committed (Return, or the focus leaving the box), not for each keystroke.
void MainWindow::on_GainA_valueChanged(const QString &)
{
    const double dB = m_form->GainA->value();
    sendSetting(Reply::StatusField::GainA, Command::setGain(0, dB), dB);
}

void MainWindow::on_Linearity_valueChanged(const QString &)
{
    const int percent = m_form->Linearity->value();
    sendSetting(Reply::StatusField::Linearity, Command::setLinearity(unsigned(percent)), percent);
}

void MainWindow::on_GainB_valueChanged(const QString &)
{
    const double dB = m_form->GainB->value();
    sendSetting(Reply::StatusField::GainB, Command::setGain(1, dB), dB);
}

void MainWindow::on_GainC_valueChanged(const QString &)
{
    const double dB = m_form->GainC->value();
    sendSetting(Reply::StatusField::GainC, Command::setGain(2, dB), dB);
}

// A calibration changes no setting the Status shows; the settings are read back all the same,
// as after every command.
void MainWindow::on_CalibrateBtnA_clicked()
{
    send(Command::calibrate(0));
    askStatus();
}

void MainWindow::on_CalibrateBtnB_clicked()
{
    send(Command::calibrate(1));
    askStatus();
}

void MainWindow::on_CalibrateBtnC_clicked()
{
    send(Command::calibrate(2));
    askStatus();
}

// Typed digits committed as the value the box already held, which the amplifier no longer
// has: sent as the box's own change would be.
void MainWindow::sendOperatorValue(QAbstractSpinBox *box)
{
    if (box == m_form->GainA)
        on_GainA_valueChanged(QString());
    else if (box == m_form->GainB)
        on_GainB_valueChanged(QString());
    else if (box == m_form->GainC)
        on_GainC_valueChanged(QString());
    else if (box == m_form->Linearity)
        on_Linearity_valueChanged(QString());
}

void MainWindow::revertToAmplifier(QAbstractSpinBox *box)
{
    // The amplifier's own value must not go back to it.
    App::swallowNextCommand = 1;
    m_pending->takeAmplifierValue(box, m_pending->amplifierValue(box));
    App::swallowNextCommand = 0;
}
