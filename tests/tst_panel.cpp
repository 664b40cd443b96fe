#include "appstate.h"
#include "connectedpanel.h"
#include "displaylooks.h"
#include "findwidget.h"
#include "mainwindow.h"
#include "replywatch.h"
#include "scratchsettings.h"
#include "scriptedpeer.h"
#include "serialports.h"
#include "waiting.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QScopeGuard>
#include <QTest>
#include <QTextEdit>
#include <QWheelEvent>

#include <cmath>
#include <ctime>
#include <functional>
#include <memory>

namespace {

template<int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

const QByteArray MeasExample = bytes("\0Meas, 0, 0253, 0248, 0301, 123, 118, 120\xff");
const QByteArray StatusExample = bytes("\0Status, 065, 055, 060, 1, 010, 021, 021, 021\xff");
const char RedStyle[] = "QTextEdit { background-color: red; color: black; }";
// Within its limit a temperature looks as a power does: as the palette has it.
const char LiveStyle[] = "";

QByteArray frame(const QByteArray &content)
{
    return '\0' + content + '\xff';
}

QImage imageOf(const QIcon &icon)
{
    return icon.pixmap(25).toImage();
}

double luminance(QRgb rgb)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb))
           + 0.0722 * channel(qBlue(rgb));
}

// The contrast ratio between a display's background (its commonest colour inside the
// frame) and its text (the colour farthest from it), as the readability guidelines have it.
double textContrast(QWidget *display)
{
    const QImage image = display->grab().toImage();
    QHash<QRgb, int> counts;
    const int margin = 3;
    for (int y = margin; y < image.height() - margin; ++y)
        for (int x = margin; x < image.width() - margin; ++x)
            ++counts[image.pixel(x, y) & RGB_MASK];
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(background))
            background = it.key();
    const double backgroundLuminance = luminance(background);
    double text = backgroundLuminance;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (qAbs(luminance(it.key()) - backgroundLuminance) > qAbs(text - backgroundLuminance))
            text = luminance(it.key());
    return (qMax(text, backgroundLuminance) + 0.05) / (qMin(text, backgroundLuminance) + 0.05);
}

} // namespace

// The panel talking to a scripted amplifier over loopback TCP: the commands its controls
// send, and what each reply does to the window.
class tst_Panel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandLines_data();
    void commandLines();
    void sendCommandRules();
    void frameInBursts();
    void measurementExample();
    void statusIsNotEchoed();
    void statusClampsGains();
    void identification_data();
    void identification();
    void nulMidFrame();
    void framesInOneBurstAppliedInOrder();
    void limitBoundary();
    void statusCharacter_data();
    void statusCharacter();
    void statusAfterModelChange();
    void shortMeasurementKeepsLaterDisplays();
    void keyboardWalk_data();
    void keyboardWalk();
    void settingsFollowTheAmplifier();
    void pendingEdits_data();
    void pendingEdits();
    void wheelNeedsFocus();
    void silenceMakesReadingsStale();
    void faultsInWords();
    void darkPalette();
    void linkLossMakesReadingsStale_data();
    void linkLossMakesReadingsStale();

private:
    template<typename T>
    T *widget(const char *name) const
    {
        return findWidget<T>(m_panel.window(), name);
    }
    QString text(const char *display) const { return widget<QTextEdit>(display)->toPlainText(); }
    QString style(const char *display) const { return widget<QTextEdit>(display)->styleSheet(); }
    QString staleStyle() const
    {
        return m_panel.window()->m_looks->styleSheet(DisplayLooks::Look::Stale);
    }
    // Sends the bytes and waits until the panel has had two poll ticks to read them.
    void deliver(const QByteArray &bytes);
    // Answers every "Status" the panel has asked for so far with `reply`, as the amplifier
    // would: replies come in the order asked.
    void answerStatus(const QByteArray &reply);
    QString statusMessage() const { return m_panel.window()->statusBar()->currentMessage(); }
    QList<QByteArray> settingLines() const;

    ConnectedPanel m_panel;
};

void tst_Panel::initTestCase()
{
    useScratchSettings();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
}

void tst_Panel::init()
{
    QVERIFY(m_panel.start());
    QCOMPARE(m_panel.peer()->lines().mid(0, 2), (QList<QByteArray>{"?", "Status"}));
    QTRY_COMPARE(widget<QPushButton>("EthernetConnect")->text(), QStringLiteral("Disconnect"));
    // The controls take input once the amplifier has said who it is and its settings are read.
    QVERIFY(!widget<QDoubleSpinBox>("GainA")->isEnabled());
    deliver(frame("?\r\n700122A"));
    QVERIFY(!widget<QDoubleSpinBox>("GainA")->isEnabled());
    answerStatus(StatusExample);
    QVERIFY(widget<QDoubleSpinBox>("GainA")->isEnabled());
    m_panel.peer()->clearReceived();
}

void tst_Panel::cleanup()
{
    m_panel.stop();
}

void tst_Panel::deliver(const QByteArray &bytes)
{
    m_panel.peer()->send(bytes);
    QVERIFY(m_panel.peer()->waitForPolls(2));
}

void tst_Panel::answerStatus(const QByteArray &reply)
{
    // None outstanding: the panel's periodic read-back is due.
    if (m_panel.window()->m_model->statusesOutstanding() == 0)
        m_panel.window()->askStatus();
    QByteArray replies;
    for (int i = m_panel.window()->m_model->statusesOutstanding(); i > 0; --i)
        replies += reply;
    deliver(replies);
}

QList<QByteArray> tst_Panel::settingLines() const
{
    QList<QByteArray> lines = m_panel.peer()->lines();
    lines.removeAll("Meas");
    lines.removeAll("Status");
    lines.removeAll("?");
    return lines;
}

