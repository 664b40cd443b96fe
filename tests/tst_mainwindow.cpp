#include "appstate.h"
#include "findwidget.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "serialports.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include <memory>

// The window as the operator first meets it: size, views, controls and the kept address.
class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void slotTable();
    void viewToggle();
    void clearEmptiesOnlyLogPanes();
    void spinBoxes_data();
    void spinBoxes();
    void placeholders_data();
    void placeholders();
    void startState();
    void images_data();
    void images();
    void savedAddress_data();
    void savedAddress();
    void addressAtExitIsStored();
    void missingImagesChangeNothingElse();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return findWidget<T>(m_window.get(), name);
    }
    void newWindow();

    std::unique_ptr<MainWindow> m_window;
};

void tst_MainWindow::initTestCase()
{
    useScratchSettings();
    // No real serial ports: the start-up scan finds nothing.
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
}

void tst_MainWindow::init()
{
    QSettings s(QStringLiteral("Orvane, Inc."), QStringLiteral("KorvaneAmp"));
    s.clear();
    s.sync();
    newWindow();
}

void tst_MainWindow::cleanup()
{
    m_window.reset();
}

void tst_MainWindow::newWindow()
{
    m_window.reset();
    App::resetState();
    m_window = std::make_unique<MainWindow>();
}

void tst_MainWindow::slotTable()
{
    const QStringList expected = {
        "FindSerialPorts()",
        "on_SerialRefresh_clicked()",
        "SerialError(QSerialPort::SerialPortError)",
        "on_SerialConnect_clicked()",
        "socketConnected()",
        "socketDisconnected()",
        "on_EthernetConnect_clicked()",
        "ReadSerData()",
        "SendPeriodicCmd()",
        "SendCommand()",
        "on_AboutBtn_clicked()",
        "on_ResetBtn_clicked()",
        "on_PAOnCB_clicked()",
        "on_SetPwrLimitBtn_clicked()",
        "on_SetCellTempLimitBtn_clicked()",
        "on_SetDrvTempLimitBtn_clicked()",
        "on_GainA_valueChanged(QString)",
        "on_Linearity_valueChanged(QString)",
        "on_GainB_valueChanged(QString)",
        "on_GainC_valueChanged(QString)",
        "on_CalibrateBtnA_clicked()",
        "on_CalibrateBtnB_clicked()",
        "on_CalibrateBtnC_clicked()",
        "on_AdvancedBtn_clicked()",
        "on_ClearBtn_clicked()",
    };
    const QMetaObject *meta = m_window->metaObject();
    QCOMPARE(meta->className(), "MainWindow");
    QStringList signatures;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        signatures << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(signatures, expected);
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    QCOMPARE(meta->enumeratorCount(), meta->enumeratorOffset());
    QCOMPARE(meta->classInfoCount(), meta->classInfoOffset());
}

void tst_MainWindow::viewToggle()
{
    auto *view = widget<QPushButton>("AdvancedBtn");
    const QImage rightArrow = QIcon(":/images/Arrow.png").pixmap(16).toImage();
    const QImage leftArrow = QIcon(":/images/Arrow-Left.png").pixmap(16).toImage();
    QVERIFY(rightArrow != leftArrow);

    QCOMPARE(m_window->size(), QSize(458, 294));
    QCOMPARE(view->text(), QStringLiteral("Advanced"));

    view->click();
    QCOMPARE(m_window->size(), QSize(757, 294));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QCOMPARE(view->text(), QStringLiteral("Simple"));
    QCOMPARE(view->icon().pixmap(16).toImage(), leftArrow);

    view->click();
    QCOMPARE(m_window->size(), QSize(457, 294));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QCOMPARE(view->text(), QStringLiteral("Advanced"));
    QCOMPARE(view->icon().pixmap(16).toImage(), rightArrow);

    // Any text but "Advanced" counts as the wide view.
    view->setText(QStringLiteral("advanced"));
    view->click();
    QCOMPARE(m_window->width(), 457);
    QCOMPARE(view->text(), QStringLiteral("Advanced"));
}

