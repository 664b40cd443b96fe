// The reply reader: frames from the link in use become the title, lamps, controls and
// readings of the window.
#include "mainwindow.h"

#include "appstate.h"
#include "mainwindowform.h"
#include "replies.h"
#include "trendrecorder.h"

#include <QPixmap>
#include <QTimer>

namespace {

const char OverLimitStyle[] = "QTextEdit { background-color: red; }";
const char WithinLimitStyle[] = "QTextEdit { background-color: white; }";

// Writes only what changed: the poll redraws these ten times a second, and a new style
// sheet re-polishes the widget each time it is set.
void showReading(QTextEdit *display, double tenths)
{
    const QString text = Reply::displayTenths(tenths);
    if (display->toPlainText() != text) {
        display->setPlainText(text);
        display->setAlignment(Qt::AlignRight);
    }
}

void showReading(QTextEdit *display, double tenths, int limit)
{
    showReading(display, tenths);
    const QLatin1String style(Reply::overLimit(tenths, limit) ? OverLimitStyle : WithinLimitStyle);
    if (display->styleSheet() != style)
        display->setStyleSheet(style);
}

} // namespace

void MainWindow::ReadSerData()
{
    // With both links up, replies are taken from the socket only.
    QIODevice *link = App::tcpLinkUp ? static_cast<QIODevice *>(&m_socket) : m_serial;
    // The serial side's copies are dropped as they come, so that they neither pile up
    // nor pass for fresh readings once the socket goes.
    if (App::tcpLinkUp && m_serial->isOpen())
        m_serial->readAll();
    if (!link->isOpen())
        return;
    // Every complete frame is handled now, in arrival order: a burst often holds several
    // (the replies to "?" and "Status" at connect), and leaving one for the next burst
    // would show every later reading one poll late.
    const QByteArray bytes = link->read(MaxReadBytes);
    for (const char byte : bytes) {
        if (App::receiveBuffer.push(byte)) {
            applyFrame(App::receiveBuffer.frame());
            App::swallowNextCommand = 0;
        }
    }
    drawReadings();
    // More than one read's worth waiting: the rest comes after the window's other events.
    if (link->bytesAvailable() > 0 && !m_readScheduled) {
        m_readScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_readScheduled = false;
            ReadSerData();
        });
    }
}

void MainWindow::applyFrame(const QByteArray &frame)
{
    switch (Reply::kindOf(frame)) {
    case Reply::Kind::Identification:
        applyIdentification(frame);
        break;
    case Reply::Kind::Status:
        applyStatus(frame);
        break;
    case Reply::Kind::Measurement:
        applyMeasurement(frame);
        break;
    case Reply::Kind::Unknown:
        break;
    }
}

void MainWindow::applyIdentification(const QByteArray &frame)
{
    showLamp(App::tcpLinkUp ? m_form->TCPLED : m_form->USBLED, ":/images/LED_Green.png");
    setWindowTitle(Reply::windowTitle(frame));
    m_form->Linearity->setVisible(Reply::hasLinearityControl(frame));
    m_form->LinearityLabel->setVisible(!m_form->Linearity->isHidden());
}

void MainWindow::applyStatus(const QByteArray &frame)
{
    const Reply::Status status = Reply::decodeStatus(frame);
    m_trends->setLimits(status);
    // Each control set from the reply may send its own command back; the swallow flag
    // drops that one command.
    auto field = [&status](int index) {
        App::swallowNextCommand = 1;
        return index < status.fieldCount;
    };
    if (field(0))
        m_form->MaxPowerLim->setValue(status.maxPowerW);
    if (field(1))
        m_form->CellTempLim->setValue(status.maxCellTempC);
    if (field(2))
        m_form->DrvTempLim->setValue(status.maxDrvTempC);
    if (field(3))
        m_form->PAOnCB->setChecked(status.rfOn);
    if (field(4))
        m_form->Linearity->setValue(status.linearityPct);
    if (field(5))
        m_form->GainA->setValue(status.gainDb[0]);
    if (field(6))
        m_form->GainB->setValue(status.gainDb[1]);
    if (field(7))
        m_form->GainC->setValue(status.gainDb[2]);
}

void MainWindow::applyMeasurement(const QByteArray &frame)
{
    const Reply::Measurement m = Reply::decodeMeasurement(frame);
    if (m.fieldCount < 1)
        return;
    m_trends->record(m);
    if (m.statusChar != App::lastStatusCode)
        applyStatusCharacter(m.statusChar);

    // Each reading is held against the limit as it stands now, even if a later frame of
    // the same burst changes the limit before the display is drawn.
    const int cellLimit = m_form->CellTempLim->value();
    const int limits[] = {cellLimit, cellLimit, m_form->DrvTempLim->value()};
    for (int i = 0; i < m.readingCount() && i < DisplayCount; ++i) {
        Reading &reading = m_readings[i];
        reading.pending = true;
        reading.tenths = m.reading(i);
        reading.hasLimit = i < 3;
        reading.limit = reading.hasLimit ? limits[i] : 0;
    }
}

void MainWindow::drawReadings()
{
    QTextEdit *const displays[DisplayCount] = {m_form->TempAVal,
                                               m_form->TempBVal,
                                               m_form->DrvTemp,
                                               m_form->CHAPout,
                                               m_form->CHBPout,
                                               m_form->CHCPout};
    for (int i = 0; i < DisplayCount; ++i) {
        Reading &reading = m_readings[i];
        if (!reading.pending)
            continue;
        reading.pending = false;
        if (reading.hasLimit)
            showReading(displays[i], reading.tenths, reading.limit);
        else
            showReading(displays[i], reading.tenths);
    }
}

void MainWindow::applyStatusCharacter(qint8 statusChar)
{
    App::swallowNextCommand = 1;
    App::lastStatusCode = statusChar;
    const bool noFault = statusChar == Reply::NoFault;
    m_form->ResetBtn->setIcon(QIcon(QPixmap(noFault ? QStringLiteral(":/images/OK.png")
                                                    : QStringLiteral(":/images/Error.png"))));
    // On models with a switchable RF output the box can be ticked only while there is
    // no fault; on the others it mirrors the fault state.
    if (windowTitle().contains(QLatin1String(Reply::SwitchableRfModel))) {
        m_form->PAOnCB->setCheckable(noFault);
    } else {
        // A 700115 may have made the box untickable before another model identified
        // itself on the same run; without this, RF could never be switched on again.
        if (noFault)
            m_form->PAOnCB->setCheckable(true);
        m_form->PAOnCB->setChecked(noFault);
    }
}