void tst_Panel::commandLines_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("gain A 11 dB") << "GainA" << 11.0 << "" << QByteArray("SetGain 0 22");
    QTest::newRow("gain B 0 dB") << "GainB" << 0.0 << "" << QByteArray("SetGain 1 0");
    QTest::newRow("gain C at top") << "GainC" << 31.5 << "" << QByteArray("SetGain 2 63");
    QTest::newRow("linearity") << "Linearity" << 42.0 << "" << QByteArray("SetLin 42");
    QTest::newRow("power limit at top")
        << "MaxPowerLim" << 50.0 << "SetPwrLimitBtn" << QByteArray("SetMaxP 500");
    QTest::newRow("power limit as it starts")
        << "MaxPowerLim" << 6.5 << "SetPwrLimitBtn" << QByteArray("SetMaxP 65");
    QTest::newRow("cell limit") << "CellTempLim" << 55.0 << "SetCellTempLimitBtn"
                                << QByteArray("SetMaxCellT 55");
    QTest::newRow("driver limit") << "DrvTempLim" << 200.0 << "SetDrvTempLimitBtn"
                                  << QByteArray("SetMaxDrvT 200");
    QTest::newRow("calibrate A") << "" << 0.0 << "CalibrateBtnA" << QByteArray("Calibrate 0");
    QTest::newRow("calibrate B") << "" << 0.0 << "CalibrateBtnB" << QByteArray("Calibrate 1");
    QTest::newRow("calibrate C") << "" << 0.0 << "CalibrateBtnC" << QByteArray("Calibrate 2");
    QTest::newRow("reset") << "" << 0.0 << "ResetBtn" << QByteArray("Reset");
}

void tst_Panel::commandLines()
{
    QFETCH(QString, control);
    QFETCH(double, value);
    QFETCH(QString, button);
    QFETCH(QByteArray, line);
    if (auto *real = m_panel.window()->findChild<QDoubleSpinBox *>(control))
        real->setValue(value);
    else if (auto *whole = m_panel.window()->findChild<QSpinBox *>(control))
        whole->setValue(int(value));
    if (!button.isEmpty())
        m_panel.window()->findChild<QPushButton *>(button)->click();
    QVERIFY(m_panel.peer()->waitForLine(line));
    // Each is read back at once, so that the controls show what the amplifier made of it.
    QVERIFY(m_panel.peer()->waitForLine("Status", 2));
    QVERIFY(m_panel.peer()->received().contains(line + "\r\nStatus\r\n"));
    QCOMPARE(m_panel.peer()->count(line), 1);
}

void tst_Panel::sendCommandRules()
{
    // A click on the RF box sends its new state and makes the next reading redraw the status.
    deliver(MeasExample);
    QCOMPARE(App::lastStatusCode, int('0'));
    widget<QCheckBox>("PAOnCB")->click();
    QVERIFY(m_panel.peer()->waitForLine("SetRF 0"));
    QCOMPARE(App::lastStatusCode, App::StatusRedraw);
    QVERIFY(!widget<QCheckBox>("PAOnCB")->isChecked());
    deliver(MeasExample);
    QVERIFY(widget<QCheckBox>("PAOnCB")->isChecked());

    // The buffer keeps its line end: a second send repeats the line with one more.
    m_panel.peer()->clearReceived();
    App::commandBuffer = QStringLiteral("Status");
    QMetaObject::invokeMethod(m_panel.window(), "SendCommand");
    QMetaObject::invokeMethod(m_panel.window(), "SendCommand");
    QCOMPARE(App::commandBuffer, QStringLiteral("Status\r\n\r\n"));
    QVERIFY(m_panel.peer()->waitForLine("Status", 2));
    QVERIFY(m_panel.peer()->received().contains("Status\r\nStatus\r\n\r\n"));

    // A swallowed send writes nothing, appends nothing and clears the flag.
    App::swallowNextCommand = 1;
    App::commandBuffer = QStringLiteral("Reset");
    QMetaObject::invokeMethod(m_panel.window(), "SendCommand");
    QCOMPARE(App::commandBuffer, QStringLiteral("Reset"));
    QCOMPARE(App::swallowNextCommand, 0);
    QVERIFY(m_panel.peer()->waitForPolls(2));
    QCOMPARE(m_panel.peer()->count("Reset"), 0);
}

void tst_Panel::frameInBursts()
{
    deliver(MeasExample.left(9));
    deliver(MeasExample.mid(9, 20));
    QVERIFY(text("TempAVal").isEmpty());
    QVERIFY(text("CHCPout").isEmpty());
    deliver(MeasExample.mid(29));
    QCOMPARE(text("TempAVal"), QStringLiteral("25.3"));
    QCOMPARE(text("CHCPout"), QStringLiteral("12.0"));
}

void tst_Panel::measurementExample()
{
    deliver(frame("Status, 065, 025, 060, 1, 010, 021, 021, 021"));
    widget<QCheckBox>("PAOnCB")->setChecked(false);
    App::lastStatusCode = '1';
    deliver(MeasExample);
    const QStringList shown = {text("TempAVal"),
                               text("TempBVal"),
                               text("DrvTemp"),
                               text("CHAPout"),
                               text("CHBPout"),
                               text("CHCPout")};
    QCOMPARE(shown, (QStringList{"25.3", "24.8", "30.1", "12.3", "11.8", "12.0"}));
    QCOMPARE(style("TempAVal"), QLatin1String(RedStyle));
    QCOMPARE(style("TempBVal"), QLatin1String(LiveStyle));
    QCOMPARE(style("DrvTemp"), QLatin1String(LiveStyle));
    QVERIFY(style("CHAPout").isEmpty()); // powers are never coloured
    QCOMPARE(imageOf(widget<QPushButton>("ResetBtn")->icon()), imageOf(QIcon(":/images/OK.png")));
    QVERIFY(widget<QCheckBox>("PAOnCB")->isChecked());
    QCOMPARE(widget<QTextEdit>("TempAVal")->alignment(), Qt::AlignRight);
}

