#include "trendwindow.h"

#include "faultshading.h"
#include "trendcurve.h"
#include "trendrecorder.h"
#include "trendseries.h"

#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPen>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSvgGenerator>
#include <QVBoxLayout>

#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_picker_machine.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_picker.h>
#include <qwt_plot_renderer.h>
#include <qwt_scale_draw.h>

#include <cmath>
#include <functional>

namespace {

// Blue, vermillion and bluish green from Okabe and Ito's set: told apart with each common
// colour-vision deficiency, and at least 3:1 against both white and black.
const QColor LineColours[3] = {QColor(0x00, 0x72, 0xb2),
                               QColor(0xd5, 0x5e, 0x00),
                               QColor(0x00, 0x9e, 0x73)};

const char *const ReadingNames[TrendWindow::ReadingCount]
    = {"Power A", "Power B", "Power C", "Cell 1", "Cell 2", "Driver"};

QString unitOf(int reading)
{
    return QString::fromUtf8(Reply::Readings[reading].unit);
}

// The read-out under the pointer comes from the window, which knows the samples.
class TrendPicker : public QwtPlotPicker
{
public:
    TrendPicker(QWidget *canvas, std::function<QString(double)> text)
        : QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, VLineRubberBand, AlwaysOn, canvas)
        , m_text(std::move(text))
    {
        setStateMachine(new QwtPickerTrackerMachine);
    }

protected:
    QwtText trackerTextF(const QPointF &pos) const override
    {
        QwtText text(m_text(pos.x()));
        QColor background = canvas()->palette().color(QPalette::ToolTipBase);
        text.setBackgroundBrush(background);
        text.setColor(canvas()->palette().color(QPalette::ToolTipText));
        return text;
    }

private:
    std::function<QString(double)> m_text;
};

// A limit as steps over time, left out where none was known.
class LimitCurve : public QwtPlotCurve
{
public:
    explicit LimitCurve(const QString &title)
        : QwtPlotCurve(title)
    {
        setStyle(Steps);
        // The window scales the axis to the limits itself; a gap's NaN must not count.
        setItemAttribute(AutoScale, false);
    }

protected:
    void drawSeries(QPainter *painter,
                    const QwtScaleMap &xMap,
                    const QwtScaleMap &yMap,
                    const QRectF &canvasRect,
                    int from,
                    int to) const override
    {
        if (to < 0)
            to = int(dataSize()) - 1;
        int start = -1;
        for (int i = qMax(0, from); i <= to + 1; ++i) {
            const bool known = i <= to && !std::isnan(sample(size_t(i)).y());
            if (known && start < 0) {
                start = i;
            } else if (!known && start >= 0) {
                QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, start, i - 1);
                start = -1;
            }
        }
    }
};

