// The reply reader: frames from the link in use become the title, lamps, controls and
// readings of the window.
#include "mainwindow.h"

#include "appstate.h"
#include "displaylooks.h"
#include "extension.h"
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

// The display that shows a reading.
QTextEdit *valueDisplay(const MainWindowForm &form, Reply::MeasField field)
{
    switch (field) {
    case Reply::MeasField::Cell1Temp:
        return form.TempAVal;
    case Reply::MeasField::Cell2Temp:
        return form.TempBVal;
    case Reply::MeasField::DriverTemp:
        return form.DrvTemp;
    case Reply::MeasField::PowerA:
        return form.CHAPout;
    case Reply::MeasField::PowerB:
        return form.CHBPout;
    case Reply::MeasField::PowerC:
        return form.CHCPout;
    case Reply::MeasField::StatusChar:
        break;
    }
    return nullptr;
}

// What a fault message calls a temperature.
const char *temperatureName(Reply::MeasField field)
{
    switch (field) {
    case Reply::MeasField::Cell1Temp:
        return "cell 1";
    case Reply::MeasField::Cell2Temp:
        return "cell 2";
    default:
        return "driver";
    }
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

// "cell 1 61.2 °C over 55 °C": each temperature of the reading above its limit, as
// `limitOf` gives the limit.
template<typename LimitOf>
QStringList overLimitReadings(const Reply::Measurement &m, LimitOf limitOf)
{
    QStringList over;
    for (const Reply::ReadingInfo &info : Reply::Readings) {
        if (!info.hasLimit || !m.has(info.field))
            continue;
        const int limit = limitOf(info.limit);
        if (Reply::overLimit(m.tenths(info.field), limit))
            over << QCoreApplication::translate("MainWindow", "%1 %2 \u00b0C over %3 \u00b0C")
                        .arg(QLatin1String(temperatureName(info.field)),
                             Reply::displayTenths(m.tenths(info.field)))
                        .arg(limit);
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
        applyAgentFrame(frame);
        break;
    }
}

void MainWindow::applyAgentFrame(const QByteArray &frame)
{
    // Only the agent's link carries its frames, and only once the panel has opted in.
    if (!m_agentHelloSent || !App::tcpLinkUp || m_model->readLink() != PanelModel::Link::Tcp)
        return;
    const Extension::Message message = Extension::parseFrame(frame);
    if (message.verb.isEmpty())
        return;
    const bool greeted = message.verb == QLatin1String(Extension::Verb::Hello);
    m_model->agentSaid(PanelModel::Link::Tcp, message);
    if (message.verb == QLatin1String(Extension::Verb::Error))
        m_form->DebugOut->appendPlainText(
            tr("The agent refused: %1").arg(message.body.value(QStringLiteral("reason")).toString()));
    // The lease is asked for at once, and with each Status poll from then on.
    if (greeted)
        sendToAgent(QLatin1String(Extension::Verb::Lease));
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
    if (link == PanelModel::Link::Tcp && m_tcpAgent && !m_agentHelloSent) {
        m_agentHelloSent = true;
        sendToAgent(QLatin1String(Extension::Verb::Hello));
    }
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
    const auto limitOf = [this](Reply::StatusField limit) {
        return int(m_pending->amplifierValue(settingBox(limit)));
    };
    if (m.statusChar != m_faultTold) {
        if (m.statusChar == Reply::NoFault) {
            tell(tr("Fault cleared at %1").arg(clockText()));
        } else {
            QString line = tr("Fault (status %1) at %2")
                               .arg(printableStatus(m.statusChar), clockText());
            const QStringList over = overLimitReadings(m, limitOf);
            if (!over.isEmpty())
                line += QLatin1String(": ") + over.join(QLatin1String(", "));
            tell(line);
        }
        m_faultTold = m.statusChar;
    }
    for (int i = 0; i < Reply::ReadingCount; ++i) {
        const Reply::ReadingInfo &info = Reply::Readings[i];
        if (!m.has(info.field))
            continue;
        Reading &reading = m_readings[i];
        reading.pending = true;
        reading.tenths = m.tenths(info.field);
        reading.hasLimit = info.hasLimit;
        reading.limit = info.hasLimit ? limitOf(info.limit) : 0;
    }
}

void MainWindow::drawReadings()
{
    for (int i = 0; i < Reply::ReadingCount; ++i) {
        Reading &reading = m_readings[i];
        if (!reading.pending)
            continue;
        QTextEdit *display = valueDisplay(*m_form, Reply::Readings[i].field);
        reading.pending = false;
        reading.stale = false;
        showReading(display, reading.tenths);
        const bool over = reading.hasLimit && Reply::overLimit(reading.tenths, reading.limit);
        const auto look = over ? DisplayLooks::Look::OverLimit : DisplayLooks::Look::Live;
        if (look == m_looks->look(display))
            continue;
        m_looks->show(display, look);
        describe(display, over ? tr("Over its limit") : tr("Live"));
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
    for (int i = 0; i < Reply::ReadingCount; ++i) {
        Reading &reading = m_readings[i];
        QTextEdit *display = valueDisplay(*m_form, Reply::Readings[i].field);
        // A reading decoded but not yet drawn came before the loss; it is stale as well.
        if (reading.pending) {
            reading.pending = false;
            showReading(display, reading.tenths);
        }
        reading.stale = true;
        if (!display->toPlainText().isEmpty()) {
            m_looks->show(display, DisplayLooks::Look::Stale);
            describe(display, tr("Not live: the last value the amplifier sent"));
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