void tst_Panel::statusIsNotEchoed()
{
    // Against a fresh window the example changes nothing and forms no command.
    deliver(StatusExample);
    QCOMPARE(App::commandBuffer, QStringLiteral("Meas\r\n"));

    // Changed values are taken over without being sent back.
    deliver(frame("Status, 123, 070, 080, 0, 055, 001, 030, 063"));
    QCOMPARE(widget<QDoubleSpinBox>("MaxPowerLim")->value(), 12.3);
    QCOMPARE(widget<QSpinBox>("CellTempLim")->value(), 70);
    QCOMPARE(widget<QSpinBox>("DrvTempLim")->value(), 80);
    QVERIFY(!widget<QCheckBox>("PAOnCB")->isChecked());
    QCOMPARE(widget<QSpinBox>("Linearity")->value(), 55);
    QCOMPARE(widget<QDoubleSpinBox>("GainA")->value(), 0.5);
    QCOMPARE(widget<QDoubleSpinBox>("GainB")->value(), 15.0);
    QCOMPARE(widget<QDoubleSpinBox>("GainC")->value(), 31.5);
    QCOMPARE(App::swallowNextCommand, 0);
    QVERIFY(m_panel.peer()->waitForPolls(2));
    for (const QByteArray &line : m_panel.peer()->lines())
        QVERIFY2(!line.startsWith("Set"), line.constData());

    // The operator's own change after that is sent as usual.
    widget<QDoubleSpinBox>("GainA")->setValue(1.0);
    QVERIFY(m_panel.peer()->waitForLine("SetGain 0 2"));
}

void tst_Panel::statusClampsGains()
{
    deliver(frame("Status, 999, 300, 999, 1, 000, 063, 070, 021"));
    QCOMPARE(widget<QDoubleSpinBox>("MaxPowerLim")->value(), 50.0);
    QCOMPARE(widget<QSpinBox>("CellTempLim")->value(), 255);
    QCOMPARE(widget<QSpinBox>("DrvTempLim")->value(), 255);
    QCOMPARE(widget<QSpinBox>("Linearity")->value(), 1);
    QCOMPARE(widget<QDoubleSpinBox>("GainA")->value(), 31.5);
    QCOMPARE(widget<QDoubleSpinBox>("GainB")->value(), 31.5);
    // Text that is not a plain number is 0, never a spin box's maximum.
    deliver(frame("Status, nan, inf, 9e9, 1, 0x1, 12a, -1, 021"));
    QCOMPARE(widget<QDoubleSpinBox>("MaxPowerLim")->value(), 0.0);
    QCOMPARE(widget<QSpinBox>("CellTempLim")->value(), 0);
    QCOMPARE(widget<QSpinBox>("DrvTempLim")->value(), 0);
    QCOMPARE(widget<QSpinBox>("Linearity")->value(), 1);
    QCOMPARE(widget<QDoubleSpinBox>("GainA")->value(), 0.0);
    QCOMPARE(widget<QDoubleSpinBox>("GainB")->value(), 0.0);
    deliver(frame("Meas, 0, 9e99, -100, inf, nan, 1e3, 099"));
    QCOMPARE(text("TempAVal"), QStringLiteral("0.0"));
    QCOMPARE(text("TempBVal"), QStringLiteral("-10.0"));
    QCOMPARE(text("CHCPout"), QStringLiteral("9.9"));
    QVERIFY(m_panel.peer()->waitForPolls(2));
    for (const QByteArray &line : m_panel.peer()->lines())
        QVERIFY2(!line.startsWith("SetGain"), line.constData());
}

void tst_Panel::identification_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("linearity");
    // The model text ends at the frame's end, a NUL, CR or LF, within 16 bytes.
    QTest::newRow("700136A") << frame("?\r\n700136A") << "Korvane Amplifier 700136A" << false;
    QTest::newRow("700122A") << frame("?\r\n700122A") << "Korvane Amplifier 700122A" << true;
    QTest::newRow("? with Meas") << frame("Meas?\r700115A, 0, 0253") << "Korvane Amplifier s?"
                                 << true;
    QTest::newRow("line end after model")
        << frame("?\r\n700136A\r\nrev 2") << "Korvane Amplifier 700136A" << false;
    QTest::newRow("16 bytes at most")
        << frame("?\r\n700122A-0123456789") << "Korvane Amplifier 700122A-01234567" << true;
    QTest::newRow("invalid UTF-8")
        << frame("?\r\n7001\xe9") << QString("Korvane Amplifier 7001") + QChar(0xfffd) << true;
    // Only "700136" at offsets 3 to 8 hides Linearity; another model shows it again.
    QTest::newRow("700136 elsewhere")
        << frame("?\r\nX700136") << "Korvane Amplifier X700136" << true;
    QTest::newRow("700135A") << frame("?\r\n700135A") << "Korvane Amplifier 700135A" << true;
    QTest::newRow("700136A then 700122A")
        << frame("?\r\n700136A") + frame("?\r\n700122A") << "Korvane Amplifier 700122A" << true;
}

void tst_Panel::identification()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, title);
    QFETCH(bool, linearity);
    deliver(bytes);
    QCOMPARE(m_panel.window()->windowTitle(), title);
    QCOMPARE(widget<QSpinBox>("Linearity")->isVisible(), linearity);
    QCOMPARE(widget<QLabel>("LinearityLabel")->isVisible(), linearity);
    QCOMPARE(widget<QLabel>("TCPLED")->pixmap(Qt::ReturnByValue).toImage(),
             QPixmap(":/images/LED_Green.png").toImage());
    QVERIFY(text("TempAVal").isEmpty()); // "?" wins over "Meas"
}

void tst_Panel::nulMidFrame()
{
    deliver(QByteArray("\0Meas, 0, 0999, 09", 18) + MeasExample);
    QCOMPARE(text("TempAVal"), QStringLiteral("25.3"));
}

