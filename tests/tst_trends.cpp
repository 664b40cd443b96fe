#include "appstate.h"
#include "connectedpanel.h"
#include "findwidget.h"
#include "mainwindow.h"
#include "replywatch.h"
#include "scratchsettings.h"
#include "screenscaling.h"
#include "scriptedpeer.h"
#include "serialports.h"
#include "trendrecorder.h"
#include "trendwindowfactory.h"
#include "waiting.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QImage>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_picker.h>

#include <cmath>
#include <memory>

namespace {

template<int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

Reply::MeasValues measValues(int base, char statusChar = Reply::NoFault)
{
    Reply::MeasValues v;
    v.statusChar = statusChar;
    v.cellTenths[0] = base + 1;
    v.cellTenths[1] = base + 2;
    v.driverTenths = base + 3;
    v.powerTenths[0] = base + 4;
    v.powerTenths[1] = base + 5;
    v.powerTenths[2] = base + 6;
    return v;
}

QVariantList invoke(QObject *window, const char *method, int reading = -1)
{
    QVariantList result;
    const bool done = reading < 0 ? QMetaObject::invokeMethod(window,
                                                              method,
                                                              Q_RETURN_ARG(QVariantList, result))
                                  : QMetaObject::invokeMethod(window,
                                                              method,
                                                              Q_RETURN_ARG(QVariantList, result),
                                                              Q_ARG(int, reading));
    if (!done)
        qFatal("no method %s", method);
    return result;
}

QVariantList span(qint64 from, qint64 to)
{
    return {from, to};
}

// The cell and driver limits' lines.
QList<QwtPlotCurve *> limitCurves(QWidget *trends)
{
    QList<QwtPlotCurve *> limits;
    for (QwtPlotItem *item :
         findWidget<QwtPlot>(trends, "temperaturePlot")->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        if (item->title().text().endsWith(QLatin1String(" limit")))
            limits << static_cast<QwtPlotCurve *>(item);
    }
    return limits;
}

} // namespace

// The panel's history of readings: what the poll's replies become in it, where its lines
// break, how far back it reaches.
class tst_Trends : public QObject
{
    Q_OBJECT

public:
    // Before the application object, as the panel's own entry point does.
    static void initMain() { App::enableHighDpiScaling(); }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void series_data();
    void series();
    void gaps_data();
    void gaps();
    void limitsFromStatus();
    void burstSharesOneSample();
    void ringKeepsAnHour_data();
    void ringKeepsAnHour();
    void clockStep();
    void windowShowsTheHistory();
    void exports();
    void noRedrawWhileHidden();
    void shortcutOpensAndRaises();
    void atScale();

private:
    // Sends the frame and waits until the recorder has taken it as a sample of its own.
    void deliver(const QByteArray &frame);
    // The peer answers the panel's "?" as the given model, and the panel has taken it.
    void identify(const char *model);
    QString amplifierOf(int sample) const
    {
        return recorder()->amplifierOf(recorder()->samples().at(sample)).text();
    }
    TrendRecorder *recorder() const { return m_panel.window()->findChild<TrendRecorder *>(); }
    // Opens the trends as the tool bar's action does.
    QWidget *openTrends();

    ConnectedPanel m_panel;
    // Moves both clocks on, as time passes.
    void advance(qint64 ms)
    {
        m_steadyMs += ms;
        m_wallMs += ms;
    }
    qint64 m_steadyMs = 1000000;
    qint64 m_wallMs = 1700000000000;
};

void tst_Trends::initTestCase()
{
    useScratchSettings();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
    TrendWindows::addSearchDir(QStringLiteral(KORVANE_TRENDS_DIR));
}

void tst_Trends::init()
{
    // The test moves time on by itself, a poll's worth per frame unless it says otherwise.
    QVERIFY(m_panel.start([this](MainWindow *window) {
        window->findChild<TrendRecorder *>()->setClocks([this] { return m_steadyMs; },
                                                        [this] { return m_wallMs; });
    }));
    identify("700115A");
}

void tst_Trends::identify(const char *model)
{
    m_panel.peer()->send(Reply::identificationFrame(model));
    QTRY_COMPARE_WITH_TIMEOUT(m_panel.window()->windowTitle(),
                              QStringLiteral("Korvane Amplifier ") + QLatin1String(model),
                              ScriptedPeer::TimeoutMs);
}

void tst_Trends::cleanup()
{
    m_panel.stop();
}

