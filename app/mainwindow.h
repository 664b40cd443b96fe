#pragma once

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include "panelmodel.h"

class ConnectAttempt;
class DisplayLooks;
class MainWindowForm;
class PendingEdits;
class QAbstractSpinBox;
class QLabel;
class ReplyWatch;
class TrendRecorder;

// The panel's one window: it owns the links to the amplifier, the poll timer and the
// form, and its slots are the whole behaviour of the panel.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 100;
    // How often the settings are read back while a link is up, so that a change made
    // elsewhere (another client of an agent, a fault switching RF off) shows.
    static constexpr int StatusIntervalMs = 2000;
    // Reply bytes taken from a link in one go. A device that floods the link (broken, or
    // hostile) must not keep the window from its other events; the rest is read next.
    static constexpr qint64 MaxReadBytes = 16 * 1024;
    // Reply bytes a link may hold in the program before it stops reading from the system.
    static constexpr qint64 LinkReadBufferBytes = 64 * 1024;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens the Ethernet link to `host` (a name or an address) and `port`, as Connect does
    // for the address typed, but leaving the typed address alone. With `agent` the far end
    // is known to be korvane-agent: once it has identified the amplifier, the panel opts in
    // to the agent's own frames and shows its role and the control lease.
    void connectTo(const QString &host, quint16 port, bool agent = false);

private slots:
    void FindSerialPorts();
    void on_SerialRefresh_clicked();
    void SerialError(QSerialPort::SerialPortError error);
    void on_SerialConnect_clicked();
    void socketConnected();
    void socketDisconnected();
    void on_EthernetConnect_clicked();
    void ReadSerData();
    void SendPeriodicCmd();
    void SendCommand();
    void on_AboutBtn_clicked();
    void on_ResetBtn_clicked();
    void on_PAOnCB_clicked();
    void on_SetPwrLimitBtn_clicked();
    void on_SetCellTempLimitBtn_clicked();
    void on_SetDrvTempLimitBtn_clicked();
    void on_GainA_valueChanged(const QString &arg1);
    void on_Linearity_valueChanged(const QString &arg1);
    void on_GainB_valueChanged(const QString &arg1);
    void on_GainC_valueChanged(const QString &arg1);
    void on_CalibrateBtnA_clicked();
    void on_CalibrateBtnB_clicked();
    void on_CalibrateBtnC_clicked();
    void on_AdvancedBtn_clicked();
    void on_ClearBtn_clicked();

private:
    void send(const QString &command);
    // Sends a setting and reads the settings back; its control keeps its new value against
    // replies that left the amplifier before it, and a read-back that does not show it is
    // put into words.
    void sendSetting(Reply::StatusField field, const QString &command, double value);
    // Sends a limit's value, unless what the box holds is no value the amplifier takes.
    void sendLimit(QAbstractSpinBox *box, Reply::StatusField field, const QString &command);
    void askStatus();
    // One of korvane-agent's own lines, to the socket alone and only while it is known to
    // lead to the agent: to an amplifier they are junk.
    void sendToAgent(const QString &verb);
    void applyAgentFrame(const QByteArray &frame);
    // The agent's frames are longer than the amplifier's; only its link reads them so.
    void readAgentFrames(bool agent);
    void sendOperatorValue(QAbstractSpinBox *box);
    void revertToAmplifier(QAbstractSpinBox *box);
    void tellNotTaken(const PanelModel::Refusal &refusal);
    // The control of a setting; none for RF, whose box is no spin box.
    QAbstractSpinBox *settingBox(Reply::StatusField field) const;
    QByteArray probe();
    void closeSerialLink();
    void connectTcp();
    void showConnectFailure(const QString &address, const QString &reason);
    // The lamps, button labels, title and which controls take input, as the model has them.
    void render();
    void showLamp(QLabel *lamp, PanelModel::Link link);
    // korvane-agent's word on this client's role and the lease, while there is one.
    void showAgentInfo();
    void showOpenFailures(const QStringList &hints);
    void stopPollUnlessLinkUp();
    void startPoll();
    void applyFrame(const QByteArray &frame);
    void applyIdentification(const QByteArray &frame);
    void applyStatus(const QByteArray &frame);
    void applyMeasurement(const QByteArray &frame);
    void applyStatusCharacter(qint8 statusChar);
    // Puts a setting from a Status reply into its control, unless the operator's change
    // is pending there or the reply predates the control's last command.
    void takeSetting(QAbstractSpinBox *box, Reply::StatusField field, double value);
    void drawReadings();
    // A link went down, or no measurement reply came in time: the trends break their lines
    // and `why` goes to the status bar.
    void readingsLost(const QString &why);
    // The readings on show are no longer the amplifier's: they are greyed and say so.
    void showReadingsStale();
    void readingsSilent(const QDateTime &since);
    // A link came up, or went and left others: the watch of the replies follows.
    void linkUp();
    void linkDown(const QString &why);
    // The time of day as the status bar's lines give it, by default now's.
    static QString clockText(const QDateTime &time = QDateTime::currentDateTime());
    // A line for the operator in the status bar, kept in the log pane too.
    void tell(const QString &line);
    void updateKeyboardReach(int viewWidth);
    void setUpTrends();
    void openTrends();

    friend class tst_Links; // looks at the links' own state
    friend class tst_Panel; // sets the reply watch's time-out

    QTcpSocket m_socket;
    MainWindowForm *m_form = nullptr;
    QSerialPort *m_serial = nullptr;
    QTimer *m_pollTimer = nullptr;
    QTimer *m_statusTimer = nullptr;
    ReplyWatch *m_replyWatch = nullptr;
    PendingEdits *m_pending = nullptr;
    PanelModel *m_model = nullptr;
    DisplayLooks *m_looks = nullptr;
    // The lamp pictures on show, so that a picture is decoded only when it changes.
    PanelModel::Lamp m_lampShown[2] = {PanelModel::Lamp::Grey, PanelModel::Lamp::Grey};
    // The status character last put into words, to tell a fault and its clearing once.
    qint8 m_faultTold = '0';
    // Where the links go, as the operator chose them, for the messages.
    QString m_tcpAddress;
    // The same with its port always: "127.0.0.1:2101".
    QString m_tcpEndpoint;
    QString m_serialPortName;
    // The link being opened or open leads to korvane-agent, as --agent said; the panel has
    // sent it "@hello", and its frames are read at their own length.
    bool m_tcpAgent = false;
    bool m_agentHelloSent = false;
    bool m_agentFrames = false;
    QString m_silenceMessage;
    ConnectAttempt *m_connectAttempt = nullptr;
    TrendRecorder *m_trends = nullptr;
    // Made when first opened: until then neither it nor its plotting library is loaded.
    QWidget *m_trendWindow = nullptr;
    // Set by the Disconnect click until the socket has closed: from then on the poll
    // follows the links that are really up.
    bool m_tcpCloseRequested = false;
    // The status bar lines this window put up, so that it clears only its own.
    QString m_scanMessage;
    QString m_connectMessage;
    // Each control's own focus policy, given back when the view shows it again.
    QHash<QWidget *, Qt::FocusPolicy> m_focusPolicies;

    // The newest reading for each value display, drawn once when the bytes at hand are
    // handled: drawing is what costs, and only the last of a burst of readings shows.
    struct Reading
    {
        bool pending = false;
        // Shown, but no longer the amplifier's state.
        bool stale = true;
        double tenths = 0;
        int limit = 0;
        bool hasLimit = false;
    };
    // In the order of the table of readings (Reply::Readings).
    Reading m_readings[Reply::ReadingCount];
    bool m_readScheduled = false;
};