QString clockText(const QDateTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

constexpr int TrendWindow::SpanMinutes[];

TrendWindow::TrendWindow(TrendRecorder *recorder, QWidget *owner)
    : QWidget(owner, Qt::Window)
    , m_recorder(recorder)
{
    setObjectName(QStringLiteral("TrendWindow"));
    setAccessibleName(tr("Trends"));

    auto *spanLabel = new QLabel(tr("&Span"), this);
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("spanBox"));
    m_span->setAccessibleName(tr("Time span shown"));
    for (const int minutes : SpanMinutes)
        m_span->addItem(tr("%n min", nullptr, minutes), minutes);
    m_span->setCurrentIndex(DefaultSpanIndex);
    spanLabel->setBuddy(m_span);

    m_pause = new QPushButton(tr("&Pause"), this);
    m_pause->setObjectName(QStringLiteral("pauseButton"));
    m_pause->setCheckable(true);
    m_pause->setAccessibleName(tr("Pause the plots; recording goes on"));
    // The button alone is easily missed when the window is opened again later.
    m_pausedLabel = new QLabel(this);
    m_pausedLabel->setObjectName(QStringLiteral("pausedLabel"));
    m_pausedLabel->setVisible(false);

    auto *csv = new QPushButton(tr("Export &CSV\u2026"), this);
    csv->setObjectName(QStringLiteral("exportCsvButton"));
    csv->setAccessibleName(tr("Export the shown span as CSV"));
    auto *picture = new QPushButton(tr("Export p&icture\u2026"), this);
    picture->setObjectName(QStringLiteral("exportPictureButton"));
    picture->setAccessibleName(tr("Export the plots as PNG or SVG"));

    auto *controls = new QHBoxLayout;
    controls->addWidget(spanLabel);
    controls->addWidget(m_span);
    controls->addWidget(m_pause);
    controls->addWidget(m_pausedLabel);
    controls->addStretch();
    controls->addWidget(csv);
    controls->addWidget(picture);

    m_powerPlot = makePlot(QStringLiteral("powerPlot"), tr("Output power (W)"));
    m_powerPlot->setAccessibleName(tr("Output power of channels A, B and C"));
    m_tempPlot = makePlot(QStringLiteral("temperaturePlot"), tr("Temperature (\u00b0C)"));
    // One time axis, under both.
    m_powerPlot->enableAxis(QwtPlot::xBottom, false);
    m_tempPlot->setAccessibleName(tr("Cell 1, cell 2 and driver temperature with limits"));

    for (int i = 0; i < ReadingCount; ++i) {
        const QString title = tr(ReadingNames[i]);
        m_curves[i] = new TrendCurve(title, new TrendSeries(recorder, i));
        // Joins cost most of drawing the lines; at this width a bevel looks the same.
        QPen pen(LineColours[i % 3], 2.0);
        pen.setJoinStyle(Qt::BevelJoin);
        m_curves[i]->setPen(pen);
        m_curves[i]->setZ(10);
        // The temperatures are those held against limits.
        m_curves[i]->attach(Reply::Readings[i].hasLimit ? m_tempPlot : m_powerPlot);
    }
    for (int p = 0; p < 2; ++p) {
        m_faults[p] = new FaultShading(recorder);
        m_faults[p]->attach(p == 0 ? m_powerPlot : m_tempPlot);
    }
    m_cellLimit = new LimitCurve(tr("Cell limit"));
    m_driverLimit = new LimitCurve(tr("Driver limit"));
    for (QwtPlotCurve *limit : {m_cellLimit, m_driverLimit}) {
        limit->setZ(5);
        limit->attach(m_tempPlot);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_powerPlot, 1);
    layout->addWidget(m_tempPlot, 1);

    // The value axes take the same room, so that both plots' times line up.
    const int extent = fontMetrics().horizontalAdvance(QStringLiteral("0000.0")) + 12;
    for (QwtPlot *plot : {m_powerPlot, m_tempPlot})
        plot->axisScaleDraw(QwtPlot::yLeft)->setMinimumExtent(extent);

    applyPalette();
    // At 200 % a screen of 1080 lines is 540 high: the window then takes what it can of
    // the screen, leaving room for its title bar.
    resize(QSize(900, 620).boundedTo(screen()->availableGeometry().size() * 0.9));

    connect(m_span, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        redraw();
        updateRedrawTimer();
    });
    connect(m_pause, &QPushButton::toggled, this, &TrendWindow::setPaused);
    connect(csv, &QPushButton::clicked, this, &TrendWindow::askForCsv);
    connect(picture, &QPushButton::clicked, this, &TrendWindow::askForPicture);
    connect(recorder, &TrendRecorder::limitsChanged, this, [this] {
        if (m_paused || !isVisible())
            return;
        redraw();
    });
    connect(&m_redrawTimer, &QTimer::timeout, this, [this] {
        redraw();
        m_redrawTimer.setInterval(redrawIntervalMs());
    });
}