void tst_Trends::deliver(const QByteArray &frame)
{
    const int before = recorder()->samples().size();
    m_panel.peer()->send(frame);
    QVERIFY(waitUntil(
        recorder(),
        &TrendRecorder::recorded,
        [&] { return recorder()->samples().size() > before; },
        ScriptedPeer::TimeoutMs));
}

void tst_Trends::series_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QVector<double>>("values"); // NaN: no value
    QTest::addColumn<bool>("fault");

    const double none = std::nan("");
    QTest::newRow("readings, powers first")
        << bytes("\0Meas, 0, 0253, 0248, 0301, 123, 118, 120\xff")
        << QVector<double>{12.3, 11.8, 12.0, 25.3, 24.8, 30.1} << false;
    QTest::newRow("fault") << Reply::measFrame(measValues(100, '2'))
                           << QVector<double>{10.4, 10.5, 10.6, 10.1, 10.2, 10.3} << true;
    // Shown as 0.0 in its box, but no value to draw.
    QTest::newRow("reading that does not convert")
        << bytes("\0Meas, 0, 0253, 0x1f, 0301, 123, abc, 120\xff")
        << QVector<double>{12.3, none, 12.0, 25.3, none, 30.1} << false;
    QTest::newRow("short frame") << bytes("\0Meas, 0, 0253, 0248\xff")
                                 << QVector<double>{none, none, none, 25.3, 24.8, none} << false;
}

void tst_Trends::series()
{
    QFETCH(QByteArray, frame);
    QFETCH(QVector<double>, values);
    QFETCH(bool, fault);

    deliver(frame);
    const TrendSample &sample = recorder()->samples().last();
    for (int i = 0; i < TrendSample::ReadingCount; ++i) {
        if (std::isnan(values[i]))
            QVERIFY2(std::isnan(sample.tenths[i]), qPrintable(QString::number(i)));
        else
            QCOMPARE(sample.value(i), values[i]);
    }
    QCOMPARE(sample.fault, fault);
}

void tst_Trends::gaps_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<bool>("gap");
    // The amplifier of the readings after the cause: its model, and whether it is at
    // another address than the one before.
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("elsewhere");

    QTest::newRow("next poll") << "poll" << false << "700115A" << false;
    QTest::newRow("replies a second late") << "late" << false << "700115A" << false;
    QTest::newRow("silence") << "silence" << true << "700115A" << false;
    // The window's own watch says so first, even if the clock has hardly moved.
    QTest::newRow("no reply") << "no reply" << true << "700115A" << false;
    QTest::newRow("link lost") << "link lost" << true << "700115A" << false;
    QTest::newRow("link closed") << "disconnect" << true << "700115A" << false;
    QTest::newRow("same amplifier again") << "700115A" << false << "700115A" << false;
    QTest::newRow("another model") << "700122A" << true << "700122A" << false;
    QTest::newRow("another address") << "elsewhere" << true << "700115A" << true;
    // Its readings before it identified itself are already its own.
    QTest::newRow("identified after a reading") << "late answer" << true << "700122A" << true;
}

