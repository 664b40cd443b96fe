#include "appstate.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "serialports.h"
#include "simprocess.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

// The serial port scan against simulated amplifiers on real pseudo-terminals.
class tst_Scan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listsOnlyMatchingPorts();
    void noPorts();
    void refreshStartsAfresh();

private:
    QString startSim(const QStringList &arguments);
    QStringList debugLines() const;
    QComboBox *portList() const;

    QList<std::shared_ptr<SimProcess>> m_sims;
    std::unique_ptr<MainWindow> m_window;
};

void tst_Scan::initTestCase()
{
    useScratchSettings();
}

void tst_Scan::init()
{
    App::resetState();
}

void tst_Scan::cleanup()
{
    m_window.reset();
    m_sims.clear();
    Platform::setSerialPortProvider({});
}

QString tst_Scan::startSim(const QStringList &arguments)
{
    auto sim = std::make_shared<SimProcess>();
    if (!sim->start(QStringList{QStringLiteral("--pty")} + arguments))
        qFatal("%s", qPrintable(sim->errorString()));
    m_sims.append(sim);
    return sim->ptyPath();
}

QStringList tst_Scan::debugLines() const
{
    auto *pane = m_window->findChild<QPlainTextEdit *>(QStringLiteral("DebugOut"));
    return pane->toPlainText().split(QLatin1Char('\n'));
}

QComboBox *tst_Scan::portList() const
{
    return m_window->findChild<QComboBox *>(QStringLiteral("serialPortInfoListBox"));
}

void tst_Scan::listsOnlyMatchingPorts()
{
    const QString amplifier = startSim({QStringLiteral("--model"), QStringLiteral("700136A")});
    const QString older = startSim({QStringLiteral("--model"), QStringLiteral("700115A")});
    const QString late = startSim({QStringLiteral("--delay"), QStringLiteral("400")});
    const QString silent = startSim({QStringLiteral("--mute-after"), QStringLiteral("0")});
    const QString wrongCase = startSim({});
    const QString gone = QStringLiteral("/dev/korvane-no-such-port");

    const QList<Platform::SerialPortEntry> ports = {
        {amplifier, QStringLiteral("USB Serial Device"), 0x483},
        {gone, QStringLiteral("USB Serial Device"), 0},
        {older, QStringLiteral("Orvane CCS USB to UART (COM7)"), 0},
        {late, QStringLiteral("USB Serial Device"), 0x1a},
        {silent, QStringLiteral("USB Serial Device"), 0},
        {wrongCase, QStringLiteral("usb serial device"), 0},
        {QStringLiteral("ttyS0"), QString(), 0},
    };
    Platform::setSerialPortProvider([ports] { return ports; });
    m_window = std::make_unique<MainWindow>();

    QCOMPARE(portList()->count(), 2);
    QCOMPARE(portList()->itemText(0), amplifier);
    QCOMPARE(portList()->itemData(0).toStringList(), (QStringList{amplifier, "483"}));
    QCOMPARE(portList()->itemText(1), older);
    QCOMPARE(portList()->itemData(1).toStringList(), (QStringList{older, "N/A"}));
    QCOMPARE(portList()->currentIndex(), 0);
    QVERIFY(portList()->itemIcon(0).isNull());

    const QStringList expected = {
        "Debug Out",
        amplifier + ": OK, Match: 700136A",
        gone + ": Error",
        older + ": OK, Match: 700115A",
        late + ": OK, NoMatch",
        silent + ": OK, NoMatch",
        wrongCase + ": Error",
        "ttyS0: Error",
    };
    QCOMPARE(debugLines(), expected);
    QCOMPARE(App::serialLinkUp, 0);
    // The probe leaves its last line in the buffer, seven line ends long.
    QCOMPARE(App::commandBuffer, QStringLiteral("?") + QStringLiteral("\r\n").repeated(7));
}

void tst_Scan::noPorts()
{
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    m_window = std::make_unique<MainWindow>();
    QCOMPARE(portList()->count(), 0);
    QCOMPARE(portList()->currentText(), QString());
    QCOMPARE(debugLines(), QStringList{"Debug Out"});
    // Connect with nothing to connect to changes nothing.
    auto *connectButton = m_window->findChild<QPushButton *>(QStringLiteral("SerialConnect"));
    connectButton->click();
    QCOMPARE(App::serialLinkUp, 0);
    QCOMPARE(connectButton->text(), QStringLiteral("Connect"));
}

void tst_Scan::refreshStartsAfresh()
{
    const QString first = startSim({});
    const QString second = startSim({QStringLiteral("--model"), QStringLiteral("700122A")});
    QList<Platform::SerialPortEntry> ports = {{first, QStringLiteral("USB Serial Device"), 0}};
    Platform::setSerialPortProvider([&ports] { return ports; });
    m_window = std::make_unique<MainWindow>();
    QCOMPARE(portList()->count(), 1);

    ports.prepend({second, QStringLiteral("USB Serial Device"), 0x2});
    m_window->findChild<QPushButton *>(QStringLiteral("SerialRefresh"))->click();
    QCOMPARE(portList()->count(), 2);
    QCOMPARE(portList()->itemText(0), second);
    QCOMPARE(portList()->currentIndex(), 0);
    QCOMPARE(debugLines().last(), first + ": OK, Match: 700136A");
    QCOMPARE(debugLines().size(), 4);
}

QTEST_MAIN(tst_Scan)
#include "tst_scan.moc"
