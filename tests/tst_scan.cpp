#include "appstate.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "scriptedpty.h"
#include "serialports.h"
#include "simprocess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lays out a sysfs tree in which the tty `name` is served by `driver`, as Linux links it.
bool serveByDriver(const QString &sysfs, const QString &name, const QString &driver)
{
    const QString drivers = sysfs + QStringLiteral("/bus/usb/drivers/") + driver;
    const QString device = sysfs + QStringLiteral("/class/tty/") + name + QStringLiteral("/device");
    return QDir().mkpath(drivers) && QDir().mkpath(device)
           && QFile::link(drivers, device + QStringLiteral("/driver"));
}

} // namespace

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
    void portWithoutPermissionIsExplained();

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
    Platform::setSysfsRoot(QStringLiteral("/sys"));
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
    ScriptedPty silent;
    QVERIFY(silent.open());
    const QString wrongCase = startSim({});
    const QString gone = QStringLiteral("/dev/korvane-no-such-port");
    // Linux names a CDC-ACM amplifier by its product string; the driver marks it.
    const QString acm = startSim({QStringLiteral("--model"), QStringLiteral("700122A")});
    const QString ftdi = startSim({});
    QTemporaryDir sysfs;
    QVERIFY(serveByDriver(sysfs.path(), QFileInfo(acm).fileName(), QStringLiteral("cdc_acm")));
    QVERIFY(serveByDriver(sysfs.path(), QFileInfo(ftdi).fileName(), QStringLiteral("ftdi_sio")));
    Platform::setSysfsRoot(sysfs.path());

    const QList<Platform::SerialPortEntry> ports = {
        {amplifier, QStringLiteral("USB Serial Device"), 0xea60},
        {gone, QStringLiteral("USB Serial Device"), 0},
        {older, QStringLiteral("Orvane CCS USB to UART (COM7)"), 0},
        {late, QStringLiteral("USB Serial Device"), 0x1a},
        {silent.slavePath(), QStringLiteral("USB Serial Device"), 0},
        {wrongCase, QStringLiteral("usb serial device"), 0},
        {QStringLiteral("ttyS0"), QString(), 0},
        {acm, QStringLiteral("Korvane RF Amplifier"), 0x6015},
        {ftdi, QStringLiteral("FT232R USB UART"), 0x6001},
    };
    Platform::setSerialPortProvider([ports] { return ports; });
    m_window = std::make_unique<MainWindow>();

    QCOMPARE(portList()->count(), 3);
    QCOMPARE(portList()->itemText(0), amplifier);
    QCOMPARE(portList()->itemData(0).toStringList(), (QStringList{amplifier, "ea60"}));
    QCOMPARE(portList()->itemText(1), older);
    QCOMPARE(portList()->itemData(1).toStringList(), (QStringList{older, "N/A"}));
    QCOMPARE(portList()->itemData(2).toStringList(), (QStringList{acm, "6015"}));
    QCOMPARE(portList()->currentIndex(), 0);
    QVERIFY(portList()->itemIcon(0).isNull());

    const QStringList expected = {
        "Debug Out",
        amplifier + ": OK, Match: 700136A",
        gone + ": Error",
        older + ": OK, Match: 700115A",
        late + ": OK, NoMatch",
        silent.slavePath() + ": OK, NoMatch",
        wrongCase + ": Error",
        "ttyS0: Error",
        acm + ": OK, Match: 700122A",
        ftdi + ": Error",
    };
    QCOMPARE(debugLines(), expected);
    QCOMPARE(App::serialLinkUp, 0);
    // Seven separate sends, each one line end longer; the last stays in the buffer.
    QByteArray probeLines;
    for (int ends = 1; ends <= 7; ++ends)
        probeLines += "?" + QByteArray("\r\n").repeated(ends);
    QTRY_COMPARE(silent.received(), probeLines);
    QCOMPARE(App::commandBuffer, QStringLiteral("?") + QStringLiteral("\r\n").repeated(7));
    // The port that would not open is named where the operator looks.
    QVERIFY2(m_window->statusBar()->currentMessage().startsWith(
                 QStringLiteral("Cannot open %1: ").arg(gone)),
             qPrintable(m_window->statusBar()->currentMessage()));
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

void tst_Scan::portWithoutPermissionIsExplained()
{
    ScriptedPty device;
    QVERIFY(device.open());
    const QString path = device.slavePath();
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
    Platform::setSerialPortProvider([path] {
        return QList<Platform::SerialPortEntry>{{path, "USB Serial Device", 0}};
    });
    // Root opens any file: the scan runs as nobody for a moment, as an operator would.
    const bool asRoot = ::geteuid() == 0;
    QVERIFY(!asRoot || ::seteuid(65534) == 0);
    m_window = std::make_unique<MainWindow>();
    QVERIFY(!asRoot || ::seteuid(0) == 0);

    QCOMPARE(portList()->count(), 0);
    QCOMPARE(debugLines().last(), path + ": Error");
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Cannot open %1: your user must be in group %2")
                 .arg(path, QFileInfo(path).group()));

    // A scan that opens everything takes the explanation away.
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    m_window->findChild<QPushButton *>(QStringLiteral("SerialRefresh"))->click();
    QCOMPARE(m_window->statusBar()->currentMessage(), QString());
}

QTEST_MAIN(tst_Scan)
#include "tst_scan.moc"