void tst_Trends::gaps()
{
    QFETCH(QString, cause);
    QFETCH(bool, gap);
    QFETCH(QString, model);
    QFETCH(bool, elsewhere);

    const QString before = QStringLiteral("700115A at 127.0.0.1:%1").arg(m_panel.peer()->port());
    std::unique_ptr<ScriptedPeer> other;
    QSignalSpy limits(recorder(), &TrendRecorder::limitsChanged);
    m_panel.peer()->send(Reply::statusFrame(Reply::StatusValues{650, 48, 71, true, 50, {}}));
    QVERIFY(limits.wait(ScriptedPeer::TimeoutMs));
    deliver(Reply::measFrame(measValues(100)));
    advance(100);
    deliver(Reply::measFrame(measValues(120)));
    QVERIFY(!recorder()->samples().last().lineBreak);

    if (cause == QLatin1String("poll")) {
        advance(100);
    } else if (cause == QLatin1String("late")) {
        advance(TrendRecorder::MaxSampleGapMs);
    } else if (cause == QLatin1String("silence")) {
        advance(TrendRecorder::MaxSampleGapMs + 100);
    } else if (cause.startsWith(QLatin1String("7001"))) {
        identify(qPrintable(cause));
        advance(100);
    } else if (elsewhere) {
        findWidget<QPushButton>(m_panel.window(), "EthernetConnect")->click();
        other = std::make_unique<ScriptedPeer>();
        QVERIFY(other->listen());
        App::amplifierTcpPort = other->port();
        m_panel.swapPeer(other);
        findWidget<QPushButton>(m_panel.window(), "EthernetConnect")->click();
        QVERIFY(m_panel.peer()->waitForClient());
        QVERIFY(m_panel.peer()->waitForLine("Status"));
        advance(100);
        if (cause == QLatin1String("late answer")) {
            deliver(Reply::measFrame(measValues(190)));
            advance(100);
        }
        identify(qPrintable(model));
    } else if (cause == QLatin1String("no reply")) {
        m_panel.window()->findChild<ReplyWatch *>()->setTimeout(ReplyWatch::DefaultTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_panel.window()->statusBar()->currentMessage().contains(
                                     QLatin1String("No reply")),
                                 10000);
        advance(100);
    } else {
        auto *connect = findWidget<QPushButton>(m_panel.window(), "EthernetConnect");
        if (cause == QLatin1String("link lost"))
            m_panel.peer()->closeClient();
        else
            connect->click();
        QTRY_COMPARE_WITH_TIMEOUT(connect->text(), QStringLiteral("Connect"), 10000);
        m_panel.peer()->clearReceived();
        connect->click();
        QVERIFY(m_panel.peer()->waitForClient());
        QVERIFY(m_panel.peer()->waitForLine("Status"));
        advance(100);
    }
    deliver(Reply::measFrame(measValues(200)));
    const TrendRing &ring = recorder()->samples();
    QCOMPARE(ring.last().value(0), 20.4);
    int breaks = 0;
    for (int i = 2; i < ring.size(); ++i)
        breaks += ring.at(i).lineBreak ? 1 : 0;
    QCOMPARE(breaks, gap ? 1 : 0);
    QVERIFY(!ring.at(1).lineBreak);
    // Unheard or another, the amplifier's limits are not known again until its next Status.
    QCOMPARE(recorder()->hasLimits(), !gap);

    // Each reading stays with the amplifier it came from.
    QCOMPARE(amplifierOf(1), before);
    const QString after = QStringLiteral("%1 at 127.0.0.1:%2").arg(model).arg(m_panel.peer()->port());
    for (int i = 2; i < ring.size(); ++i)
        QCOMPARE(amplifierOf(i), after);
    // Where another one's series begins the plot says which.
    QWidget *trends = openTrends();
    QVERIFY(trends);
    QVERIFY(QMetaObject::invokeMethod(trends, "redraw"));
    QCOMPARE(invoke(trends, "lines", 0).size(), gap ? 2 : 1);
    const QVariantList starts = invoke(trends, "seriesStarts");
    const qint64 start = recorder()->wallTime(ring.at(2).timeMs).toMSecsSinceEpoch();
    const QVariantList marked{QVariant(QVariantList{start, after})};
    QCOMPARE(starts, after == before ? QVariantList() : marked);
    QStringList shown;
    for (QwtPlotItem *item :
         findWidget<QwtPlot>(trends, "powerPlot")->itemList(QwtPlotItem::Rtti_PlotMarker)) {
        const auto *marker = static_cast<QwtPlotMarker *>(item);
        if (marker->isVisible() && qint64(marker->xValue()) == start)
            shown << marker->label().text();
    }
    QCOMPARE(shown, after == before ? QStringList() : QStringList{after});
}

