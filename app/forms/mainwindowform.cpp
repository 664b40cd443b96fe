#include "mainwindowform.h"

#include "commands.h"
#include "fileicon.h"
#include "strictspinbox.h"
#include "wheelguard.h"

#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QMetaObject>
#include <QPixmap>

namespace {

template<typename W>
W *make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(QRect(x, y, w, h));
    return widget;
}

QFont pointFont(int pointSize)
{
    QFont font;
    font.setPointSize(pointSize);
    return font;
}

QIcon iconFromFile(const char *path)
{
    return deferredFileIcon(QString::fromLatin1(path));
}

QPushButton *makeButton(QWidget *parent, const char *name, QRect rect, const QIcon &icon)
{
    auto *button = make<QPushButton>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    if (!icon.isNull())
        button->setIcon(icon);
    return button;
}

// The buttons that must not take Return from another widget of the window.
void noAutoDefault(QPushButton *button)
{
    button->setAutoDefault(false);
    button->setFlat(false);
}

QLabel *makeLamp(QWidget *parent, const char *name)
{
    auto *lamp = make<QLabel>(parent, name, 100, 50, 31, 31);
    lamp->setPixmap(QPixmap(QString::fromLatin1(":/images/LED_Grey.png")));
    lamp->setScaledContents(true);
    return lamp;
}

QDoubleSpinBox *makeGain(QWidget *parent, const char *name, int x, const QFont &font)
{
    auto *gain = make<StrictSpinBox<QDoubleSpinBox>>(parent, name, x, 20, 71, 31);
    gain->setStrictStep(Command::Limits::GainStepDb);
    gain->setFont(font);
    gain->setDecimals(1);
    gain->setMinimum(0.0);
    gain->setMaximum(Command::Limits::MaxGainDb);
    gain->setSingleStep(Command::Limits::GainStepDb);
    gain->setValue(10.5);
    // Typed digits make a value only when committed (Return, or leaving the box), so
    // that the values passed on the way are never sent.
    gain->setKeyboardTracking(false);
    return gain;
}

QSpinBox *makeSpin(
    QWidget *parent, const char *name, QRect rect, const QFont &font, int min, int max, int value)
{
    auto *spin = make<StrictSpinBox<QSpinBox>>(parent,
                                               name,
                                               rect.x(),
                                               rect.y(),
                                               rect.width(),
                                               rect.height());
    spin->setFont(font);
    spin->setMinimum(min);
    spin->setMaximum(max);
    spin->setValue(value);
    return spin;
}

QLabel *makeLabel(QWidget *parent, const char *name, QRect rect, const QFont &font)
{
    auto *label = make<QLabel>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    label->setFont(font);
    return label;
}

// The read-only boxes that show one reading each.
QTextEdit *makeValueDisplay(QWidget *parent, const char *name, QRect rect, const QFont &font)
{
    auto *box = make<QTextEdit>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    box->setFont(font);
    box->setLayoutDirection(Qt::LeftToRight);
    box->setAutoFillBackground(true);
    box->setFrameShape(QFrame::WinPanel);
    box->setFrameShadow(QFrame::Raised);
    box->setLineWidth(2);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setUndoRedoEnabled(false);
    box->setLineWrapMode(QTextEdit::NoWrap);
    box->setReadOnly(true);
    box->setTextInteractionFlags(Qt::NoTextInteraction);
    return box;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text, nullptr);
}

} // namespace

