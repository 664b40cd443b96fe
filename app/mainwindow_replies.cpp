// The reply reader: frames from the link in use become the title, lamps, controls and
// readings of the window.
#include "mainwindow.h"

#include "appstate.h"
#include "displaylooks.h"
#include "mainwindowform.h"
#include "pendingedits.h"
#include "replies.h"
#include "replywatch.h"
#include "trendrecorder.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>

#include <array>

namespace {

// Writes only what changed: the poll redraws these ten times a second, and a new style
// sheet re-polishes the widget each time it is set. The text is replaced within its block,
// which keeps the block's right alignment and lays the document out once; setPlainText
// would make a new block and need aligning, and laying out, again.
void showReading(QTextEdit *display, double tenths)
{
    const QString text = Reply::displayTenths(tenths);
    if (display->toPlainText() == text)
        return;
    QTextCursor cursor(display->document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
}

// The value displays in the order of the readings: cell 1, cell 2, driver, powers A to C.
std::array<QTextEdit *, 6> valueDisplays(const MainWindowForm &form)
{
    return {form.TempAVal, form.TempBVal, form.DrvTemp, form.CHAPout, form.CHBPout, form.CHCPout};
}

void describe(QWidget *display, const QString &description)
{
    if (display->accessibleDescription() != description)
        display->setAccessibleDescription(description);
}

QString printableStatus(qint8 statusChar)
{
    const auto byte = quint8(statusChar);
    if (byte >= 0x20 && byte < 0x7f)
        return QString(QLatin1Char(char(byte)));
    return QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

// "cell 1 61.2 °C over 55 °C": each temperature of the reading above its limit.
QStringList overLimitReadings(const Reply::Measurement &m, int cellLimitC, int driverLimitC)
{
    const char *const names[] = {"cell 1", "cell 2", "driver"};
    const int limits[] = {cellLimitC, cellLimitC, driverLimitC};
    QStringList over;
    for (int i = 0; i < 3 && i < m.readingCount(); ++i) {
        if (Reply::overLimit(m.reading(i), limits[i]))
            over << QCoreApplication::translate("MainWindow", "%1 %2 \u00b0C over %3 \u00b0C")
                        .arg(QLatin1String(names[i]), Reply::displayTenths(m.reading(i)))
                        .arg(limits[i]);
    }
    return over;
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
    const PanelModel::Link link = m_model->readLink();
    const Reply::Identity identity = Reply::decodeIdentity(frame);
    // The trends keep one series per amplifier: a model or an address they have not had
    // before starts a new one.
    m_trends->setAmplifier(identity.modelText,
                           link == PanelModel::Link::Tcp ? m_tcpEndpoint : m_serialPortName);
    m_model->identified(link, Reply::windowTitle(frame), identity);
    m_form->Linearity->setVisible(identity.hasLinearity());
    m_form->LinearityLabel->setVisible(!m_form->Linearity->isHidden());
}

void MainWindow::applyStatus(const QByteArray &frame)
{
    using Reply::StatusField;
    const Reply::Status status = Reply::decodeStatus(frame);
    m_trends->setLimits(status);
    // Settings the read-back does not show are told before the controls show the values
    // the amplifier kept.
    m_model->statusRead(status);
    // Each control set from the reply may send its own command back; the swallow flag
    // drops that one command.
    auto field = [&status](StatusField field) {
        App::swallowNextCommand = 1;
        return status.has(field);
    };
    if (field(StatusField::MaxPower))
        takeSetting(m_form->MaxPowerLim, StatusField::MaxPower, status.maxPowerW);
    if (field(StatusField::MaxCellTemp))
        takeSetting(m_form->CellTempLim, StatusField::MaxCellTemp, status.maxCellTempC);
    if (field(StatusField::MaxDriverTemp))
        takeSetting(m_form->DrvTempLim, StatusField::MaxDriverTemp, status.maxDrvTempC);
    if (field(StatusField::Rf) && m_model->mayApply(StatusField::Rf))
        m_form->PAOnCB->setChecked(status.rfOn);
    if (field(StatusField::Linearity))
        takeSetting(m_form->Linearity, StatusField::Linearity, status.linearityPct);
    if (field(StatusField::GainA))
        takeSetting(m_form->GainA, StatusField::GainA, status.gainDb[0]);
    if (field(StatusField::GainB))
        takeSetting(m_form->GainB, StatusField::GainB, status.gainDb[1]);
    if (field(StatusField::GainC))
        takeSetting(m_form->GainC, StatusField::GainC, status.gainDb[2]);
}

void MainWindow::takeSetting(QAbstractSpinBox *box, Reply::StatusField field, double value)
{
    // A reply asked for before the control's last command shows the value from before it;
    // the reply to the read-back that followed the command will show the new one.
    if (!m_model->mayApply(field))
        return;
    m_pending->takeAmplifierValue(box, value);
}

void MainWindow::applyMeasurement(const QByteArray &frame)
{
    const Reply::Measurement m = Reply::decodeMeasurement(frame);
    if (m.fieldCount < 1)
        return;
    m_trends->record(m);
    m_replyWatch->replied();
    m_model->measured(m_model->readLink(), m);
    if (!m_silenceMessage.isEmpty() && statusBar()->currentMessage() == m_silenceMessage)
        statusBar()->clearMessage();
    m_silenceMessage.clear();
    if (m.statusChar != App::lastStatusCode)
        applyStatusCharacter(m.statusChar);

    // Each reading is held against the amplifier's limit as it stands now, even if a later
    // frame of the same burst changes it before the display is drawn. A limit the operator
    // has typed but not set is not yet the amplifier's.
    const int cellLimit = int(m_pending->amplifierValue(m_form->CellTempLim));
    const int limits[] = {cellLimit, cellLimit, int(m_pending->amplifierValue(m_form->DrvTempLim))};
    if (m.statusChar != m_faultTold) {
        if (m.statusChar == Reply::NoFault) {
            tell(tr("Fault cleared at %1").arg(clockText()));
        } else {
            QString line = tr("Fault (status %1) at %2")
                               .arg(printableStatus(m.statusChar), clockText());
            const QStringList over = overLimitReadings(m, limits[0], limits[2]);
            if (!over.isEmpty())
                line += QLatin1String(": ") + over.join(QLatin1String(", "));
            tell(line);
        }
        m_faultTold = m.statusChar;
    }
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
    const auto displays = valueDisplays(*m_form);
    for (int i = 0; i < DisplayCount; ++i) {
        Reading &reading = m_readings[i];
        if (!reading.pending)
            continue;
        reading.pending = false;
        reading.stale = false;
        showReading(displays[i], reading.tenths);
        const bool over = reading.hasLimit && Reply::overLimit(reading.tenths, reading.limit);
        const auto look = over ? DisplayLooks::Look::OverLimit : DisplayLooks::Look::Live;
        if (look == m_looks->look(displays[i]))
            continue;
        m_looks->show(displays[i], look);
        describe(displays[i], over ? tr("Over its limit") : tr("Live"));
    }
}

void MainWindow::readingsLost(const QString &why)
{
    // The trends leave a gap here: no line joins the readings before and after.
    m_trends->breakLine();
    tell(why);
}

void MainWindow::showReadingsStale()
{
    const auto displays = valueDisplays(*m_form);
    for (int i = 0; i < DisplayCount; ++i) {
        Reading &reading = m_readings[i];
        // A reading decoded but not yet drawn came before the loss; it is stale as well.
        if (reading.pending) {
            reading.pending = false;
            showReading(displays[i], reading.tenths);
        }
        reading.stale = true;
        if (!displays[i]->toPlainText().isEmpty()) {
            m_looks->show(displays[i], DisplayLooks::Look::Stale);
            describe(displays[i], tr("Not live: the last value the amplifier sent"));
        }
    }
}

void MainWindow::readingsSilent(const QDateTime &since)
{
    m_model->silent(m_model->readLink());
    readingsLost(tr("No reply from the amplifier since %1").arg(clockText(since)));
    m_silenceMessage = statusBar()->currentMessage();
}

void MainWindow::tell(const QString &line)
{
    statusBar()->showMessage(line);
    m_form->DebugOut->appendPlainText(line);
}

void MainWindow::applyStatusCharacter(qint8 statusChar)
{
    App::swallowNextCommand = 1;
    App::lastStatusCode = statusChar;
    const bool noFault = statusChar == Reply::NoFault;
    m_form->ResetBtn->setIcon(QIcon(QPixmap(noFault ? QStringLiteral(":/images/OK.png")
                                                    : QStringLiteral(":/images/Error.png"))));
    m_form->ResetBtn->setAccessibleDescription(noFault ? tr("No fault") : tr("Fault latched"));
    // On models with a switchable RF output the box can be ticked only while there is
    // no fault; on the others it mirrors the fault state.
    if (m_model->identity().rfByCommand()) {
        m_form->PAOnCB->setCheckable(noFault);
    } else {
        // A 700115 may have made the box untickable before another model identified
        // itself on the same run; without this, RF could never be switched on again.
        if (noFault)
            m_form->PAOnCB->setCheckable(true);
        m_form->PAOnCB->setChecked(noFault);
    }
}