void tst_Trends::limitsFromStatus()
{
    QSignalSpy changed(recorder(), &TrendRecorder::limitsChanged);
    QVERIFY(changed.isValid());
    QVERIFY(!recorder()->hasLimits());
    Reply::StatusValues status;
    status.maxCellTempC = 48;
    status.maxDrvTempC = 71;
    m_panel.peer()->send(Reply::statusFrame(status));
    QVERIFY(changed.wait(ScriptedPeer::TimeoutMs));
    QVERIFY(recorder()->hasLimits());
    QCOMPARE(recorder()->cellLimitC(), 48);
    QCOMPARE(recorder()->driverLimitC(), 71);
    // A short status frame without both limits leaves them.
    m_panel.peer()->send(bytes("\0Status, 065, 030\xff"));
    QVERIFY(m_panel.peer()->waitForPolls(2));
    QCOMPARE(recorder()->cellLimitC(), 48);

    // A fault under those limits, then others: the fault keeps the limits of its time.
    const qint64 first = m_wallMs;
    advance(100);
    deliver(Reply::measFrame(measValues(500, '2')));
    advance(100);
    status.maxCellTempC = 55;
    status.maxDrvTempC = 75;
    m_panel.peer()->send(Reply::statusFrame(status));
    QVERIFY(changed.wait(ScriptedPeer::TimeoutMs));
    const qint64 second = m_wallMs;
    advance(100);
    deliver(Reply::measFrame(measValues(510)));
    QWidget *trends = openTrends();
    QVERIFY(trends);
    QVERIFY(QMetaObject::invokeMethod(trends, "redraw"));
    QCOMPARE(invoke(trends, "limitSteps"),
             (QVariantList{QVariantList{first, second, 48, 71},
                           QVariantList{second, m_wallMs, 55, 75}}));
    const QwtPlotCurve *cellLimit = limitCurves(trends).first();
    QCOMPARE(cellLimit->sample(1), QPointF(second, 48));
    QCOMPARE(cellLimit->sample(2), QPointF(second, 55));
    QString readout;
    QVERIFY(QMetaObject::invokeMethod(trends,
                                      "readout",
                                      Q_RETURN_ARG(QString, readout),
                                      Q_ARG(double, double(first + 100))));
    QVERIFY2(readout.endsWith(QString::fromUtf8("cell limit 48 °C, driver limit 71 °C")),
             qPrintable(readout));

    // Another amplifier has none until its own Status.
    identify("700122A");
    QVERIFY(!recorder()->hasLimits());
    const qint64 identified = m_wallMs;
    advance(100);
    deliver(Reply::measFrame(measValues(520)));
    QVERIFY(QMetaObject::invokeMethod(trends, "redraw"));
    QCOMPARE(invoke(trends, "limitSteps").last().toList().at(1), QVariant(identified));
}

void tst_Trends::burstSharesOneSample()
{
    deliver(Reply::measFrame(measValues(100)));
    advance(100);
    QByteArray burst;
    for (int i = 0; i < 1000; ++i)
        burst += Reply::measFrame(measValues(i % 7 == 3 ? 500 : 200, i == 10 ? '1' : '0'));
    burst += Reply::measFrame(measValues(300));
    m_panel.peer()->send(burst);
    const TrendRing &ring = recorder()->samples();
    QVERIFY(waitUntil(
        recorder(),
        &TrendRecorder::recorded,
        [&] { return ring.last().value(0) == 30.4; },
        ScriptedPeer::TimeoutMs));
    QCOMPARE(ring.size(), 2);
    QCOMPARE(ring.last().value(0), 30.4);
    // The fault in the middle of the burst is not lost.
    QVERIFY(ring.last().fault);
}

void tst_Trends::ringKeepsAnHour_data()
{
    // A span of the history, as the export asks for it, in polls of the ring filled below:
    // reading n (its power A n % 1000 tenths) came at n polls; the ring has pushed out reading
    // 0 and holds 1 to Capacity.
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("first"); // the first reading exported
    QTest::addColumn<int>("count"); // of readings exported

    const int newest = TrendRecorder::Capacity;
    // Both ends are included.
    QTest::newRow("from one reading to the next") << 10.0 << 11.0 << 10 << 2;
    QTest::newRow("one reading's moment") << 10.0 << 10.0 << 10 << 1;
    QTest::newRow("between two readings") << 10.01 << 10.99 << 0 << 0;
    QTest::newRow("from between two readings") << 9.5 << 10.5 << 10 << 1;
    QTest::newRow("from before the oldest kept") << 0.0 << 1.0 << 1 << 1;
    QTest::newRow("the oldest kept") << 1.0 << 1.0 << 1 << 1;
    QTest::newRow("the newest") << double(newest) << newest + 0.5 << newest << 1;
    QTest::newRow("after the newest") << newest + 0.01 << newest + 1.0 << 0 << 0;
    QTest::newRow("all of it") << 0.0 << double(newest) << 1 << newest;
}

