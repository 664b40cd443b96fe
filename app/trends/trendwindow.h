#pragma once

#include <QTimer>
#include <QVariantList>
#include <QVector>
#include <QWidget>

class FaultShading;
class QComboBox;
class QLabel;
class QPushButton;
class QwtPlot;
class QwtPlotCurve;
class QwtPlotMarker;
class TrendCurve;
class TrendRecorder;

// The trends of the last hour at a glance: the three output powers above, the three
// temperatures with the limits then in force below, on one time axis, faults shaded, gaps
// left open and a change of amplifier marked. Draws what the recorder holds; records
// nothing itself.
class TrendWindow : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int redrawCount READ redrawCount)
    Q_PROPERTY(QString lastError READ lastError)

public:
    static constexpr int ReadingCount = 6;
    static constexpr int SpanMinutes[] = {1, 10, 60};
    static constexpr int DefaultSpanIndex = 1;
    // Redraws follow the poll at most, and come when the lines have moved on by three
    // pixels: every 260 ms over one minute, every 2.6 s over ten on a 700-pixel plot.
    static constexpr int MinRedrawIntervalMs = 100;
    static constexpr int PixelsPerRedraw = 3;

    TrendWindow(TrendRecorder *recorder, QWidget *owner);

    int redrawCount() const { return m_redraws; }
    QString lastError() const { return m_lastError; }

    // What is drawn, for those who cannot see it and for tests: the shown span as wall
    // times, each reading's lines as [start, end] wall times, and the fault periods.
    Q_INVOKABLE QVariantList shownSpan() const;
    Q_INVOKABLE QVariantList lines(int reading) const;
    Q_INVOKABLE QVariantList faultSpans() const;
    // The limits in the shown span as [from, to, cell, driver], wall times; none where no
    // limit was known. And where another amplifier's series begins, as [wall time, name].
    Q_INVOKABLE QVariantList limitSteps() const;
    Q_INVOKABLE QVariantList seriesStarts() const;
    // Names the amplifiers and the span: the exported picture's title.
    Q_INVOKABLE QString pictureTitle() const;
    // The read-out under the pointer: the time and the six values of the nearest reading.
    Q_INVOKABLE QString readout(double wallMs) const;
    // The shown span as CSV rows, and both plots as a PNG or SVG picture (by the suffix).
    Q_INVOKABLE bool exportCsv(const QString &path);
    Q_INVOKABLE bool exportPicture(const QString &path);

public slots:
    void redraw();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QwtPlot *makePlot(const QString &name, const QString &axisTitle);
    void applyPalette();
    void updateRedrawTimer();
    int redrawIntervalMs() const;
    qint64 spanMs() const;
    void setPaused(bool paused);
    void showPauseInTitle();
    struct LimitStep
    {
        qint64 fromMs;
        qint64 toMs;
        int cellC;
        int driverC;
    };
    // The known limits over the shown span, on the steady clock.
    QVector<LimitStep> shownLimits() const;
    void drawLimits(double *low, double *high);
    void drawSeriesStarts();
    void askForCsv();
    void askForPicture();
    void renderPicture(QPainter *painter, const QSize &size, int titleHeight) const;

    TrendRecorder *m_recorder;
    QComboBox *m_span = nullptr;
    QPushButton *m_pause = nullptr;
    QLabel *m_pausedLabel = nullptr;
    QwtPlot *m_powerPlot = nullptr;
    QwtPlot *m_tempPlot = nullptr;
    TrendCurve *m_curves[ReadingCount] = {};
    FaultShading *m_faults[2] = {};
    QwtPlotCurve *m_cellLimit = nullptr;
    QwtPlotCurve *m_driverLimit = nullptr;
    // Per plot, one for each change of amplifier in the shown span; the spare ones hidden.
    QVector<QwtPlotMarker *> m_seriesMarkers[2];
    // The title the panel gives the window, before the pause is added to it.
    QString m_baseTitle;
    bool m_settingTitle = false;
    QTimer m_redrawTimer;
    bool m_paused = false;
    qint64 m_pausedAt = 0;
    QString m_pausedSince;
    // The span last drawn, on the steady clock.
    qint64 m_shownFrom = 0;
    qint64 m_shownTo = 0;
    int m_redraws = 0;
    QString m_lastError;
};
