#include "mainwindow.h"

#include "about.h"
#include "appstate.h"
#include "connectattempt.h"
#include "displaylooks.h"
#include "extension.h"
#include "mainwindowform.h"
#include "pendingedits.h"
#include "replywatch.h"

#include <QPixmap>
#include <QSettings>

#include <initializer_list>

namespace {

const char SettingsOrganisation[] = "Orvane, Inc.";
const char SettingsApplication[] = "KorvaneAmp";
const char HostAddressKey[] = "SaveIPAddress";

// How each setting control sends: the limits wait for their Set button; gains and linearity
// go with each step.
struct SettingControl
{
    Reply::StatusField field;
    PendingEdits::Sending sending;
};
constexpr SettingControl SettingControls[] = {
    {Reply::StatusField::MaxPower, PendingEdits::ByButton},
    {Reply::StatusField::MaxCellTemp, PendingEdits::ByButton},
    {Reply::StatusField::MaxDriverTemp, PendingEdits::ByButton},
    {Reply::StatusField::Linearity, PendingEdits::OnCommit},
    {Reply::StatusField::GainA, PendingEdits::OnCommit},
    {Reply::StatusField::GainB, PendingEdits::OnCommit},
    {Reply::StatusField::GainC, PendingEdits::OnCommit},
};

// The setting as the operator knows it from the form.
QString settingName(Reply::StatusField field)
{
    switch (field) {
    case Reply::StatusField::MaxPower:
        return MainWindow::tr("Max driver power");
    case Reply::StatusField::MaxCellTemp:
        return MainWindow::tr("Max cell temperature");
    case Reply::StatusField::MaxDriverTemp:
        return MainWindow::tr("Max driver temperature");
    case Reply::StatusField::Rf:
        return MainWindow::tr("RF");
    case Reply::StatusField::Linearity:
        return MainWindow::tr("Linearity");
    case Reply::StatusField::GainA:
        return MainWindow::tr("Gain channel A");
    case Reply::StatusField::GainB:
        return MainWindow::tr("Gain channel B");
    case Reply::StatusField::GainC:
        return MainWindow::tr("Gain channel C");
    }
    return QString();
}

// "Gain channel A: 0 to 31.5 dB in steps of 0.5", from the table of settings.
QString rangeText(Reply::StatusField field)
{
    const Reply::SettingInfo &info = Reply::settingInfo(field);
    QString text = MainWindow::tr("%1: %2 to %3 %4")
                       .arg(settingName(field),
                            QString::number(info.range.low),
                            QString::number(info.range.high),
                            QString::fromUtf8(info.unit));
    if (info.range.step != 1)
        text += MainWindow::tr(" in steps of %1").arg(QString::number(info.range.step));
    return text;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_form(new MainWindowForm)
{
    m_form->setup(this);

    QSettings settings{QLatin1String(SettingsOrganisation), QLatin1String(SettingsApplication)};
    const QVariant saved = settings.value(QLatin1String(HostAddressKey),
                                          QLatin1String(MainWindowForm::DefaultHostAddress));
    m_form->HostIP->setText(saved.toString());

    setFixedSize(width(), height());
    for (QWidget *control : m_form->focusChain())
        m_focusPolicies.insert(control, control->focusPolicy());
    updateKeyboardReach(width());

    m_pollTimer = new QTimer(this);
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &MainWindow::askStatus);
    connect(m_statusTimer, &QTimer::timeout, this, [this] {
        if (!m_model->agentRole().isEmpty())
            sendToAgent(QLatin1String(Extension::Verb::Lease));
    });
    m_replyWatch = new ReplyWatch(this);
    connect(m_replyWatch, &ReplyWatch::silent, this, &MainWindow::readingsSilent);
    m_pending = new PendingEdits(this);
    for (const SettingControl &control : SettingControls)
        m_pending->watch(settingBox(control.field), control.sending, rangeText(control.field));
    connect(m_pending, &PendingEdits::revertRequested, this, &MainWindow::revertToAmplifier);
    connect(m_pending, &PendingEdits::committedUnchanged, this, &MainWindow::sendOperatorValue);
    connect(m_pending,
            &PendingEdits::notAcceptable,
            this,
            [this](QAbstractSpinBox *, const QString &range) { tell(range); });
    m_looks = new DisplayLooks(this);
    m_model = new PanelModel(this);
    connect(m_model, &PanelModel::changed, this, &MainWindow::render);
    // Whether RF On takes input while the settings do not depends on its tick.
    connect(m_form->PAOnCB, &QCheckBox::toggled, this, &MainWindow::render);
    connect(m_model, &PanelModel::settingNotTaken, this, &MainWindow::tellNotTaken);
    connect(m_model,
            &PanelModel::commandRefused,
            this,
            [this](const QString &command, const QString &reason) {
                tell(tr("'%1' not passed on by the agent: %2").arg(command, reason));
            });
    // Return in the address field connects as the button does; it never disconnects.
    connect(m_form->HostIP, &QLineEdit::returnPressed, this, [this] {
        if (!App::tcpLinkUp && !m_connectAttempt->isPending())
            connectTcp();
    });
    m_serial = new QSerialPort(this);
    m_connectAttempt = new ConnectAttempt(&m_socket, this);
    connect(m_connectAttempt, &ConnectAttempt::failed, this, &MainWindow::showConnectFailure);
    // A flood waits in the system, where flow control slows its sender, not in memory here.
    m_socket.setReadBufferSize(LinkReadBufferBytes);
    m_serial->setReadBufferSize(LinkReadBufferBytes);
    setUpTrends();

    for (QTextEdit *display : {m_form->TempAVal,
                               m_form->TempBVal,
                               m_form->DrvTemp,
                               m_form->CHAPout,
                               m_form->CHBPout,
                               m_form->CHCPout}) {
        display->setAlignment(Qt::AlignRight);
    }

    render();
    FindSerialPorts();
}

MainWindow::~MainWindow()
{
    QSettings settings{QLatin1String(SettingsOrganisation), QLatin1String(SettingsApplication)};
    settings.setValue(QLatin1String(HostAddressKey), m_form->HostIP->text());

    m_socket.disconnectFromHost();
    // The socket may still report its closing, and the port its closing, after the form
    // is gone; neither has anything left to show.
    m_socket.disconnect(this);
    m_serial->disconnect(this);
    m_pollTimer->stop();

    delete m_form;
    m_form = nullptr;
}

QString MainWindow::clockText(const QDateTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

void MainWindow::on_AboutBtn_clicked()
{
    auto *dialog = new about(this);
    dialog->show();
}

void MainWindow::on_AdvancedBtn_clicked()
{
    // The button's own text tells which view is showing.
    if (m_form->AdvancedBtn->text() == QLatin1String("Advanced")) {
        setFixedWidth(MainWindowForm::AdvancedWidth);
        m_form->AdvancedBtn->setText(QStringLiteral("Simple"));
        m_form->AdvancedBtn->setIcon(QIcon(QPixmap(QStringLiteral(":/images/Arrow-Left.png"))));
        updateKeyboardReach(MainWindowForm::AdvancedWidth);
    } else {
        setFixedWidth(MainWindowForm::SimpleWidth);
        m_form->AdvancedBtn->setText(QStringLiteral("Advanced"));
        m_form->AdvancedBtn->setIcon(QIcon(QPixmap(QStringLiteral(":/images/Arrow.png"))));
        updateKeyboardReach(MainWindowForm::SimpleWidth);
    }
    showAgentInfo();
}

// A control outside the window's area can be neither seen nor clicked; it must not take
// the focus either, or a key would send a command from a control the operator cannot see.
// The view's width is passed in, as a window system may apply a new size only later.
void MainWindow::updateKeyboardReach(int viewWidth)
{
    const QRect inView(0, 0, viewWidth, MainWindowForm::CentralHeight);
    for (auto it = m_focusPolicies.cbegin(); it != m_focusPolicies.cend(); ++it) {
        QWidget *control = it.key();
        const QRect place(control->mapTo(m_form->centralWidget, QPoint()), control->size());
        control->setFocusPolicy(inView.contains(place) ? it.value() : Qt::NoFocus);
    }
    QWidget *focused = focusWidget();
    if (focused && focused->focusPolicy() == Qt::NoFocus)
        m_form->AdvancedBtn->setFocus();
}

void MainWindow::on_ClearBtn_clicked()
{
    m_form->DebugOut->clear();
    m_form->CommandOut->clear();
    m_form->SerPortIn->clear();
    m_form->SerPortInHex->clear();
}

QAbstractSpinBox *MainWindow::settingBox(Reply::StatusField field) const
{
    switch (field) {
    case Reply::StatusField::MaxPower:
        return m_form->MaxPowerLim;
    case Reply::StatusField::MaxCellTemp:
        return m_form->CellTempLim;
    case Reply::StatusField::MaxDriverTemp:
        return m_form->DrvTempLim;
    case Reply::StatusField::Linearity:
        return m_form->Linearity;
    case Reply::StatusField::GainA:
        return m_form->GainA;
    case Reply::StatusField::GainB:
        return m_form->GainB;
    case Reply::StatusField::GainC:
        return m_form->GainC;
    case Reply::StatusField::Rf:
        break;
    }
    return nullptr;
}

void MainWindow::render()
{
    using Link = PanelModel::Link;
    showLamp(m_form->USBLED, Link::Serial);
    showLamp(m_form->TCPLED, Link::Tcp);
    const QString disconnect = QStringLiteral("Disconnect");
    const QString connect = QStringLiteral("Connect");
    m_form->SerialConnect->setText(m_model->offersDisconnect(Link::Serial) ? disconnect : connect);
    m_form->EthernetConnect->setText(m_model->offersDisconnect(Link::Tcp) ? disconnect : connect);
    if (windowTitle() != m_model->title())
        setWindowTitle(m_model->title());

    // The controls hold no amplifier's values until its settings have been read: until then,
    // and once the link ends, they are greyed and take no input, so that nothing shows or is
    // changed as if it were the amplifier's.
    const bool editable = m_model->settingsEditable();
    for (QWidget *control : std::initializer_list<QWidget *>{m_form->GainA,
                                                             m_form->GainB,
                                                             m_form->GainC,
                                                             m_form->Linearity,
                                                             m_form->MaxPowerLim,
                                                             m_form->CellTempLim,
                                                             m_form->DrvTempLim,
                                                             m_form->SetPwrLimitBtn,
                                                             m_form->SetCellTempLimitBtn,
                                                             m_form->SetDrvTempLimitBtn,
                                                             m_form->ResetBtn,
                                                             m_form->CalibrateBtnA,
                                                             m_form->CalibrateBtnB,
                                                             m_form->CalibrateBtnC})
        control->setEnabled(editable);
    // Switching RF off is never blocked: while a link is open and the box is ticked, it can
    // be unticked, whatever else is known.
    const bool open = m_model->isOpen(m_model->readLink());
    m_form->PAOnCB->setEnabled(editable || (open && m_form->PAOnCB->isChecked()));
    if (!m_model->readingsLive())
        showReadingsStale();
    showAgentInfo();
}

void MainWindow::showAgentInfo()
{
    const QString agent = m_model->agentText();
    QLabel *info = m_form->AgentInfo;
    // The window's width is fixed, and the status bar's messages need room beside it: a
    // long holder's name is cut short here, and given whole to the tooltip and to screen
    // readers.
    // The fixed width, which a window system may apply only later.
    const QString shown = info->fontMetrics().elidedText(agent, Qt::ElideRight, maximumWidth() / 2);
    if (info->text() != shown)
        info->setText(shown);
    if (info->accessibleDescription() != agent) {
        info->setAccessibleDescription(agent);
        info->setToolTip(agent);
        info->setVisible(!agent.isEmpty());
    }
}

void MainWindow::showLamp(QLabel *lamp, PanelModel::Link link)
{
    const PanelModel::Lamp shown = m_model->lamp(link);
    PanelModel::Lamp &last = m_lampShown[link == PanelModel::Link::Tcp ? 1 : 0];
    // The form starts grey; a picture is decoded only when it changes.
    if (shown != last) {
        last = shown;
        const char *image = shown == PanelModel::Lamp::Green ? ":/images/LED_Green.png"
                            : shown == PanelModel::Lamp::Red ? ":/images/LED_Red.png"
                                                             : ":/images/LED_Grey.png";
        lamp->setPixmap(QPixmap(QLatin1String(image)));
    }
    // What the colour says, for those who do not see it.
    const QString description = m_model->lampDescription(link);
    if (lamp->accessibleDescription() != description)
        lamp->setAccessibleDescription(description);
}

void MainWindow::tellNotTaken(const PanelModel::Refusal &refusal)
{
    using Reply::StatusField;
    if (refusal.field == StatusField::Rf) {
        if (!refusal.reason.isEmpty())
            tell(tr("RF stays %1 (%2)")
                     .arg(refusal.kept != 0 ? tr("on") : tr("off"), refusal.reason));
        else if (refusal.wanted != 0)
            tell(m_faultTold != Reply::NoFault
                     ? tr("RF stays off: a fault is latched, press Reset")
                     : tr("RF stays off: the amplifier did not switch it on"));
        else
            tell(tr("RF stays on: this model's RF follows its fault state"));
        return;
    }
    const Reply::SettingInfo &info = Reply::settingInfo(refusal.field);
    QString line = tr("%1 not taken: the amplifier still reports %2 %3")
                       .arg(settingName(refusal.field),
                            QString::number(refusal.kept, 'f', info.decimals),
                            QString::fromUtf8(info.unit));
    if (!refusal.reason.isEmpty())
        line += QLatin1String(" (") + refusal.reason + QLatin1Char(')');
    tell(line);
}