void tst_Trends::ringKeepsAnHour()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(int, first);
    QFETCH(int, count);

    TrendRecorder recorder;
    qint64 now = 0;
    recorder.setClocks([&now] { return now; }, [&now] { return now; });
    Reply::Measurement meas;
    meas.fieldCount = Reply::MeasFieldCount;
    for (int i = 0; i <= TrendRecorder::Capacity; ++i) {
        meas.powerTenths[0] = i % 1000;
        recorder.record(meas);
        now += MainWindow::PollIntervalMs;
    }
    const TrendRing &ring = recorder.samples();
    QCOMPARE(ring.size(), TrendRecorder::Capacity);
    QCOMPARE(ring.at(0).timeMs, qint64(MainWindow::PollIntervalMs));
    QCOMPARE(ring.last().timeMs, qint64(TrendRecorder::Capacity) * MainWindow::PollIntervalMs);
    QCOMPARE(ring.at(0).value(0), 0.1);

    // The exported CSV: its header, a row a reading, and the end of the last line.
    const auto poll = [](double polls) {
        return qint64(std::llround(polls * MainWindow::PollIntervalMs));
    };
    const QList<QByteArray> rows = recorder.csv(poll(from), poll(to)).split('\n');
    QCOMPARE(rows.size(), 1 + count + 1);
    for (int i = 0; i < count; ++i) {
        const int reading = first + i;
        QCOMPARE(rows.at(1 + i).split(',').value(1),
                 Reply::displayTenths((reading % 1000)).toUtf8());
    }
}

void tst_Trends::clockStep()
{
    deliver(Reply::measFrame(measValues(100)));
    const qint64 first = recorder()->samples().last().timeMs;
    QCOMPARE(recorder()->wallTime(first).toMSecsSinceEpoch(), m_wallMs);
    // The wall clock is set back an hour between two polls.
    m_steadyMs += 100;
    m_wallMs += 100 - 3600 * 1000;
    deliver(Reply::measFrame(measValues(110)));
    const TrendRing &ring = recorder()->samples();
    QVERIFY(!ring.last().lineBreak);
    QCOMPARE(ring.last().timeMs - first, qint64(100));
    // Both readings are named by the clock as it reads now, a poll apart.
    QCOMPARE(recorder()->wallTime(first).toMSecsSinceEpoch(), m_wallMs - 100);
}

QWidget *tst_Trends::openTrends()
{
    findWidget<QAction>(m_panel.window(), "actionTrends")->trigger();
    auto *trends = m_panel.window()->findChild<QWidget *>(QStringLiteral("TrendWindow"));
    return trends && QTest::qWaitForWindowExposed(trends) ? trends : nullptr;
}