void tst_Panel::framesInOneBurstAppliedInOrder()
{
    QByteArray burst = frame("?\r\n700122A")
                       + frame("Status, 065, 055, 060, 1, 010, 004, 021, 021");
    burst += frame("Meas, 0, 0100, 0100, 0100, 001, 001, 001") + MeasExample;
    m_panel.peer()->send(burst);
    // All four are applied at once, the last reading winning.
    QTRY_COMPARE(text("TempAVal"), QStringLiteral("25.3"));
    QCOMPARE(text("CHAPout"), QStringLiteral("12.3"));
    QCOMPARE(widget<QDoubleSpinBox>("GainA")->value(), 2.0);
    QVERIFY(
        m_panel.window()->windowTitle().startsWith(QStringLiteral("Korvane Amplifier 700122A")));

    // A flood: each frame is handled, but a display is drawn once for the bytes at hand,
    // not once a frame; drawing is what would freeze the window.
    QSignalSpy draws(widget<QTextEdit>("CHAPout"), &QTextEdit::textChanged);
    QVERIFY(draws.isValid());
    QByteArray flood;
    const int frames = 200;
    for (int i = 1; i <= frames; ++i)
        flood += frame(QStringLiteral("Meas, 1, 0100, 0100, 0100, %1, 001, 001")
                           .arg(i, 3, 10, QLatin1Char('0'))
                           .toLatin1());
    m_panel.peer()->send(flood + frame("Meas, 0, 0100, 0100, 0100, 456, 001, 001"));
    QTRY_COMPARE(text("CHAPout"), QStringLiteral("45.6"));
    QVERIFY2(draws.count() < frames / 10, qPrintable(QString::number(draws.count())));
    // The status character of a frame in the middle still took effect.
    QCOMPARE(App::lastStatusCode, int('0'));
}

void tst_Panel::limitBoundary()
{
    deliver(frame("Meas, 0, 0550, 0551, 0600, 000, 000, 000"));
    QCOMPARE(style("TempAVal"), QLatin1String(LiveStyle));
    QCOMPARE(style("TempBVal"), QLatin1String(RedStyle));
    QCOMPARE(style("DrvTemp"), QLatin1String(LiveStyle));
    deliver(frame("Meas, 0, 0551, 0550, 0601, 000, 000, 000"));
    QCOMPARE(style("TempAVal"), QLatin1String(RedStyle));
    QCOMPARE(style("TempBVal"), QLatin1String(LiveStyle));
    QCOMPARE(style("DrvTemp"), QLatin1String(RedStyle));
    // The limit in force is the amplifier's when the reading arrives: one typed but not
    // yet set is not.
    widget<QSpinBox>("DrvTempLim")->setValue(61);
    deliver(frame("Meas, 0, 0551, 0550, 0601, 000, 000, 000"));
    QCOMPARE(style("DrvTemp"), QLatin1String(RedStyle));
    widget<QPushButton>("SetDrvTempLimitBtn")->click();
    QVERIFY(m_panel.peer()->waitForLine("SetMaxDrvT 61"));
    answerStatus(frame("Status, 065, 055, 061, 1, 010, 021, 021, 021"));
    deliver(frame("Meas, 0, 0551, 0550, 0601, 000, 000, 000"));
    QCOMPARE(style("DrvTemp"), QLatin1String(LiveStyle));
}

void tst_Panel::statusCharacter_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<bool>("faultCheckable");
    QTest::addColumn<bool>("faultChecked");
    QTest::newRow("700136A unticks the box") << QByteArray("700136A") << true << false;
    QTest::newRow("700115A makes it untickable") << QByteArray("700115A") << false << false;
}

void tst_Panel::statusAfterModelChange()
{
    // A 700115 with a fault leaves the box untickable; once another model identifies,
    // its next "0" makes the box tickable again and ticks it.
    auto *rf = widget<QCheckBox>("PAOnCB");
    deliver(frame("?\r\n700115A"));
    deliver(frame("Meas, 1, 0250, 0250, 0250, 000, 000, 000"));
    QVERIFY(!rf->isCheckable());
    deliver(frame("?\r\n700122A"));
    deliver(frame("Meas, 0, 0250, 0250, 0250, 000, 000, 000"));
    QVERIFY(rf->isCheckable());
    QVERIFY(rf->isChecked());
    rf->click();
    QVERIFY(m_panel.peer()->waitForLine("SetRF 0"));
    rf->click();
    QVERIFY(m_panel.peer()->waitForLine("SetRF 1"));
}

void tst_Panel::statusCharacter()
{
    QFETCH(QByteArray, model);
    QFETCH(bool, faultCheckable);
    QFETCH(bool, faultChecked);
    auto *rf = widget<QCheckBox>("PAOnCB");
    auto *reset = widget<QPushButton>("ResetBtn");
    deliver(frame("?\r\n" + model));

    deliver(frame("Meas, 1, 0250, 0250, 0250, 000, 000, 000"));
    QCOMPARE(imageOf(reset->icon()), imageOf(QIcon(":/images/Error.png")));
    QCOMPARE(rf->isCheckable(), faultCheckable);
    QCOMPARE(rf->isChecked(), faultChecked);

    // The same character again leaves the operator's own choice alone.
    rf->setCheckable(true);
    rf->setChecked(true);
    deliver(frame("Meas, 1, 0250, 0250, 0250, 000, 000, 000"));
    QVERIFY(rf->isChecked());

    // Until a Reset forces a redraw.
    reset->click();
    QVERIFY(m_panel.peer()->waitForLine("Reset"));
    deliver(frame("Meas, 1, 0250, 0250, 0250, 000, 000, 000"));
    QCOMPARE(rf->isChecked(), faultChecked);

    deliver(frame("Meas, 0, 0250, 0250, 0250, 000, 000, 000"));
    QCOMPARE(imageOf(reset->icon()), imageOf(QIcon(":/images/OK.png")));
    QVERIFY(rf->isCheckable());
    if (model.startsWith("700115"))
        QVERIFY(!rf->isChecked()); // tickable again, but not ticked for the operator
    else
        QVERIFY(rf->isChecked());
}