QwtPlot *TrendWindow::makePlot(const QString &name, const QString &axisTitle)
{
    auto *plot = new QwtPlot(this);
    plot->setObjectName(name);
    plot->setAutoReplot(false);
    // The window's size is the operator's: a plot's own hints follow its axes' labels and
    // would grow the window with them.
    plot->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    plot->setMinimumSize(320, 160);
    plot->setAxisTitle(QwtPlot::yLeft, axisTitle);
    plot->setAxisTitle(QwtPlot::xBottom, tr("Time"));
    // Local time by its offset from UTC, set by each redraw: asking the system for local
    // time at every tick re-reads its time zone file each time and cost most of a redraw.
    plot->setAxisScaleEngine(QwtPlot::xBottom, new QwtDateScaleEngine(Qt::OffsetFromUTC));
    auto *times = new QwtDateScaleDraw(Qt::OffsetFromUTC);
    // The last hour needs no date.
    times->setDateFormat(QwtDate::Millisecond, QStringLiteral("hh:mm:ss.zzz"));
    times->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss"));
    times->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm"));
    times->setDateFormat(QwtDate::Hour, QStringLiteral("hh:mm"));
    plot->setAxisScaleDraw(QwtPlot::xBottom, times);
    // Few times on the axis, or their labels alone would make the window wide.
    plot->setAxisMaxMajor(QwtPlot::xBottom, 6);
    plot->setAxisMaxMinor(QwtPlot::xBottom, 5);
    // Above the plot: beside it, legends of different widths would shift the two time
    // scales against each other.
    plot->insertLegend(new QwtLegend, QwtPlot::TopLegend);
    auto *canvas = new QwtPlotCanvas;
    canvas->setFrameStyle(QFrame::NoFrame);
    plot->setCanvas(canvas);
    plot->canvas()->setFocusPolicy(Qt::StrongFocus);
    plot->canvas()->setAccessibleName(axisTitle);
    new TrendPicker(plot->canvas(), [this](double wallMs) { return readout(wallMs); });
    return plot;
}

void TrendWindow::applyPalette()
{
    const QPalette colours = palette();
    const QColor text = colours.color(QPalette::Text);
    for (QwtPlot *plot : {m_powerPlot, m_tempPlot})
        plot->setCanvasBackground(colours.brush(QPalette::Base));
    QColor shade = text;
    shade.setAlpha(40);
    for (FaultShading *faults : m_faults)
        faults->setBrush(shade);
    m_cellLimit->setPen(text, 1.5, Qt::DashLine);
    m_driverLimit->setPen(LineColours[2], 1.5, Qt::DashLine);
    for (const QVector<QwtPlotMarker *> &markers : m_seriesMarkers) {
        for (QwtPlotMarker *marker : markers)
            marker->setLinePen(text, 1.0, Qt::DotLine);
    }
}

qint64 TrendWindow::spanMs() const
{
    return qint64(m_span->currentData().toInt()) * 60 * 1000;
}

int TrendWindow::redrawIntervalMs() const
{
    const int width = qMax(1, m_powerPlot->canvas()->width());
    return int(qMax<qint64>(MinRedrawIntervalMs, PixelsPerRedraw * spanMs() / width));
}

void TrendWindow::updateRedrawTimer()
{
    if (isVisible() && !isMinimized() && !m_paused)
        m_redrawTimer.start(redrawIntervalMs());
    else
        m_redrawTimer.stop();
}

void TrendWindow::setPaused(bool paused)
{
    m_paused = paused;
    m_pausedAt = m_recorder->now();
    m_pause->setText(paused ? tr("&Resume") : tr("&Pause"));
    m_pause->setAccessibleName(paused ? tr("Resume the plots")
                                      : tr("Pause the plots; recording goes on"));
    m_pausedSince = clockText(m_recorder->wallTime(m_pausedAt));
    m_pausedLabel->setText(tr("Paused since %1; recording goes on").arg(m_pausedSince));
    m_pausedLabel->setVisible(paused);
    setAccessibleDescription(paused ? m_pausedLabel->text() : QString());
    showPauseInTitle();
    if (!paused)
        redraw();
    updateRedrawTimer();
}

void TrendWindow::showPauseInTitle()
{
    m_settingTitle = true;
    setWindowTitle(m_paused ? tr("%1 (paused since %2)").arg(m_baseTitle, m_pausedSince)
                            : m_baseTitle);
    m_settingTitle = false;
}

QVector<TrendWindow::LimitStep> TrendWindow::shownLimits() const
{
    QVector<LimitStep> steps;
    const QVector<TrendLimits> &changes = m_recorder->limitChanges();
    for (int i = 0; i < changes.size(); ++i) {
        const qint64 next = i + 1 < changes.size() ? changes.at(i + 1).fromMs : m_shownTo;
        if (changes.at(i).fromMs > m_shownTo)
            break;
        if (!changes.at(i).known || next <= m_shownFrom)
            continue;
        steps.append(LimitStep{qMax(m_shownFrom, changes.at(i).fromMs),
                               qMin(m_shownTo, next),
                               changes.at(i).cellC,
                               changes.at(i).driverC});
    }
    return steps;
}

