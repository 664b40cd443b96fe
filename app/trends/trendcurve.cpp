#include "trendcurve.h"

#include "trendseries.h"

#include <QPainter>

#include <qwt_scale_map.h>

TrendCurve::TrendCurve(const QString &title, TrendSeries *series)
    : QwtPlotCurve(title)
    , m_series(series)
{
    setData(series); // the curve owns it from here
    setPaintAttribute(ClipPolygons, true);
    setPaintAttribute(FilterPoints, true);
    setRenderHint(RenderAntialiased, true);
}

void TrendCurve::drawSeries(QPainter *painter,
                            const QwtScaleMap &xMap,
                            const QwtScaleMap &yMap,
                            const QRectF &canvasRect,
                            int from,
                            int to) const
{
    if (to < 0)
        to = int(dataSize()) - 1;
    const QVector<QPair<int, int>> runs = m_series->lines(qMax(0, from), to);
    for (const QPair<int, int> &run : runs) {
        // A run of one sample would draw nothing as a line; a dot shows it was read.
        if (run.first == run.second) {
            const QPointF point(xMap.transform(sample(size_t(run.first)).x()),
                                yMap.transform(sample(size_t(run.first)).y()));
            painter->save();
            painter->setPen(pen());
            painter->drawPoint(point);
            painter->restore();
            continue;
        }
        QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, run.first, run.second);
    }
}