void tst_Panel::shortMeasurementKeepsLaterDisplays()
{
    deliver(MeasExample);
    deliver(frame("Meas, 0, 0300, 0301"));
    QCOMPARE(text("TempAVal"), QStringLiteral("30.0"));
    QCOMPARE(text("TempBVal"), QStringLiteral("30.1"));
    QCOMPARE(text("DrvTemp"), QStringLiteral("30.1"));
    QCOMPARE(text("CHAPout"), QStringLiteral("12.3"));
    deliver(frame("Meas,"));
    deliver(frame("Status, 100"));
    QCOMPARE(widget<QDoubleSpinBox>("MaxPowerLim")->value(), 10.0);
    QCOMPARE(widget<QSpinBox>("CellTempLim")->value(), 55);
    QCOMPARE(App::swallowNextCommand, 0);
}

void tst_Panel::keyboardWalk_data()
{
    QTest::addColumn<bool>("advanced");
    QTest::addColumn<QStringList>("chain");
    QTest::addColumn<QList<QByteArray>>("lines");
    const QList<QByteArray> gains = {"SetGain 0 22",
                                     "SetGain 0 21",
                                     "SetGain 1 22",
                                     "SetGain 1 21",
                                     "SetGain 2 22",
                                     "SetGain 2 21"};
    QTest::newRow("simple") << false
                            << QStringList{"GainA",
                                           "GainB",
                                           "GainC",
                                           "SerialConnect",
                                           "AboutBtn",
                                           "HostIP",
                                           "EthernetConnect",
                                           "serialPortInfoListBox",
                                           "ResetBtn",
                                           "SerialRefresh",
                                           "PAOnCB",
                                           "AdvancedBtn"}
                            << gains + QList<QByteArray>{"Reset", "SetRF 0"};
    QTest::newRow("advanced")
        << true << QStringList{"GainA",         "GainB",           "GainC",
                               "MaxPowerLim",   "DrvTempLim",      "SerialConnect",
                               "AboutBtn",      "SetPwrLimitBtn",  "SetCellTempLimitBtn",
                               "CellTempLim",   "Linearity",       "SetDrvTempLimitBtn",
                               "HostIP",        "EthernetConnect", "CalibrateBtnA",
                               "CalibrateBtnB", "CalibrateBtnC",   "serialPortInfoListBox",
                               "ResetBtn",      "SerialRefresh",   "PAOnCB",
                               "AdvancedBtn"}
        << gains
               + QList<QByteArray>{"SetMaxP 65",
                                   "SetMaxCellT 55",
                                   "SetLin 11",
                                   "SetLin 10",
                                   "SetMaxDrvT 60",
                                   "Calibrate 0",
                                   "Calibrate 1",
                                   "Calibrate 2",
                                   "Reset",
                                   "SetRF 0"};
}

// Tab visits the controls in view, in the form's order, and comes round to the first;
// Up and Down step a spin box or move the focus back and forth; Space presses a button.
void tst_Panel::keyboardWalk()
{
    QFETCH(bool, advanced);
    QFETCH(QStringList, chain);
    QFETCH(QList<QByteArray>, lines);
    if (advanced)
        widget<QPushButton>("AdvancedBtn")->click();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.window()));
    m_panel.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.window()));
    widget<QWidget>(chain.first().toLatin1())->setFocus(Qt::TabFocusReason);
    m_panel.peer()->clearReceived();
    auto focusName = [] {
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
    };
    // Space only where it neither changes a link or the view nor opens a window.
    const QStringList pressed = {"ResetBtn",
                                 "PAOnCB",
                                 "SetPwrLimitBtn",
                                 "SetCellTempLimitBtn",
                                 "SetDrvTempLimitBtn",
                                 "CalibrateBtnA",
                                 "CalibrateBtnB",
                                 "CalibrateBtnC"};
    for (const QString &name : chain) {
        QTRY_COMPARE(focusName(), name);
        QWidget *control = QApplication::focusWidget();
        QTest::keyClick(control, Qt::Key_Up);
        QTest::keyClick(control, Qt::Key_Down);
        QTRY_COMPARE(focusName(), name);
        if (pressed.contains(name))
            QTest::keyClick(control, Qt::Key_Space);
        QTest::keyClick(control, Qt::Key_Tab);
    }
    QTRY_COMPARE(focusName(), chain.first());
    // And back the other way.
    for (int i = chain.size() - 1; i >= 0; --i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_COMPARE(focusName(), chain.at(i));
    }

    QVERIFY(m_panel.peer()->waitForLine(lines.last()));
    QVERIFY(m_panel.peer()->waitForPolls(2));
    QCOMPARE(settingLines(), lines);
}

// A change made elsewhere (here: another client of an agent) shows within one read-back,
// and the next step starts from it.
void tst_Panel::settingsFollowTheAmplifier()
{
    QVERIFY(waitUntil(
        m_panel.peer(),
        &ScriptedPeer::bytesReceived,
        [this] { return m_panel.peer()->count("Status") >= 2; },
        30000));
    answerStatus(frame("Status, 065, 055, 060, 1, 010, 021, 040, 021"));
    auto *gainB = widget<QDoubleSpinBox>("GainB");
    QCOMPARE(gainB->value(), 20.0);
    QVERIFY(settingLines().isEmpty());

    // A reply that left the amplifier before the step shows the value from before it: the
    // step is taken while the next periodic read-back is under way.
    const int asked = m_panel.peer()->count("Status");
    QVERIFY(waitUntil(
        m_panel.peer(),
        &ScriptedPeer::bytesReceived,
        [&] { return m_panel.peer()->count("Status") > asked; },
        30000));
    // Every 2 s is about every twentieth poll, whatever the machine's load does to both.
    const QList<QByteArray> lines = m_panel.peer()->lines();
    const int last = lines.lastIndexOf("Status");
    const int before = lines.lastIndexOf("Status", last - 1);
    QVERIFY(before >= 0);
    QVERIFY2(lines.mid(before, last - before).count("Meas") <= 30,
             qPrintable(QString::number(lines.mid(before, last - before).count("Meas"))));
    QTest::keyClick(gainB, Qt::Key_Up);
    QVERIFY(m_panel.peer()->waitForLine("SetGain 1 41"));
    deliver(frame("Status, 065, 055, 060, 1, 010, 021, 040, 021"));
    QCOMPARE(gainB->value(), 20.5);
    answerStatus(frame("Status, 065, 055, 060, 1, 010, 021, 041, 021"));
    QCOMPARE(gainB->value(), 20.5);
    QCOMPARE(settingLines(), QList<QByteArray>{"SetGain 1 41"});
    QVERIFY(!statusMessage().contains(QLatin1String("not taken")));

    // A step the amplifier did not take is said, with the value it kept, and the box shows it.
    QTest::keyClick(gainB, Qt::Key_Up);
    QVERIFY(m_panel.peer()->waitForLine("SetGain 1 42"));
    answerStatus(frame("Status, 065, 055, 060, 1, 010, 021, 041, 021"));
    const QString notTaken = QStringLiteral(
        "Gain channel B not taken: the amplifier still reports 20.5 dB");
    QCOMPARE(statusMessage(), notTaken);
    QVERIFY(widget<QPlainTextEdit>("DebugOut")->toPlainText().endsWith(notTaken));
    QCOMPARE(gainB->value(), 20.5);
}

