#pragma once

#include <QTimer>
#include <QVariantList>
#include <QWidget>

class FaultShading;
class QComboBox;
class QPushButton;
class QwtPlot;
class QwtPlotMarker;
class TrendCurve;
class TrendRecorder;

// The trends of the last hour at a glance: the three output powers above, the three
// temperatures with their limits below, on one time axis, faults shaded and gaps left
// open. Draws what the recorder holds; records nothing itself.
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
    void askForCsv();
    void askForPicture();
    void renderPlots(QPainter *painter, const QSize &size) const;

    TrendRecorder *m_recorder;
    QComboBox *m_span = nullptr;
    QPushButton *m_pause = nullptr;
    QwtPlot *m_powerPlot = nullptr;
    QwtPlot *m_tempPlot = nullptr;
    TrendCurve *m_curves[ReadingCount] = {};
    FaultShading *m_faults[2] = {};
    QwtPlotMarker *m_cellLimit = nullptr;
    QwtPlotMarker *m_driverLimit = nullptr;
    QTimer m_redrawTimer;
    bool m_paused = false;
    qint64 m_pausedAt = 0;
    // The span last drawn, on the steady clock.
    qint64 m_shownFrom = 0;
    qint64 m_shownTo = 0;
    int m_redraws = 0;
    QString m_lastError;
};