void tst_Trends::windowShowsTheHistory()
{
    const qint64 offset = m_wallMs - m_steadyMs;
    const qint64 start = m_steadyMs;
    // Two readings, a silence, two readings with a fault, the link lost, one reading.
    deliver(Reply::measFrame(measValues(100)));
    advance(100);
    deliver(Reply::measFrame(measValues(110)));
    advance(3000);
    deliver(Reply::measFrame(measValues(120, '3')));
    advance(100);
    deliver(Reply::measFrame(measValues(130, '3')));
    advance(100);
    deliver(Reply::measFrame(measValues(140)));
    auto *connect = findWidget<QPushButton>(m_panel.window(), "EthernetConnect");
    m_panel.peer()->closeClient();
    QTRY_COMPARE_WITH_TIMEOUT(connect->text(), QStringLiteral("Connect"), 10000);
    connect->click();
    QVERIFY(m_panel.peer()->waitForClient());
    advance(100);
    deliver(Reply::measFrame(measValues(150)));
    Reply::StatusValues status;
    status.maxCellTempC = 48;
    status.maxDrvTempC = 71;
    QSignalSpy limits(recorder(), &TrendRecorder::limitsChanged);
    m_panel.peer()->send(Reply::statusFrame(status));
    QVERIFY(limits.wait(ScriptedPeer::TimeoutMs));

    QWidget *trends = openTrends();
    QVERIFY(trends);
    QCOMPARE(trends->windowTitle(), QStringLiteral("Trends \u2013 Korvane Amplifier"));
    QVERIFY(QMetaObject::invokeMethod(trends, "redraw"));

    // Ten minutes back from now.
    const qint64 now = m_steadyMs + offset;
    QCOMPARE(invoke(trends, "shownSpan"), span(now - 600000, now));
    // Power A is the first curve of the upper plot; its values as read.
    auto *powers = findWidget<QwtPlot>(trends, "powerPlot");
    const QwtPlotItemList curves = powers->itemList(QwtPlotItem::Rtti_PlotCurve);
    QCOMPARE(curves.size(), 3);
    const auto *powerA = static_cast<QwtPlotCurve *>(curves.first());
    QCOMPARE(int(powerA->dataSize()), 6);
    const double expected[] = {10.4, 11.4, 12.4, 13.4, 14.4, 15.4};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(powerA->sample(size_t(i)).y(), expected[i]);
    // Lines break at the silence and at the lost link, for every reading.
    const qint64 t0 = start + offset;
    const QVariantList lines{QVariant(span(t0, t0 + 100)),
                             QVariant(span(t0 + 3100, t0 + 3300)),
                             QVariant(span(t0 + 3400, t0 + 3400))};
    for (int reading = 0; reading < 6; ++reading)
        QCOMPARE(invoke(trends, "lines", reading), lines);
    // The fault from its first reading to the first without it.
    QCOMPARE(invoke(trends, "faultSpans"), QVariantList{QVariant(span(t0 + 3100, t0 + 3300))});
    // The limits from the Status on, as dashed lines.
    auto *temperatures = findWidget<QwtPlot>(trends, "temperaturePlot");
    QList<double> limitValues;
    for (const QwtPlotCurve *limit : limitCurves(trends)) {
        QCOMPARE(limit->pen().style(), Qt::DashLine);
        QCOMPARE(limit->sample(0).x(), double(now));
        limitValues << limit->sample(0).y();
    }
    QCOMPARE(limitValues, (QList<double>{48, 71}));
    // Both limits in sight.
    QVERIFY(temperatures->axisScaleDiv(QwtPlot::yLeft).contains(71));
    QVERIFY(temperatures->axisScaleDiv(QwtPlot::yLeft).contains(10.1));

    // The read-out names the time and the six values of the reading under the pointer, and
    // in a gap none.
    QString readout;
    QVERIFY(QMetaObject::invokeMethod(trends,
                                      "readout",
                                      Q_RETURN_ARG(QString, readout),
                                      Q_ARG(double, double(t0 + 3130))));
    const QString time = QDateTime::fromMSecsSinceEpoch(t0 + 3100).toString("HH:mm:ss.zzz");
    QCOMPARE(readout,
             time
                 + " fault\nPower A 12.4 W   Power B 12.5 W   Power C 12.6 W\n"
                   "Cell 1 12.1 \u00b0C   Cell 2 12.2 \u00b0C   Driver 12.3 \u00b0C\n"
                   "700115A at 127.0.0.1:"
                 + QString::number(m_panel.peer()->port()) + ": no limits known");
    QVERIFY(QMetaObject::invokeMethod(trends,
                                      "readout",
                                      Q_RETURN_ARG(QString, readout),
                                      Q_ARG(double, double(t0 + 1500))));
    QVERIFY(readout.endsWith(QLatin1String("no reading")));
    // A dark palette darkens the plots and lightens the cell limit with the text.
    QPalette dark = trends->palette();
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    trends->setPalette(dark);
    QCOMPARE(temperatures->canvasBackground().color(), QColor(0x20, 0x20, 0x20));
    QCOMPARE(limitCurves(trends).first()->pen().color(), QColor(0xe0, 0xe0, 0xe0));

    // A one-minute span leaves the older readings out.
    advance(60000 - 3000);
    findWidget<QComboBox>(trends, "spanBox")->setCurrentIndex(0);
    QCOMPARE(int(powerA->dataSize()), 4);
    // The pointer over the plot brings the read-out (a pixel is 0.1 s here): the time and
    // two lines of values over a reading, the time and "no reading" over the gap.
    QWidget *canvas = temperatures->canvas();
    auto *picker = canvas->findChild<QwtPlotPicker *>();
    QVERIFY(picker);
    const int line = QFontMetrics(picker->trackerFont()).height();
    for (const qint64 at : {t0 + 3130, t0 + 1500}) {
        const QPoint over(int(temperatures->transform(QwtPlot::xBottom, double(at))),
                          canvas->height() / 2);
        QTest::mouseMove(canvas, over);
        QTRY_COMPARE(picker->trackerPosition(), over);
        const int lines = picker->trackerRect(picker->trackerFont()).height() / line;
        QCOMPARE(lines, at == t0 + 3130 ? 4 : 2);
    }
}