void tst_Panel::pendingEdits_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("replyMeanwhile");
    QTest::addColumn<QString>("finish");
    QTest::addColumn<double>("value");
    QTest::addColumn<QList<QByteArray>>("lines");
    // A text the amplifier would not take stays as typed, and the status bar says why.
    QTest::addColumn<QString>("told");
    const QString gainRange = QStringLiteral("Gain channel A: 0 to 31.5 dB in steps of 0.5");
    const QString cellRange = QStringLiteral("Max cell temperature: 0 to 255 \u00b0C");
    // The reply sets the cell limit 80, linearity 20 and gain A 15.0.
    QTest::newRow("gain typed, Return")
        << "GainA"
        << "25" << false << "Return" << 25.0 << QList<QByteArray>{"SetGain 0 50"} << QString();
    QTest::newRow("gain typed, reply meanwhile, Return")
        << "GainA"
        << "25" << true << "Return" << 25.0 << QList<QByteArray>{"SetGain 0 50"} << QString();
    QTest::newRow("gain typed, reply meanwhile, Escape")
        << "GainA"
        << "25" << true << "Escape" << 15.0 << QList<QByteArray>{} << QString();
    QTest::newRow("gain typed as it was, reply meanwhile")
        << "GainA"
        << "10.5" << true << "Return" << 10.5 << QList<QByteArray>{"SetGain 0 21"} << QString();
    QTest::newRow("gain typed badly, reply meanwhile")
        << "GainA"
        << "." << true << "Return" << 10.5 << QList<QByteArray>{} << gainRange;
    // The link ends while the operator types: the box is disabled, and keeps the digits
    // unsent for the next link.
    QTest::newRow("gain typed, link ends")
        << "GainA"
        << "25" << false << "LinkEnds" << 10.5 << QList<QByteArray>{} << QString();
    QTest::newRow("gain above its range")
        << "GainA"
        << "40" << false << "Return" << 10.5 << QList<QByteArray>{} << gainRange;
    QTest::newRow("gain between steps")
        << "GainA"
        << "12.3" << true << "Return" << 10.5 << QList<QByteArray>{} << gainRange;
    QTest::newRow("limit above its range, Set")
        << "CellTempLim"
        << "300" << false << "Set" << 30.0 << QList<QByteArray>{} << cellRange;
    QTest::newRow("limit above its range, focus leaves")
        << "CellTempLim"
        << "300" << true << "Tab" << 30.0 << QList<QByteArray>{} << cellRange;
    QTest::newRow("power limit between steps, Set")
        << "MaxPowerLim"
        << "6.55" << false << "Set" << 6.5 << QList<QByteArray>{}
        << QStringLiteral("Max driver power: 0 to 50 W in steps of 0.1");
    QTest::newRow("linearity typed, focus leaves")
        << "Linearity"
        << "42" << false << "Tab" << 42.0 << QList<QByteArray>{"SetLin 42"} << QString();
    QTest::newRow("limit typed, reply meanwhile, Set")
        << "CellTempLim"
        << "70" << true << "Set" << 70.0 << QList<QByteArray>{"SetMaxCellT 70"} << QString();
    QTest::newRow("limit typed, focus leaves, reply")
        << "CellTempLim"
        << "70" << true << "Tab" << 70.0 << QList<QByteArray>{} << QString();
    QTest::newRow("limit typed, reply meanwhile, Escape")
        << "CellTempLim"
        << "70" << true << "Escape" << 80.0 << QList<QByteArray>{} << QString();
}

// Typed digits go out only once committed, a value not yet sent survives the amplifier's
// replies in italics, and Escape takes the amplifier's value again.
void tst_Panel::pendingEdits()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(bool, replyMeanwhile);
    QFETCH(QString, finish);
    QFETCH(double, value);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, told);
    widget<QPushButton>("AdvancedBtn")->click();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.window()));
    m_panel.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.window()));
    auto *control = widget<QAbstractSpinBox>(box.toLatin1());
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
    control->selectAll();
    QTest::keyClicks(control, typed);
    QVERIFY(control->font().italic());
    QVERIFY(m_panel.peer()->waitForPolls(2));
    QVERIFY(settingLines().isEmpty());

    if (replyMeanwhile) {
        answerStatus(frame("Status, 065, 080, 060, 1, 020, 030, 021, 021"));
        QCOMPARE(control->text(), typed);
        QVERIFY(control->font().italic());
    }
    if (finish == QLatin1String("Set"))
        widget<QPushButton>(box == QLatin1String("MaxPowerLim") ? "SetPwrLimitBtn"
                                                                : "SetCellTempLimitBtn")
            ->click();
    else if (finish == QLatin1String("Tab"))
        QTest::keyClick(control, Qt::Key_Tab);
    else if (finish == QLatin1String("LinkEnds"))
        m_panel.peer()->closeClient();
    else
        QTest::keyClick(control,
                        finish == QLatin1String("Return") ? Qt::Key_Return : Qt::Key_Escape);
    if (finish == QLatin1String("LinkEnds")) {
        QTRY_COMPARE(App::tcpLinkUp, 0);
        QVERIFY(!control->isEnabled());
        QCOMPARE(control->text(), typed);
    } else {
        QVERIFY(m_panel.peer()->waitForPolls(2));
    }
    QCOMPARE(settingLines(), lines);
    QCOMPARE(control->property("value").toDouble(), value);
    // A limit left without its Set, and a text being mended, stay the operator's, and say so.
    QCOMPARE(control->font().italic(),
             lines.isEmpty()
                 && (finish == QLatin1String("Tab") || finish == QLatin1String("LinkEnds")
                     || !told.isEmpty()));
    if (told.isEmpty())
        return;
    QCOMPARE(control->text(), typed);
    QCOMPARE(statusMessage(), told);
    QCOMPARE(control->accessibleDescription(), QStringLiteral("Not sent: ") + told);
    QCOMPARE(control->palette().color(QPalette::Text), QColor(Qt::red));
}

