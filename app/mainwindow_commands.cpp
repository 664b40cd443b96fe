// The command channel: every control's command, and the one place that writes to the links.
#include "mainwindow.h"

#include "appstate.h"
#include "commands.h"
#include "mainwindowform.h"
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
    if (App::tcpLinkUp)
        m_socket.write(Command::toWire(App::commandBuffer));
}

void MainWindow::send(const QString &command)
{
    App::commandBuffer = command;
    SendCommand();
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
}

void MainWindow::on_PAOnCB_clicked()
{
    App::commandBuffer = Command::setRf(m_form->PAOnCB->isChecked());
    App::lastStatusCode = App::StatusRedraw;
    SendCommand();
}

void MainWindow::on_SetPwrLimitBtn_clicked()
{
    send(Command::setMaxPower(m_form->MaxPowerLim->value()));
}

void MainWindow::on_SetCellTempLimitBtn_clicked()
{
    send(Command::setMaxCellTemp(unsigned(m_form->CellTempLim->value())));
}

void MainWindow::on_SetDrvTempLimitBtn_clicked()
{
    send(Command::setMaxDrvTemp(unsigned(m_form->DrvTempLim->value())));
}

void MainWindow::on_GainA_valueChanged(const QString &)
{
    send(Command::setGain(0, m_form->GainA->value()));
}

void MainWindow::on_Linearity_valueChanged(const QString &)
{
    send(Command::setLinearity(unsigned(m_form->Linearity->value())));
}

void MainWindow::on_GainB_valueChanged(const QString &)
{
    send(Command::setGain(1, m_form->GainB->value()));
}

void MainWindow::on_GainC_valueChanged(const QString &)
{
    send(Command::setGain(2, m_form->GainC->value()));
}

void MainWindow::on_CalibrateBtnA_clicked()
{
    send(Command::calibrate(0));
}

void MainWindow::on_CalibrateBtnB_clicked()
{
    send(Command::calibrate(1));
}

void MainWindow::on_CalibrateBtnC_clicked()
{
    send(Command::calibrate(2));
}