void tst_Trends::exports()
{
    for (int i = 0; i < 5; ++i) {
        // The last two readings come from another amplifier on the same link.
        if (i == 3)
            identify("700122A");
        deliver(Reply::measFrame(measValues(100 + i, i == 2 ? '"' : '0')));
        advance(100);
    }
    QWidget *trends = openTrends();
    QVERIFY(trends);
    QVERIFY(QMetaObject::invokeMethod(trends, "redraw"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    bool written = false;
    const QString csvPath = dir.filePath(QStringLiteral("trends.csv"));
    QVERIFY(QMetaObject::invokeMethod(trends,
                                      "exportCsv",
                                      Q_RETURN_ARG(bool, written),
                                      Q_ARG(QString, csvPath)));
    QVERIFY(written);
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    QCOMPARE(rows.size(), 7); // header, five rows, the empty rest after the last line end
    QCOMPARE(rows[0],
             QByteArray("time,power_a_w,power_b_w,power_c_w,cell1_temp_c,cell2_temp_c,"
                        "driver_temp_c,status,model,address"));
    const QByteArray address = ",127.0.0.1:" + QByteArray::number(m_panel.peer()->port());
    // korvane-ctl's times: local, with milliseconds and the offset from UTC.
    const QString firstTime = QDateTime::fromMSecsSinceEpoch(m_wallMs - 500)
                                  .toOffsetFromUtc(
                                      QDateTime::fromMSecsSinceEpoch(m_wallMs - 500).offsetFromUtc())
                                  .toString(Qt::ISODateWithMs);
    QCOMPARE(rows[1], firstTime.toUtf8() + ",10.4,10.5,10.6,10.1,10.2,10.3,0,700115A" + address);
    QCOMPARE(rows[3].mid(rows[3].indexOf(',')),
             ",10.6,10.7,10.8,10.3,10.4,10.5,\"\"\"\",700115A" + address);
    QVERIFY(rows[4].endsWith(",0,700122A" + address));

    const QString title = QStringLiteral("Korvane Amplifier 700115A at 127.0.0.1:%1, then 700122A "
                                         "at 127.0.0.1:%1 \u2014 10 min to %2")
                              .arg(m_panel.peer()->port())
                              .arg(QDateTime::fromMSecsSinceEpoch(m_wallMs).toString("HH:mm:ss"));
    for (const char *name : {"trends.png", "trends.svg"}) {
        const QString path = dir.filePath(QLatin1String(name));
        QVERIFY(QMetaObject::invokeMethod(trends,
                                          "exportPicture",
                                          Q_RETURN_ARG(bool, written),
                                          Q_ARG(QString, path)));
        QVERIFY(written);
        QImage picture;
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (path.endsWith(QLatin1String(".svg"))) {
            QVERIFY(bytes.contains("<svg"));
            // The legends' names are text in the drawing.
            QVERIFY(bytes.contains("Power A"));
            QVERIFY(bytes.contains("Driver"));
            QVERIFY(QString::fromUtf8(bytes).contains(title.toHtmlEscaped()));
        } else {
            QVERIFY(picture.loadFromData(bytes, "PNG"));
            QCOMPARE(picture.text(QStringLiteral("Title")), title);
            QVERIFY(picture.width() >= 400 && picture.height() >= 300);
            // Blue of the first line somewhere in it.
            bool blue = false;
            for (int y = 0; y < picture.height() && !blue; ++y) {
                for (int x = 0; x < picture.width() && !blue; ++x)
                    blue = picture.pixelColor(x, y) == QColor(0x00, 0x72, 0xb2);
            }
            QVERIFY(blue);
        }
    }
    // A place that cannot be written says why.
    QVERIFY(QMetaObject::invokeMethod(trends,
                                      "exportCsv",
                                      Q_RETURN_ARG(bool, written),
                                      Q_ARG(QString, dir.filePath("missing/trends.csv"))));
    QVERIFY(!written);
    QVERIFY(trends->property("lastError").toString().contains(QLatin1String("missing")));
}

void tst_Trends::noRedrawWhileHidden()
{
    QWidget *trends = openTrends();
    QVERIFY(trends);
    // A one-minute span redraws with every poll while shown.
    findWidget<QComboBox>(trends, "spanBox")->setCurrentIndex(0);
    const int shown = trends->property("redrawCount").toInt();
    QVERIFY(m_panel.peer()->waitForPolls(5));
    QTRY_VERIFY(trends->property("redrawCount").toInt() > shown);
    auto *pause = findWidget<QPushButton>(trends, "pauseButton");
    qint64 pausedAt = 0;
    for (const char *how : {"hidden", "minimised", "paused"}) {
        if (how == QLatin1String("minimised")) {
            trends->showMinimized();
            QTRY_VERIFY(trends->isMinimized());
        } else if (how == QLatin1String("hidden")) {
            trends->hide();
        } else {
            pause->click();
            pausedAt = m_steadyMs;
        }
        const int before = trends->property("redrawCount").toInt();
        const QVariantList shown = invoke(trends, "shownSpan");
        for (int i = 0; i < 5; ++i) {
            advance(100);
            deliver(Reply::measFrame(measValues(100 + i)));
        }
        QVERIFY(m_panel.peer()->waitForPolls(3));
        QCOMPARE(trends->property("redrawCount").toInt(), before);
        if (how == QLatin1String("paused")) {
            QCOMPARE(invoke(trends, "shownSpan"), shown);
            // Closed and opened again it is still paused, and says so, and since when.
            const QString since = QStringLiteral("paused since %1")
                                      .arg(recorder()->wallTime(pausedAt).toString("HH:mm:ss"));
            trends->close();
            QVERIFY(openTrends());
            // The panel's own title changes underneath, as when an amplifier identifies itself.
            m_panel.window()->setWindowTitle(QStringLiteral("Korvane Amplifier 700122A"));
            QVERIFY(trends->windowTitle().contains(QLatin1String("700122A")));
            auto *label = findWidget<QLabel>(trends, "pausedLabel");
            QVERIFY(label->isVisible());
            for (const QString &text :
                 {label->text(), trends->windowTitle(), trends->accessibleDescription()})
                QVERIFY2(text.contains(since, Qt::CaseInsensitive), qPrintable(text));
            pause->click();
            QVERIFY(!label->isVisible());
            QVERIFY(!trends->windowTitle().contains(QLatin1String("paused")));
        } else {
            QVERIFY(openTrends());
        }
        // Recording went on meanwhile; what is shown is up to date at once.
        QVERIFY(trends->property("redrawCount").toInt() > before);
        QCOMPARE(invoke(trends, "shownSpan").last().toLongLong(), m_wallMs);
    }
    QCOMPARE(recorder()->samples().size(), 15);
}

void tst_Trends::shortcutOpensAndRaises()
{
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.window()));
    m_panel.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.window()));
    QTest::keyClick(m_panel.window(), Qt::Key_T, Qt::ControlModifier);
    QWidget *trends = nullptr;
    QTRY_VERIFY((trends = m_panel.window()->findChild<QWidget *>(QStringLiteral("TrendWindow"))));
    QVERIFY(QTest::qWaitForWindowActive(trends));
    // Back to the main window, the trends behind it; the shortcut brings the same one up.
    m_panel.window()->activateWindow();
    m_panel.window()->raise();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.window()));
    QTest::keyClick(m_panel.window(), Qt::Key_T, Qt::ControlModifier);
    QVERIFY(QTest::qWaitForWindowActive(trends));
    QCOMPARE(m_panel.window()->findChildren<QWidget *>(QStringLiteral("TrendWindow")).size(), 1);
    QCOMPARE(QApplication::topLevelAt(trends->geometry().center()), trends);
}