void tst_MainWindow::clearEmptiesOnlyLogPanes()
{
    const char *const panes[] = {"DebugOut", "CommandOut", "SerPortIn", "SerPortInHex"};
    QCOMPARE(widget<QPlainTextEdit>("DebugOut")->toPlainText(), QStringLiteral("Debug Out"));
    QCOMPARE(widget<QPlainTextEdit>("CommandOut")->toPlainText(), QStringLiteral("Command Output"));
    QCOMPARE(widget<QPlainTextEdit>("SerPortIn")->toPlainText(), QStringLiteral("Serial port in"));
    QCOMPARE(widget<QPlainTextEdit>("SerPortInHex")->toPlainText(),
             QStringLiteral("Serial port in"));

    widget<QTextEdit>("CHAPout")->setPlainText(QStringLiteral("12.3"));
    widget<QDoubleSpinBox>("GainB")->setValue(3.5);
    widget<QComboBox>("serialPortInfoListBox")->addItem(QStringLiteral("ttyUSB0"));
    widget<QLineEdit>("HostIP")->setText(QStringLiteral("10.1.2.3"));

    for (int i = 0; i < 2; ++i) { // a second Clear on empty panes changes nothing
        widget<QPushButton>("ClearBtn")->click();
        for (const char *pane : panes)
            QVERIFY2(widget<QPlainTextEdit>(pane)->toPlainText().isEmpty(), pane);
    }
    QCOMPARE(widget<QTextEdit>("CHAPout")->toPlainText(), QStringLiteral("12.3"));
    QCOMPARE(widget<QDoubleSpinBox>("GainB")->value(), 3.5);
    QCOMPARE(widget<QComboBox>("serialPortInfoListBox")->count(), 1);
    QCOMPARE(widget<QLineEdit>("HostIP")->text(), QStringLiteral("10.1.2.3"));
}

void tst_MainWindow::spinBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("start");
    QTest::newRow("GainA") << "GainA" << 0.0 << 31.5 << 0.5 << 1 << 10.5;
    QTest::newRow("GainB") << "GainB" << 0.0 << 31.5 << 0.5 << 1 << 10.5;
    QTest::newRow("GainC") << "GainC" << 0.0 << 31.5 << 0.5 << 1 << 10.5;
    QTest::newRow("MaxPowerLim") << "MaxPowerLim" << 0.0 << 50.0 << 1.0 << 1 << 6.5;
    QTest::newRow("CellTempLim") << "CellTempLim" << 0.0 << 255.0 << 1.0 << 0 << 55.0;
    QTest::newRow("DrvTempLim") << "DrvTempLim" << 0.0 << 255.0 << 1.0 << 0 << 60.0;
    QTest::newRow("Linearity") << "Linearity" << 1.0 << 100.0 << 1.0 << 0 << 10.0;
}

void tst_MainWindow::spinBoxes()
{
    QFETCH(QString, name);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, step);
    QFETCH(int, decimals);
    QFETCH(double, start);
    auto *box = m_window->findChild<QAbstractSpinBox *>(name);
    QVERIFY(box);
    if (auto *real = qobject_cast<QDoubleSpinBox *>(box)) {
        QCOMPARE(real->minimum(), minimum);
        QCOMPARE(real->maximum(), maximum);
        QCOMPARE(real->singleStep(), step);
        QCOMPARE(real->decimals(), decimals);
        QCOMPARE(real->value(), start);
        real->setValue(maximum + 10);
        QCOMPARE(real->value(), maximum);
    } else {
        auto *whole = qobject_cast<QSpinBox *>(box);
        QVERIFY(whole);
        QCOMPARE(double(whole->minimum()), minimum);
        QCOMPARE(double(whole->maximum()), maximum);
        QCOMPARE(double(whole->singleStep()), step);
        QCOMPARE(0, decimals);
        QCOMPARE(double(whole->value()), start);
    }
}

void tst_MainWindow::placeholders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<int>("pointSize");
    QTest::newRow("CHAPout") << "CHAPout"
                             << "-.-" << 22;
    QTest::newRow("CHBPout") << "CHBPout"
                             << "-.-" << 22;
    QTest::newRow("CHCPout") << "CHCPout"
                             << "-.-" << 22;
    QTest::newRow("TempAVal") << "TempAVal"
                              << "---.-" << 16;
    QTest::newRow("TempBVal") << "TempBVal"
                              << "255.0" << 16;
    QTest::newRow("DrvTemp") << "DrvTemp"
                             << "---.-" << 16;
}

void tst_MainWindow::placeholders()
{
    QFETCH(QString, name);
    QFETCH(QString, placeholder);
    QFETCH(int, pointSize);
    auto *display = m_window->findChild<QTextEdit *>(name);
    QVERIFY(display);
    QVERIFY(display->toPlainText().isEmpty());
    QCOMPARE(display->placeholderText(), placeholder);
    QVERIFY(display->isReadOnly());
    QCOMPARE(display->textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(display->alignment(), Qt::AlignRight);
    QCOMPARE(display->font().pointSize(), pointSize);
}

void tst_MainWindow::startState()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Korvane Amplifier"));
    QVERIFY(widget<QCheckBox>("PAOnCB")->isChecked());
    QCOMPARE(widget<QLineEdit>("HostIP")->inputMask(), QStringLiteral("###.###.###.###"));
    QCOMPARE(widget<QLineEdit>("HostIP")->text(), QStringLiteral("192.168.100.200"));
    QCOMPARE(widget<QPushButton>("SerialConnect")->text(), QStringLiteral("Connect"));
    QCOMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Connect"));
    // The start-up scan found no port: the list is empty, with no placeholder left.
    QCOMPARE(widget<QComboBox>("serialPortInfoListBox")->count(), 0);
    QCOMPARE(widget<QPlainTextEdit>("DebugOut")->toPlainText(), QStringLiteral("Debug Out"));
    const QImage grey = QPixmap(":/images/LED_Grey.png").toImage();
    QCOMPARE(widget<QLabel>("USBLED")->pixmap(Qt::ReturnByValue).toImage(), grey);
    QCOMPARE(widget<QLabel>("TCPLED")->pixmap(Qt::ReturnByValue).toImage(), grey);
}