void MainWindowForm::setup(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowIcon(iconFromFile(":/images/Sine-Wave Inv.png"));

    const QFont font12 = pointFont(12);
    const QIcon arrow = iconFromFile(":/images/Arrow.png");

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));

    groupBox = make<QGroupBox>(centralWidget, "groupBox", 280, 10, 171, 91);
    serialPortInfoListBox = make<QComboBox>(groupBox, "serialPortInfoListBox", 0, 20, 81, 20);
    serialPortInfoListBox->addItem(QString());
    serialPortInfoListBox->setMaximumSize(QSize(391, QWIDGETSIZE_MAX));
    serialPortInfoListBox->setInsertPolicy(QComboBox::InsertAtBottom);
    // Deprecated in Qt 5.15, but it is the policy that keeps the list at its place's width
    // whatever the length of the port names.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    serialPortInfoListBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLength);
    QT_WARNING_POP
    SerialConnect = makeButton(groupBox, "SerialConnect", {0, 50, 81, 31}, arrow);
    noAutoDefault(SerialConnect);
    USBLED = makeLamp(groupBox, "USBLED");
    SerialRefresh = makeButton(groupBox, "SerialRefresh", {90, 20, 51, 21}, QIcon());

    auto *maxPower
        = make<StrictSpinBox<QDoubleSpinBox>>(centralWidget, "MaxPowerLim", 460, 230, 61, 31);
    maxPower->setStrictStep(Command::Limits::PowerLimitStepW);
    MaxPowerLim = maxPower;
    MaxPowerLim->setFont(font12);
    MaxPowerLim->setDecimals(1);
    MaxPowerLim->setMinimum(0.0);
    MaxPowerLim->setMaximum(Command::Limits::MaxPowerLimitW);
    MaxPowerLim->setSingleStep(1.0);
    MaxPowerLim->setValue(6.5);
    CellTempLim = makeSpin(centralWidget,
                           "CellTempLim",
                           {460, 40, 61, 31},
                           font12,
                           0,
                           Command::Limits::MaxTempLimitC,
                           55);
    label_8 = makeLabel(centralWidget, "label_8", {460, 10, 131, 21}, font12);

    groupBox_2 = make<QGroupBox>(centralWidget, "groupBox_2", 280, 120, 171, 91);
    HostIP = make<QLineEdit>(groupBox_2, "HostIP", 0, 20, 131, 21);
    HostIP->setFont(pointFont(10));
    HostIP->setInputMethodHints(Qt::ImhNone);
    EthernetConnect = makeButton(groupBox_2, "EthernetConnect", {0, 50, 81, 31}, arrow);
    noAutoDefault(EthernetConnect);
    TCPLED = makeLamp(groupBox_2, "TCPLED");

    AboutBtn = makeButton(centralWidget,
                          "AboutBtn",
                          {280, 230, 81, 31},
                          iconFromFile(":/images/HelpIcon.png"));
    noAutoDefault(AboutBtn);

    groupBox_8 = make<QGroupBox>(centralWidget, "groupBox_8", 10, 130, 261, 61);
    groupBox_8->setFont(pointFont(8));
    GainC = makeGain(groupBox_8, "GainC", 170, font12);
    GainA = makeGain(groupBox_8, "GainA", 10, font12);
    GainB = makeGain(groupBox_8, "GainB", 90, font12);

    SetCellTempLimitBtn = makeButton(centralWidget, "SetCellTempLimitBtn", {530, 40, 71, 31}, arrow);
    SetDrvTempLimitBtn = makeButton(centralWidget, "SetDrvTempLimitBtn", {530, 140, 71, 31}, arrow);
    label_12 = makeLabel(centralWidget, "label_12", {460, 110, 161, 21}, font12);
    DrvTempLim = makeSpin(centralWidget,
                          "DrvTempLim",
                          {460, 140, 61, 31},
                          font12,
                          0,
                          Command::Limits::MaxTempLimitC,
                          60);
    label_13 = makeLabel(centralWidget, "label_13", {460, 200, 161, 21}, font12);
    SetPwrLimitBtn = makeButton(centralWidget, "SetPwrLimitBtn", {530, 230, 71, 31}, arrow);
    Linearity = makeSpin(centralWidget,
                         "Linearity",
                         {640, 230, 61, 31},
                         font12,
                         Command::Limits::MinLinearityPct,
                         Command::Limits::MaxLinearityPct,
                         10);
    Linearity->setKeyboardTracking(false);
    LinearityLabel = makeLabel(centralWidget, "LinearityLabel", {640, 200, 111, 21}, font12);
    LinearityLabel->setWordWrap(true);

    groupBox_9 = make<QGroupBox>(centralWidget, "groupBox_9", 620, 10, 131, 171);
    groupBox_9->setFont(pointFont(8));
    CalibrateBtnA = makeButton(groupBox_9, "CalibrateBtnA", {20, 20, 101, 31}, arrow);
    CalibrateBtnB = makeButton(groupBox_9, "CalibrateBtnB", {20, 50, 101, 31}, arrow);
    CalibrateBtnC = makeButton(groupBox_9, "CalibrateBtnC", {20, 80, 101, 31}, arrow);
    label_4 = make<QLabel>(groupBox_9, "label_4", 20, 120, 101, 41);
    label_4->setWordWrap(true);

    groupBox_3 = make<QGroupBox>(centralWidget, "groupBox_3", 10, 10, 261, 111);
    PAOnCB = make<QCheckBox>(groupBox_3, "PAOnCB", 10, 30, 71, 17);
    PAOnCB->setFont(font12);
    PAOnCB->setChecked(true);
    ResetBtn = makeButton(groupBox_3,
                          "ResetBtn",
                          {170, 20, 71, 31},
                          iconFromFile(":/images/OK.png"));
    ResetBtn->setEnabled(true);
    ResetBtn->setIconSize(QSize(25, 25));
    ResetBtn->setCheckable(false);
    ResetBtn->setChecked(false);
    noAutoDefault(ResetBtn);

    QFont powerFont;
    powerFont.setFamily(QStringLiteral("Arial"));
    powerFont.setPointSize(22);
    powerFont.setBold(true);
    powerFont.setWeight(75);
    CHAPout = makeValueDisplay(groupBox_3, "CHAPout", {10, 60, 71, 41}, powerFont);
    CHBPout = makeValueDisplay(groupBox_3, "CHBPout", {90, 60, 71, 41}, powerFont);
    CHCPout = makeValueDisplay(groupBox_3, "CHCPout", {170, 60, 71, 41}, powerFont);

    const QFont font16 = pointFont(16);
    groupBox_4 = make<QGroupBox>(centralWidget, "groupBox_4", 10, 200, 151, 71);
    TempAVal = makeValueDisplay(groupBox_4, "TempAVal", {10, 20, 61, 41}, font16);
    TempBVal = makeValueDisplay(groupBox_4, "TempBVal", {80, 20, 61, 41}, font16);
    groupBox_5 = make<QGroupBox>(centralWidget, "groupBox_5", 170, 200, 101, 71);
    DrvTemp = makeValueDisplay(groupBox_5, "DrvTemp", {20, 20, 61, 41}, font16);

    AdvancedBtn = makeButton(centralWidget, "AdvancedBtn", {370, 230, 81, 31}, arrow);
    noAutoDefault(AdvancedBtn);
    ClearBtn = makeButton(centralWidget, "ClearBtn", {650, 330, 81, 31}, arrow);
    noAutoDefault(ClearBtn);

    // The log panes sit below the window's fixed height, out of sight in both views.
    DebugOut = make<QPlainTextEdit>(centralWidget, "DebugOut", 20, 300, 141, 61);
    CommandOut = make<QPlainTextEdit>(centralWidget, "CommandOut", 180, 300, 141, 61);
    SerPortIn = make<QPlainTextEdit>(centralWidget, "SerPortIn", 340, 300, 301, 61);
    SerPortInHex = make<QPlainTextEdit>(centralWidget, "SerPortInHex", 20, 370, 1091, 61);
    // Should one ever hold the focus, Tab must leave it rather than insert a tab character.
    for (QPlainTextEdit *pane : {DebugOut, CommandOut, SerPortIn, SerPortInHex})
        pane->setTabChangesFocus(true);
    QFont hexFont;
    hexFont.setFamily(QStringLiteral("Courier"));
    hexFont.setPointSize(8);
    SerPortInHex->setFont(hexFont);

    window->setCentralWidget(centralWidget);
    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    // Dragged off its place, it would take height from the fixed form and clip it.
    mainToolBar->setMovable(false);
    mainToolBar->setFloatable(false);
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);
    // Named now, not only by retranslate: the window's height is fixed from the tool bar's.
    actionTrends = new QAction(tr("Trends"), window);
    actionTrends->setObjectName(QStringLiteral("actionTrends"));
    actionTrends->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    mainToolBar->addAction(actionTrends);
    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);
    AgentInfo = new QLabel(statusBar);
    AgentInfo->setObjectName(QStringLiteral("AgentInfo"));
    AgentInfo->setAccessibleName(tr("Agent role and control lease"));
    AgentInfo->setTextFormat(Qt::PlainText);
    statusBar->addPermanentWidget(AgentInfo);
    AgentInfo->hide();
    window->resize(StartWidth, windowHeight());

    auto *wheelGuard = new WheelGuard(window);
    for (QWidget *box : std::initializer_list<QWidget *>{
             GainA, GainB, GainC, Linearity, MaxPowerLim, CellTempLim, DrvTempLim})
        wheelGuard->guard(box);

    setTabOrder(window);
    // The value displays have nothing to select or type, and the log panes, editable as
    // they are, lie out of sight: the keyboard passes them all by. Set after the chain, as
    // Qt links no widget without focus into it.
    for (QWidget *passive : std::initializer_list<QWidget *>{CHAPout,
                                                             CHBPout,
                                                             CHCPout,
                                                             TempAVal,
                                                             TempBVal,
                                                             DrvTemp,
                                                             DebugOut,
                                                             CommandOut,
                                                             SerPortIn,
                                                             SerPortInHex}) {
        passive->setFocusPolicy(Qt::NoFocus);
    }
    retranslate(window);

    for (QPushButton *button : {SerialConnect,
                                SerialRefresh,
                                EthernetConnect,
                                AboutBtn,
                                SetCellTempLimitBtn,
                                SetDrvTempLimitBtn,
                                SetPwrLimitBtn,
                                CalibrateBtnA,
                                CalibrateBtnB,
                                CalibrateBtnC,
                                ResetBtn,
                                AdvancedBtn,
                                ClearBtn}) {
        button->setDefault(true);
    }

    QMetaObject::connectSlotsByName(window);
}

