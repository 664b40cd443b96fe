#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QWidget>

// The main window's widgets at their fixed places. It owns nothing: the widgets are
// children of the window and go with it.
class MainWindowForm
{
public:
    // Shown in HostIP until the saved address replaces it, and the saved address when
    // none was ever stored.
    static constexpr char DefaultHostAddress[] = "192.168.100.200";
    static constexpr int SimpleWidth = 457;
    static constexpr int AdvancedWidth = 757;
    static constexpr int StartWidth = 458;
    // What the central widget must show: its lowest widgets in view (the temperature
    // groups) end at y 271, and below them the same 6 pixels the layout leaves at the right
    // of its rightmost widgets in either view (451 to 457, 751 to 757).
    static constexpr int CentralHeight = 277;

    void setup(QMainWindow *window);
    void retranslate(QMainWindow *window);
    // The window's fixed height: the central height and what this platform's tool bar and
    // status bar take above and below it.
    int windowHeight() const;
    // The widgets of the focus chain in their order, the operator's path through the form.
    QList<QWidget *> focusChain() const;

    QWidget *centralWidget = nullptr;
    QGroupBox *groupBox = nullptr;
    QComboBox *serialPortInfoListBox = nullptr;
    QPushButton *SerialConnect = nullptr;
    QLabel *USBLED = nullptr;
    QPushButton *SerialRefresh = nullptr;
    QDoubleSpinBox *MaxPowerLim = nullptr;
    QSpinBox *CellTempLim = nullptr;
    QLabel *label_8 = nullptr;
    QGroupBox *groupBox_2 = nullptr;
    QLineEdit *HostIP = nullptr;
    QPushButton *EthernetConnect = nullptr;
    QLabel *TCPLED = nullptr;
    QPushButton *AboutBtn = nullptr;
    QGroupBox *groupBox_8 = nullptr;
    QDoubleSpinBox *GainC = nullptr;
    QDoubleSpinBox *GainA = nullptr;
    QDoubleSpinBox *GainB = nullptr;
    QPushButton *SetCellTempLimitBtn = nullptr;
    QPushButton *SetDrvTempLimitBtn = nullptr;
    QLabel *label_12 = nullptr;
    QSpinBox *DrvTempLim = nullptr;
    QLabel *label_13 = nullptr;
    QPushButton *SetPwrLimitBtn = nullptr;
    QSpinBox *Linearity = nullptr;
    QLabel *LinearityLabel = nullptr;
    QGroupBox *groupBox_9 = nullptr;
    QPushButton *CalibrateBtnA = nullptr;
    QPushButton *CalibrateBtnB = nullptr;
    QPushButton *CalibrateBtnC = nullptr;
    QLabel *label_4 = nullptr;
    QGroupBox *groupBox_3 = nullptr;
    QCheckBox *PAOnCB = nullptr;
    QPushButton *ResetBtn = nullptr;
    QTextEdit *CHAPout = nullptr;
    QTextEdit *CHBPout = nullptr;
    QTextEdit *CHCPout = nullptr;
    QGroupBox *groupBox_4 = nullptr;
    QTextEdit *TempAVal = nullptr;
    QTextEdit *TempBVal = nullptr;
    QGroupBox *groupBox_5 = nullptr;
    QTextEdit *DrvTemp = nullptr;
    QPushButton *AdvancedBtn = nullptr;
    QPushButton *ClearBtn = nullptr;
    QPlainTextEdit *DebugOut = nullptr;
    QPlainTextEdit *CommandOut = nullptr;
    QPlainTextEdit *SerPortIn = nullptr;
    QPlainTextEdit *SerPortInHex = nullptr;
    QToolBar *mainToolBar = nullptr;
    QAction *actionTrends = nullptr;
    QStatusBar *statusBar = nullptr;
    // korvane-agent's word on this client's role and the control lease; hidden elsewhere.
    QLabel *AgentInfo = nullptr;

private:
    void setTabOrder(QMainWindow *window);
    void nameForAssistiveTechnology();
};