void tst_MainWindow::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("alpha");
    QTest::newRow("grey lamp") << "LED_Grey.png" << QSize(300, 300) << true;
    QTest::newRow("green lamp") << "LED_Green.png" << QSize(300, 300) << true;
    QTest::newRow("red lamp") << "LED_Red.png" << QSize(300, 300) << true;
    QTest::newRow("ok") << "OK.png" << QSize(256, 256) << true;
    QTest::newRow("error") << "Error.png" << QSize(512, 512) << true;
    QTest::newRow("arrow") << "Arrow.png" << QSize(527, 527) << true;
    QTest::newRow("arrow left") << "Arrow-Left.png" << QSize(527, 527) << true;
    QTest::newRow("help") << "HelpIcon.png" << QSize(527, 550) << false;
    QTest::newRow("window icon") << "Sine-Wave Inv.png" << QSize(80, 80) << false;
    QTest::newRow("logo") << "Logo.png" << QSize(566, 254) << true;
    QTest::newRow("lgpl badge") << "lgplv3-147x51.png" << QSize(147, 51) << true;
}

void tst_MainWindow::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, alpha);
    const QImage image(QStringLiteral(":/images/") + path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    if (alpha)
        QVERIFY(image.hasAlphaChannel());
    else
        QCOMPARE(image.format(), QImage::Format_Indexed8);
}

void tst_MainWindow::savedAddress_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("absent key") << false << QString() << "192.168.100.200";
    QTest::newRow("address") << true << "10.0.0.7"
                             << "10.0.0.7";
    QTest::newRow("loopback") << true << "127.0.0.1"
                              << "127.0.0.1";
    QTest::newRow("empty text") << true << ""
                                << "...";
    QTest::newRow("letters") << true << "amplifier"
                             << "...";
    QTest::newRow("overlong") << true << QString(300, QLatin1Char('9')) << "999.999.999.999";
}

void tst_MainWindow::savedAddress()
{
    QFETCH(bool, stored);
    QFETCH(QString, value);
    QFETCH(QString, shown);
    m_window.reset();
    {
        QSettings s(QStringLiteral("Orvane, Inc."), QStringLiteral("KorvaneAmp"));
        if (stored)
            s.setValue(QStringLiteral("SaveIPAddress"), value);
    }
    newWindow();
    QCOMPARE(widget<QLineEdit>("HostIP")->text(), shown);
    m_window.reset();
    QSettings s(QStringLiteral("Orvane, Inc."), QStringLiteral("KorvaneAmp"));
    QCOMPARE(s.value(QStringLiteral("SaveIPAddress")).toString(), shown);
}

void tst_MainWindow::addressAtExitIsStored()
{
    auto *host = widget<QLineEdit>("HostIP");
    host->selectAll();
    QTest::keyClicks(host, QStringLiteral("10.20.30.40"));
    QCOMPARE(host->text(), QStringLiteral("10.20.30.40"));
    m_window.reset();
    {
        QSettings s(QStringLiteral("Orvane, Inc."), QStringLiteral("KorvaneAmp"));
        QCOMPARE(s.value(QStringLiteral("SaveIPAddress")).toString(), QStringLiteral("10.20.30.40"));
    }
    newWindow();
    QCOMPARE(widget<QLineEdit>("HostIP")->text(), QStringLiteral("10.20.30.40"));
}

void tst_MainWindow::missingImagesChangeNothingElse()
{
    m_window.reset();
    Q_CLEANUP_RESOURCE(images);
    newWindow();
    Q_INIT_RESOURCE(images);
    QVERIFY(widget<QLabel>("USBLED")->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(widget<QPushButton>("ResetBtn")->icon().pixmap(25).isNull());
    QCOMPARE(m_window->size(), QSize(458, 294));
    QCOMPARE(widget<QPushButton>("ResetBtn")->text(), QStringLiteral("Reset"));
    widget<QPushButton>("AdvancedBtn")->click();
    QCOMPARE(m_window->size(), QSize(757, 294));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
