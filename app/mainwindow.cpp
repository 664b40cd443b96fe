#include "mainwindow.h"

#include "about.h"
#include "appstate.h"
#include "connectattempt.h"
#include "mainwindowform.h"
#include "pendingedits.h"
#include "replywatch.h"

#include <QPixmap>
#include <QSettings>

namespace {

const char SettingsOrganisation[] = "Orvane, Inc.";
const char SettingsApplication[] = "KorvaneAmp";
const char HostAddressKey[] = "SaveIPAddress";

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
    m_replyWatch = new ReplyWatch(this);
    connect(m_replyWatch, &ReplyWatch::silent, this, &MainWindow::readingsSilent);
    m_pending = new PendingEdits(this);
    for (QAbstractSpinBox *box : std::initializer_list<QAbstractSpinBox *>{m_form->GainA,
                                                                           m_form->GainB,
                                                                           m_form->GainC,
                                                                           m_form->Linearity})
        m_pending->watch(box, PendingEdits::OnCommit);
    for (QAbstractSpinBox *box : std::initializer_list<QAbstractSpinBox *>{m_form->MaxPowerLim,
                                                                           m_form->CellTempLim,
                                                                           m_form->DrvTempLim})
        m_pending->watch(box, PendingEdits::ByButton);
    connect(m_pending, &PendingEdits::revertRequested, this, &MainWindow::revertToAmplifier);
    connect(m_pending, &PendingEdits::committedUnchanged, this, &MainWindow::sendOperatorValue);
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

void MainWindow::showLamp(QLabel *lamp, const char *image)
{
    lamp->setPixmap(QPixmap(QLatin1String(image)));
    // What the colour says, for those who do not see it.
    const QLatin1String path(image);
    lamp->setAccessibleDescription(path.contains(QLatin1String("Green")) ? tr("Link up")
                                   : path.contains(QLatin1String("Red")) ? tr("Link lost")
                                                                         : tr("No link"));
}
