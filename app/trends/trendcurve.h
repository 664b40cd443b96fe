#pragma once

#include <qwt_plot_curve.h>

class TrendSeries;

// A reading's line that breaks wherever its series has a gap, instead of joining across.
class TrendCurve : public QwtPlotCurve
{
public:
    TrendCurve(const QString &title, TrendSeries *series);

    TrendSeries *series() const { return m_series; }

protected:
    void drawSeries(QPainter *painter,
                    const QwtScaleMap &xMap,
                    const QwtScaleMap &yMap,
                    const QRectF &canvasRect,
                    int from,
                    int to) const override;

private:
    void reduce(int first,
                int last,
                const QwtScaleMap &xMap,
                const QwtScaleMap &yMap,
                QPolygonF *line) const;

    TrendSeries *m_series;
};