// What a screen reader says for each control and display: what it is and which channel.
// Where the visible text says it already (About, Advanced, Reset, RF On), that text is the
// name.
void MainWindowForm::nameForAssistiveTechnology()
{
    const QString channels[] = {tr("A"), tr("B"), tr("C")};
    QDoubleSpinBox *const gains[] = {GainA, GainB, GainC};
    QTextEdit *const powers[] = {CHAPout, CHBPout, CHCPout};
    QPushButton *const calibrations[] = {CalibrateBtnA, CalibrateBtnB, CalibrateBtnC};
    for (int i = 0; i < 3; ++i) {
        gains[i]->setAccessibleName(tr("Gain channel %1 (dB)").arg(channels[i]));
        powers[i]->setAccessibleName(tr("Output power channel %1 (W)").arg(channels[i]));
        calibrations[i]->setAccessibleName(tr("Calibrate channel %1").arg(channels[i]));
    }
    TempAVal->setAccessibleName(tr("Cell temperature 1 (\u00b0C)"));
    TempBVal->setAccessibleName(tr("Cell temperature 2 (\u00b0C)"));
    DrvTemp->setAccessibleName(tr("Driver temperature (\u00b0C)"));
    CellTempLim->setAccessibleName(tr("Maximum cell temperature (\u00b0C)"));
    DrvTempLim->setAccessibleName(tr("Maximum driver temperature (\u00b0C)"));
    MaxPowerLim->setAccessibleName(tr("Maximum driver power (W)"));
    SetCellTempLimitBtn->setAccessibleName(tr("Set maximum cell temperature"));
    SetDrvTempLimitBtn->setAccessibleName(tr("Set maximum driver temperature"));
    SetPwrLimitBtn->setAccessibleName(tr("Set maximum driver power"));
    Linearity->setAccessibleName(tr("Linearity (%)"));
    PAOnCB->setAccessibleName(tr("RF output on"));
    serialPortInfoListBox->setAccessibleName(tr("USB port"));
    SerialRefresh->setAccessibleName(tr("Refresh the USB ports"));
    // Their labels change between Connect and Disconnect; the description says which link.
    SerialConnect->setAccessibleDescription(tr("USB link"));
    EthernetConnect->setAccessibleDescription(tr("Ethernet link"));
    HostIP->setAccessibleName(tr("Amplifier IP address"));
    USBLED->setAccessibleName(tr("USB link lamp"));
    TCPLED->setAccessibleName(tr("Ethernet link lamp"));
    USBLED->setAccessibleDescription(tr("No link"));
    TCPLED->setAccessibleDescription(tr("No link"));
    ResetBtn->setAccessibleDescription(tr("No fault"));
    ClearBtn->setAccessibleName(tr("Clear the logs"));
    DebugOut->setAccessibleName(tr("Debug log"));
    CommandOut->setAccessibleName(tr("Command log"));
    SerPortIn->setAccessibleName(tr("Serial input log"));
    SerPortInHex->setAccessibleName(tr("Serial input log in hex"));
}