void tst_Panel::wheelNeedsFocus()
{
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.window()));
    m_panel.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.window()));
    auto *gainA = widget<QDoubleSpinBox>("GainA");
    auto *gainB = widget<QDoubleSpinBox>("GainB");
    gainA->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(gainA->hasFocus());
    auto turn = [](QWidget *box) {
        const QPointF centre(box->width() / 2.0, box->height() / 2.0);
        QWheelEvent wheel(centre,
                          box->mapToGlobal(centre.toPoint()),
                          QPoint(),
                          QPoint(0, 120),
                          Qt::NoButton,
                          Qt::NoModifier,
                          Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(box, &wheel);
    };
    turn(gainB);
    QVERIFY(m_panel.peer()->waitForPolls(2));
    QCOMPARE(gainB->value(), 10.5);
    QVERIFY(!gainB->hasFocus());
    turn(gainA);
    QVERIFY(m_panel.peer()->waitForLine("SetGain 0 22"));
    QVERIFY(m_panel.peer()->waitForPolls(2));
    QCOMPARE(settingLines(), QList<QByteArray>{"SetGain 0 22"});
}

void tst_Panel::silenceMakesReadingsStale()
{
    // A zone off UTC, so that a time told in UTC cannot pass for the local one.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "IST-5:30");
    ::tzset();
    const auto restoreZone = qScopeGuard([&zone] {
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        ::tzset();
    });
    // The last reply is said by its own time, not the link's start nor an earlier reply's: a
    // clock of the test's, hours off now and moved on at each reply, tells them apart.
    QDateTime now(QDate(2026, 3, 1), QTime(7, 0, 0), Qt::UTC);
    ReplyWatch *watch = m_panel.window()->m_replyWatch;
    watch->setClock([&now] { return now; });
    watch->setTimeout(ReplyWatch::DefaultTimeoutMs);
    // Replies each well within the timeout, for longer than it, keep the readings live:
    // each starts the silence over.
    QSignalSpy silences(watch, &ReplyWatch::silent);
    QElapsedTimer replying;
    replying.start();
    QElapsedTimer sinceReply;
    sinceReply.start();
    qint64 longestGap = 0;
    while (replying.elapsed() < 3 * ReplyWatch::DefaultTimeoutMs) {
        now = now.addMSecs(100);
        deliver(MeasExample);
        longestGap = qMax(longestGap, sinceReply.restart());
    }
    QVERIFY2(silences.isEmpty() || longestGap >= ReplyWatch::DefaultTimeoutMs,
             qPrintable(QStringLiteral("silent with replies at most %1 ms apart").arg(longestGap)));
    QCOMPARE(style("TempAVal"), QLatin1String(LiveStyle));
    now = QDateTime(QDate(2026, 3, 1), QTime(7, 0, 5), Qt::UTC);
    deliver(MeasExample);
    now = now.addSecs(1);
    const auto lampIs = [this](const char *colour) {
        return widget<QLabel>("TCPLED")->pixmap(Qt::ReturnByValue).toImage()
               == QPixmap(QStringLiteral(":/images/LED_%1.png").arg(QLatin1String(colour))).toImage();
    };
    QVERIFY(lampIs("Green"));
    QTRY_COMPARE_WITH_TIMEOUT(style("TempAVal"), staleStyle(), 10000);
    QCOMPARE(style("CHAPout"), staleStyle());
    // A silent amplifier's link does not look up.
    QVERIFY(lampIs("Grey"));
    QCOMPARE(widget<QLabel>("TCPLED")->accessibleDescription(),
             QStringLiteral("Link open, the amplifier does not answer"));
    QCOMPARE(text("TempAVal"), QStringLiteral("25.3"));
    const QString since = QStringLiteral("No reply from the amplifier since ");
    QVERIFY2(statusMessage().startsWith(since), qPrintable(statusMessage()));
    // The time of the last reply, in local time (12:30:05 in India).
    QCOMPARE(statusMessage(), since + QStringLiteral("12:30:05"));
    // The next reply is live again; a display it did not reach stays stale.
    m_panel.peer()->send(frame("Meas, 0, 0300, 0301"));
    QTRY_COMPARE(style("TempAVal"), QLatin1String(LiveStyle));
    QCOMPARE(text("TempAVal"), QStringLiteral("30.0"));
    QCOMPARE(style("CHAPout"), staleStyle());
    QVERIFY(statusMessage().isEmpty());
    QVERIFY(lampIs("Green"));
}