void TrendWindow::drawLimits(double *low, double *high)
{
    const qint64 offset = m_recorder->wallOffsetMs();
    QPolygonF cell;
    QPolygonF driver;
    for (const LimitStep &step : shownLimits()) {
        const double from = double(step.fromMs + offset);
        // Where a step does not follow on from the one before, no limit was known between.
        if (!cell.isEmpty() && cell.last().x() < from) {
            cell << QPointF(cell.last().x(), qQNaN());
            driver << QPointF(driver.last().x(), qQNaN());
        }
        const double to = double(step.toMs + offset);
        cell << QPointF(from, step.cellC) << QPointF(to, step.cellC);
        driver << QPointF(from, step.driverC) << QPointF(to, step.driverC);
        for (const int limit : {step.cellC, step.driverC}) {
            *low = qMin(*low, double(limit));
            *high = qMax(*high, double(limit));
        }
    }
    m_cellLimit->setSamples(cell);
    m_driverLimit->setSamples(driver);
}

void TrendWindow::drawSeriesStarts()
{
    const qint64 offset = m_recorder->wallOffsetMs();
    const auto starts = m_recorder->seriesStarts(m_shownFrom, m_shownTo);
    const QColor text = palette().color(QPalette::Text);
    for (int p = 0; p < 2; ++p) {
        QVector<QwtPlotMarker *> &markers = m_seriesMarkers[p];
        while (markers.size() < starts.size()) {
            auto *marker = new QwtPlotMarker(tr("Another amplifier"));
            marker->setLineStyle(QwtPlotMarker::VLine);
            marker->setLinePen(text, 1.0, Qt::DotLine);
            marker->setZ(6);
            marker->attach(p == 0 ? m_powerPlot : m_tempPlot);
            markers.append(marker);
        }
        for (int i = 0; i < markers.size(); ++i) {
            markers[i]->setVisible(i < starts.size());
            if (i >= starts.size())
                continue;
            markers[i]->setXValue(double(starts[i].timeMs + offset));
            // Named on the side with room, so the name stays inside the plot.
            const bool late = starts[i].timeMs - m_shownFrom > (m_shownTo - m_shownFrom) / 2;
            markers[i]->setLabelAlignment((late ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignTop);
            // Named once, above: the line below says the same.
            if (p == 0) {
                QwtText label(starts[i].amplifier.text());
                label.setColor(text);
                label.setBackgroundBrush(palette().brush(QPalette::Base));
                markers[i]->setLabel(label);
            }
        }
    }
}

void TrendWindow::redraw()
{
    const qint64 to = m_paused ? m_pausedAt : m_recorder->now();
    const qint64 from = to - spanMs();
    const qint64 offset = m_recorder->wallOffsetMs();
    const TrendRing &ring = m_recorder->samples();
    const int first = ring.lowerBound(from);
    const int count = ring.lowerBound(to + 1) - first;
    m_shownFrom = from;
    m_shownTo = to;

    const ShownSpan span{first, count, offset};
    for (TrendCurve *curve : m_curves) {
        curve->series()->setSpan(span);
        curve->itemChanged();
    }
    for (FaultShading *faults : m_faults)
        faults->setSpan(span);

    double low = qInf();
    double high = -qInf();
    for (int i = 3; i < ReadingCount; ++i) {
        const QRectF bounds = m_curves[i]->series()->boundingRect();
        if (bounds.width() < 0)
            continue;
        low = qMin(low, bounds.top());
        high = qMax(high, bounds.bottom());
    }
    drawLimits(&low, &high);
    drawSeriesStarts();
    // The limits stay in sight however far the temperatures are from them.
    if (low <= high)
        m_tempPlot->setAxisScale(QwtPlot::yLeft, std::floor(low) - 2, std::ceil(high) + 2);
    else
        m_tempPlot->setAxisScale(QwtPlot::yLeft, 0, 100);
    m_powerPlot->setAxisAutoScale(QwtPlot::yLeft, count > 0);
    if (count == 0)
        m_powerPlot->setAxisScale(QwtPlot::yLeft, 0, 10);

    const int utcOffset = QDateTime::fromMSecsSinceEpoch(to + offset).offsetFromUtc();
    for (QwtPlot *plot : {m_powerPlot, m_tempPlot}) {
        auto *engine = static_cast<QwtDateScaleEngine *>(plot->axisScaleEngine(QwtPlot::xBottom));
        auto *times = static_cast<QwtDateScaleDraw *>(plot->axisScaleDraw(QwtPlot::xBottom));
        if (engine->utcOffset() != utcOffset) {
            engine->setUtcOffset(utcOffset);
            times->setUtcOffset(utcOffset);
        }
        plot->setAxisScale(QwtPlot::xBottom, double(from + offset), double(to + offset));
        plot->replot();
    }
    ++m_redraws;
}

QString TrendWindow::readout(double wallMs) const
{
    const TrendRing &ring = m_recorder->samples();
    const qint64 offset = m_recorder->wallOffsetMs();
    const qint64 at = qint64(std::llround(wallMs)) - offset;
    int index = ring.lowerBound(at);
    if (index > 0
        && (index == ring.size() || at - ring.at(index - 1).timeMs < ring.at(index).timeMs - at))
        --index;
    if (index >= ring.size()
        || std::abs(ring.at(index).timeMs - at) > TrendRecorder::MaxSampleGapMs / 2)
        return QDateTime::fromMSecsSinceEpoch(at + offset).toString(QStringLiteral("HH:mm:ss"))
               + QLatin1Char('\n') + tr("no reading");
    const TrendSample &sample = ring.at(index);
    QString text = QDateTime::fromMSecsSinceEpoch(sample.timeMs + offset)
                       .toString(QStringLiteral("HH:mm:ss.zzz"));
    if (sample.fault)
        text += QLatin1Char(' ') + tr("fault");
    for (int i = 0; i < ReadingCount; ++i) {
        text += QLatin1String(i % 3 == 0 ? "\n" : "   ");
        const QString value = std::isnan(sample.tenths[i])
                                  ? QStringLiteral("\u2013")
                                  : Reply::displayTenths(double(sample.tenths[i]));
        text += tr(ReadingNames[i]) + QLatin1Char(' ') + value + QLatin1Char(' ') + unitOf(i);
    }
    // A fault is judged against the limits of its own time and amplifier, not today's.
    const TrendLimits limits = m_recorder->limitsAt(sample.timeMs);
    text += QLatin1Char('\n') + m_recorder->amplifierOf(sample).text() + QLatin1String(": ");
    text += limits.known ? tr("cell limit %1 %3, driver limit %2 %3")
                               .arg(limits.cellC)
                               .arg(limits.driverC)
                               .arg(unitOf(3))
                         : tr("no limits known");
    return text;
}

QVariantList TrendWindow::shownSpan() const
{
    const qint64 offset = m_recorder->wallOffsetMs();
    return {m_shownFrom + offset, m_shownTo + offset};
}

QVariantList TrendWindow::lines(int reading) const
{
    QVariantList result;
    if (reading < 0 || reading >= ReadingCount)
        return result;
    const TrendSeries *series = m_curves[reading]->series();
    for (const QPair<int, int> &run : series->lines(0, int(series->size()) - 1)) {
        result.append(QVariant(QVariantList{qint64(series->sample(size_t(run.first)).x()),
                                            qint64(series->sample(size_t(run.second)).x())}));
    }
    return result;
}

QVariantList TrendWindow::faultSpans() const
{
    QVariantList result;
    for (const QPair<qint64, qint64> &span : m_faults[0]->spans())
        result.append(QVariant(QVariantList{span.first, span.second}));
    return result;
}

QVariantList TrendWindow::limitSteps() const
{
    const qint64 offset = m_recorder->wallOffsetMs();
    QVariantList result;
    for (const LimitStep &step : shownLimits())
        result.append(QVariant(
            QVariantList{step.fromMs + offset, step.toMs + offset, step.cellC, step.driverC}));
    return result;
}

QVariantList TrendWindow::seriesStarts() const
{
    const qint64 offset = m_recorder->wallOffsetMs();
    QVariantList result;
    for (const TrendRecorder::SeriesStart &start : m_recorder->seriesStarts(m_shownFrom, m_shownTo))
        result.append(QVariant(QVariantList{start.timeMs + offset, start.amplifier.text()}));
    return result;
}

QString TrendWindow::pictureTitle() const
{
    // Every amplifier the picture shows, in their order.
    QStringList names;
    const TrendRing &ring = m_recorder->samples();
    qint64 series = -1;
    for (int i = ring.lowerBound(m_shownFrom); i < ring.size() && ring.at(i).timeMs <= m_shownTo;
         ++i) {
        if (qint64(ring.at(i).series) == series)
            continue;
        series = ring.at(i).series;
        names << m_recorder->amplifierOf(ring.at(i)).text();
    }
    if (names.isEmpty())
        names << m_recorder->amplifier().text();
    const QString span = tr("%n min to %1", nullptr, int(spanMs() / 60000))
                             .arg(clockText(m_recorder->wallTime(m_shownTo)));
    return tr("Korvane Amplifier %1 \u2014 %2").arg(names.join(tr(", then ")), span);
}

bool TrendWindow::exportCsv(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_recorder->csv(m_shownFrom, m_shownTo)) < 0
        || !file.commit()) {
        m_lastError = tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void TrendWindow::renderPicture(QPainter *painter, const QSize &size, int titleHeight) const
{
    painter->setPen(palette().color(QPalette::WindowText));
    painter->setFont(font());
    painter->drawText(QRect(0, 0, size.width(), titleHeight),
                      Qt::AlignCenter | Qt::TextWordWrap,
                      pictureTitle());
    QwtPlotRenderer renderer;
    const int half = (size.height() - titleHeight) / 2;
    const int lower = titleHeight + half;
    renderer.render(m_powerPlot, painter, QRectF(0, titleHeight, size.width(), half));
    renderer.render(m_tempPlot, painter, QRectF(0, lower, size.width(), size.height() - lower));
}

bool TrendWindow::exportPicture(const QString &path)
{
    // Without its title a picture passed on could be taken for another amplifier's.
    // On as many lines as a narrow window needs, with half a line's room above and below.
    const int titleHeight = fontMetrics()
                                .boundingRect(QRect(0, 0, m_powerPlot->width(), 0),
                                              Qt::AlignCenter | Qt::TextWordWrap,
                                              pictureTitle())
                                .height()
                            + fontMetrics().height();
    const QSize size(m_powerPlot->width(),
                     titleHeight + m_powerPlot->height() + m_tempPlot->height());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_lastError = tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(pictureTitle());
        QPainter painter(&svg);
        renderPicture(&painter, size, titleHeight);
    } else {
        const qreal ratio = devicePixelRatioF();
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(palette().color(QPalette::Window));
        image.setText(QStringLiteral("Title"), pictureTitle());
        {
            QPainter painter(&image);
            renderPicture(&painter, size, titleHeight);
        }
        if (!image.save(&file, "PNG")) {
            m_lastError = tr("Cannot write %1: the picture could not be encoded").arg(path);
            return false;
        }
    }
    if (!file.commit()) {
        m_lastError = tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void TrendWindow::askForCsv()
{
    const QString path = QFileDialog::getSaveFileName(this,
                                                      tr("Export the shown span as CSV"),
                                                      QStringLiteral("trends.csv"),
                                                      tr("CSV files (*.csv)"));
    if (!path.isEmpty() && !exportCsv(path))
        QMessageBox::warning(this, tr("Export failed"), m_lastError);
}

void TrendWindow::askForPicture()
{
    QString filter;
    const QString path = QFileDialog::getSaveFileName(this,
                                                      tr("Export the plots"),
                                                      QStringLiteral("trends.png"),
                                                      tr("PNG image (*.png);;SVG drawing (*.svg)"),
                                                      &filter);
    if (!path.isEmpty() && !exportPicture(path))
        QMessageBox::warning(this, tr("Export failed"), m_lastError);
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    redraw();
    updateRedrawTimer();
}

void TrendWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateRedrawTimer();
}

void TrendWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        updateRedrawTimer();
        if (!isMinimized() && isVisible() && !m_paused)
            redraw();
    } else if (event->type() == QEvent::PaletteChange) {
        applyPalette();
    } else if (event->type() == QEvent::WindowTitleChange && !m_settingTitle) {
        // The panel names the window after its own title; the pause is added to that.
        m_baseTitle = windowTitle();
        showPauseInTitle();
    }
}