int MainWindowForm::windowHeight() const
{
    return mainToolBar->sizeHint().height() + CentralHeight + statusBar->sizeHint().height();
}

QList<QWidget *> MainWindowForm::focusChain() const
{
    return {GainA,
            GainB,
            GainC,
            CHAPout,
            MaxPowerLim,
            DrvTempLim,
            CHBPout,
            SerialConnect,
            AboutBtn,
            SetPwrLimitBtn,
            SetCellTempLimitBtn,
            CellTempLim,
            Linearity,
            SetDrvTempLimitBtn,
            HostIP,
            EthernetConnect,
            CHCPout,
            CalibrateBtnA,
            CalibrateBtnB,
            CalibrateBtnC,
            serialPortInfoListBox,
            ResetBtn,
            SerialRefresh,
            PAOnCB,
            TempAVal,
            TempBVal,
            DrvTemp,
            AdvancedBtn,
            ClearBtn,
            DebugOut,
            CommandOut,
            SerPortIn,
            SerPortInHex};
}

void MainWindowForm::setTabOrder(QMainWindow *window)
{
    const QList<QWidget *> chain = focusChain();
    for (int i = 0; i + 1 < chain.size(); ++i)
        window->setTabOrder(chain.at(i), chain.at(i + 1));
}

void MainWindowForm::retranslate(QMainWindow *window)
{
    window->setWindowTitle(tr("Korvane Amplifier"));
    groupBox->setTitle(tr("USB"));
    serialPortInfoListBox->setItemText(0, tr("USB Port"));
    SerialConnect->setText(tr("Connect"));
    USBLED->setText(QString());
    SerialRefresh->setText(tr("Refresh"));
    label_8->setText(tr("Max Cell Temp (C)"));
    groupBox_2->setTitle(tr("Ethernet"));
#if QT_CONFIG(tooltip)
    HostIP->setToolTip(tr("IP Address of Vexa"));
#endif
    HostIP->setInputMask(tr("###.###.###.###"));
    HostIP->setText(tr(DefaultHostAddress));
    EthernetConnect->setText(tr("Connect"));
    TCPLED->setText(QString());
    AboutBtn->setText(tr("About"));
    groupBox_8->setTitle(tr("Gain (dB)"));
    SetCellTempLimitBtn->setText(tr("Set"));
    SetDrvTempLimitBtn->setText(tr("Set"));
    label_12->setText(tr("Max Driver Temp (C)"));
    label_13->setText(tr("Max Driver Power (W)"));
    SetPwrLimitBtn->setText(tr("Set"));
    LinearityLabel->setText(tr("Linearity (%)"));
    groupBox_9->setTitle(tr("Power Calibration"));
    CalibrateBtnA->setText(tr("Calibrate CHA"));
    CalibrateBtnB->setText(tr("Calibrate CHB"));
    CalibrateBtnC->setText(tr("Calibrate CHC"));
    label_4->setText(tr("Set output power to +33dBm and press Calibrate"));
    groupBox_3->setTitle(tr("RF Output Power (W)"));
    PAOnCB->setText(tr("RF On"));
    ResetBtn->setText(tr("Reset"));
    CHAPout->setPlaceholderText(tr("-.-"));
    CHBPout->setPlaceholderText(tr("-.-"));
    CHCPout->setPlaceholderText(tr("-.-"));
    groupBox_4->setTitle(tr("Cell Temperature (C)"));
    TempAVal->setPlaceholderText(tr("---.-"));
    TempBVal->setPlaceholderText(tr("---.-"));
    groupBox_5->setTitle(tr("Driver Temp (C)"));
    DrvTemp->setPlaceholderText(tr("---.-"));
    AdvancedBtn->setText(tr("Advanced"));
    ClearBtn->setText(tr("Clear"));
    nameForAssistiveTechnology();
    DebugOut->setPlainText(tr("Debug Out"));
    CommandOut->setPlainText(tr("Command Output"));
    SerPortIn->setPlainText(tr("Serial port in"));
    SerPortInHex->setPlainText(tr("Serial port in"));
    actionTrends->setText(tr("Trends"));
    actionTrends->setToolTip(tr("Trends of the last hour (Ctrl+T)"));
}