// A fault, its readings over their limits and its clearing are said once each, in the
// status bar and the log; so is why a ticked RF box did not switch RF on.
void tst_Panel::faultsInWords()
{
    const auto log = [this] { return widget<QPlainTextEdit>("DebugOut")->toPlainText(); };
    const QRegularExpression fault(QStringLiteral(
        "^Fault \\(status 1\\) at \\d\\d:\\d\\d:\\d\\d: cell 1 61.2 \u00b0C over 55 \u00b0C, "
        "driver 60.1 \u00b0C over 60 \u00b0C$"));
    deliver(frame("?\r\n700122A") + frame("Meas, 1, 0612, 0550, 0601, 000, 000, 000"));
    QVERIFY2(fault.match(statusMessage()).hasMatch(), qPrintable(statusMessage()));
    QVERIFY(log().contains(statusMessage()));
    deliver(frame("Meas, 1, 0612, 0550, 0601, 000, 000, 000"));
    QCOMPARE(log().count(QStringLiteral("Fault (status 1)")), 1);

    auto *rf = widget<QCheckBox>("PAOnCB");
    QVERIFY(!rf->isChecked());
    rf->click();
    QVERIFY(m_panel.peer()->waitForLine("SetRF 1"));
    answerStatus(frame("Status, 065, 055, 060, 0, 010, 021, 021, 021"));
    QCOMPARE(statusMessage(), QStringLiteral("RF stays off: a fault is latched, press Reset"));
    QVERIFY(!rf->isChecked());

    deliver(frame("Meas, 0, 0250, 0250, 0250, 000, 000, 000"));
    QVERIFY2(QRegularExpression(QStringLiteral("^Fault cleared at \\d\\d:\\d\\d:\\d\\d$"))
                 .match(statusMessage())
                 .hasMatch(),
             qPrintable(statusMessage()));
    QVERIFY(rf->isChecked());
    // This model's RF follows the fault: unticking it changes nothing, and says so.
    rf->click();
    QVERIFY(m_panel.peer()->waitForLine("SetRF 0"));
    answerStatus(frame("Status, 065, 055, 060, 1, 010, 021, 021, 021"));
    QCOMPARE(statusMessage(),
             QStringLiteral("RF stays on: this model's RF follows its fault state"));
    QVERIFY(rf->isChecked());
}

// Under a dark desktop palette every reading stays readable: live within and over its
// limit, and stale.
// All six displays follow the palette alike, light or dark: live, over the limit and stale
// each readable, and a stale reading dimmer than a live one, so that it fades.
void tst_Panel::darkPalette()
{
    const QPalette light = QApplication::palette();
    QPalette dark;
    for (const auto role : {QPalette::Window, QPalette::Button})
        dark.setColor(role, QColor(53, 53, 53));
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, Qt::white);
    const char *const displays[]
        = {"TempAVal", "TempBVal", "DrvTemp", "CHAPout", "CHBPout", "CHCPout"};
    for (const QPalette &palette : {light, dark}) {
        QApplication::setPalette(palette);
        m_panel.window()->m_replyWatch->setTimeout(600000);
        deliver(frame("Status, 065, 025, 060, 1, 010, 021, 021, 021"));
        deliver(MeasExample);
        QCOMPARE(style("TempAVal"), QLatin1String(RedStyle));
        QHash<QString, double> live;
        for (const char *name : displays)
            live.insert(QLatin1String(name), textContrast(widget<QTextEdit>(name)));
        // The within-limit temperatures and the powers share one look.
        const QImage temperature = widget<QTextEdit>("TempBVal")->grab().toImage();
        const QImage power = widget<QTextEdit>("CHAPout")->grab().toImage();
        QCOMPARE(temperature.pixel(5, 5), power.pixel(5, 5));
        m_panel.window()->m_replyWatch->setTimeout(1);
        QTRY_COMPARE(style("TempBVal"), staleStyle());
        for (const char *name : displays) {
            const double stale = textContrast(widget<QTextEdit>(name));
            const QString what = QStringLiteral("%1 %2: live %3, stale %4")
                                     .arg(QLatin1String(name), palette.color(QPalette::Base).name())
                                     .arg(live.value(QLatin1String(name)))
                                     .arg(stale);
            QVERIFY2(live.value(QLatin1String(name)) >= 3.0 && stale >= 3.0, qPrintable(what));
            QVERIFY2(stale < live.value(QLatin1String(name)) || QLatin1String(name) == "TempAVal",
                     qPrintable(what));
        }
    }
    QApplication::setPalette(light);
}

void tst_Panel::linkLossMakesReadingsStale_data()
{
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QString>("message");
    QTest::newRow("peer closes") << true << "Link to 127.0.0.1 closed at ";
    QTest::newRow("Disconnect") << false << "Disconnected from 127.0.0.1 at ";
}

// Whatever ends the link, the readings stop looking live and the status bar says why; the
// next link names no model until its amplifier identifies itself.
void tst_Panel::linkLossMakesReadingsStale()
{
    QFETCH(bool, peerCloses);
    QFETCH(QString, message);
    deliver(frame("?\r\n700115A") + MeasExample);
    QCOMPARE(style("CHBPout"), QString());
    if (peerCloses)
        m_panel.peer()->closeClient();
    else
        widget<QPushButton>("EthernetConnect")->click();
    QTRY_COMPARE(App::tcpLinkUp, 0);
    QCOMPARE(style("CHBPout"), staleStyle());
    QCOMPARE(style("DrvTemp"), staleStyle());
    QCOMPARE(text("CHBPout"), QStringLiteral("11.8"));
    QVERIFY2(statusMessage().startsWith(message), qPrintable(statusMessage()));
    QVERIFY(widget<QPlainTextEdit>("DebugOut")->toPlainText().contains(message));

    widget<QPushButton>("EthernetConnect")->click();
    QCOMPARE(statusMessage(), QStringLiteral("Connecting to 127.0.0.1\u2026"));
    QVERIFY(m_panel.peer()->waitForClient());
    QTRY_COMPARE(App::tcpLinkUp, 1);
    QCOMPARE(m_panel.window()->windowTitle(), QStringLiteral("Korvane Amplifier"));
    QVERIFY(statusMessage().isEmpty());
    QCOMPARE(style("CHBPout"), staleStyle());
    deliver(frame("?\r\n700122A") + MeasExample);
    QCOMPARE(m_panel.window()->windowTitle(), QStringLiteral("Korvane Amplifier 700122A"));
    QCOMPARE(style("CHBPout"), QString());
}

QTEST_MAIN(tst_Panel)
#include "tst_panel.moc"