// Run under X11 at 144 and 192 dpi on a 1080-line screen (CTest's tst_trends_dpi tests):
// the window scales with the screen, fits on it, and every control shows its whole text.
void tst_Trends::atScale()
{
    const QByteArray expected = qgetenv("KORVANE_EXPECTED_SCALE");
    if (expected.isEmpty())
        QSKIP("runs under X11 at a set resolution (CTest's tst_trends_dpi tests)");
    QWidget *trends = openTrends();
    QVERIFY(trends);
    // Paused, it says so in a label of its own, which must fit as well.
    findWidget<QPushButton>(trends, "pauseButton")->click();
    trends->layout()->activate();
    QVERIFY2(qAbs(trends->devicePixelRatioF() - expected.toDouble()) < 0.01,
             qPrintable(QString::number(trends->devicePixelRatioF())));
    const QSize screen = trends->screen()->availableGeometry().size();
    const QSize window = trends->frameGeometry().size();
    QVERIFY2(window.width() <= screen.width() && window.height() <= screen.height(),
             qPrintable(QStringLiteral("%1 x %2 on %3 x %4")
                            .arg(window.width())
                            .arg(window.height())
                            .arg(screen.width())
                            .arg(screen.height())));
    for (QWidget *control : trends->findChildren<QWidget *>()) {
        if (!control->isVisible()
            || !(qobject_cast<QAbstractButton *>(control) || qobject_cast<QLabel *>(control)
                 || qobject_cast<QComboBox *>(control)))
            continue;
        QVERIFY2(control->width() >= control->sizeHint().width()
                     && control->height() >= control->minimumSizeHint().height(),
                 qPrintable(control->objectName()));
    }
}

QTEST_MAIN(tst_Trends)
#include "tst_trends.moc"
