#include "trendcurve.h"

#include "trendseries.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>

#include <qwt_painter.h>
#include <qwt_scale_map.h>

TrendCurve::TrendCurve(const QString &title, TrendSeries *series)
    : QwtPlotCurve(title)
    , m_series(series)
{
    setData(series); // the curve owns it from here
    // Qt's antialiased rasteriser is also its fast one for wide lines.
    setRenderHint(RenderAntialiased, true);
}

void TrendCurve::drawSeries(QPainter *painter,
                            const QwtScaleMap &xMap,
                            const QwtScaleMap &yMap,
                            const QRectF &,
                            int from,
                            int to) const
{
    if (to < 0)
        to = int(dataSize()) - 1;
    painter->save();
    painter->setPen(pen());
    painter->setRenderHint(QPainter::Antialiasing, testRenderHint(RenderAntialiased));
    QPolygonF line;
    for (const QPair<int, int> &run : m_series->lines(qMax(0, from), to)) {
        reduce(run.first, run.second, xMap, yMap, &line);
        // A run of one reading would draw nothing as a line; a dot shows it was read.
        if (line.size() == 1)
            painter->drawPoint(line.first());
        else
            QwtPainter::drawPolyline(painter, line); // in short pieces, which Qt fills fast
    }
    painter->restore();
}

// An hour holds far more readings than the plot has pixel columns. Per column the lowest
// and highest reading, in their order, draw the same picture as all of them, at a cost
// that follows the plot's width, not the span: stroking the line's corners is what costs.
void TrendCurve::reduce(
    int first, int last, const QwtScaleMap &xMap, const QwtScaleMap &yMap, QPolygonF *line) const
{
    line->clear();
    int column = 0;
    int count = 0;
    QPointF firstPoint;
    QPointF low;
    QPointF high;
    QPointF lastPoint;
    int lowIndex = 0;
    int highIndex = 0;
    // A steady reading is one straight piece, however many columns it crosses.
    auto append = [line](const QPointF &point) {
        const int size = line->size();
        if (size >= 2 && line->at(size - 1).y() == point.y() && line->at(size - 2).y() == point.y())
            (*line)[size - 1] = point;
        else
            line->append(point);
    };
    auto flush = [&] {
        if (count == 0)
            return;
        // Within one pixel row the column is a point.
        if (count > 1 && low.y() - high.y() < 1.0) {
            append(lastPoint);
            return;
        }
        if (count > 2) {
            const bool lowFirst = lowIndex < highIndex;
            append(lowFirst ? low : high);
            append(lowFirst ? high : low);
            return;
        }
        append(firstPoint);
        if (count > 1)
            append(lastPoint);
    };
    for (int i = first; i <= last; ++i) {
        const QPointF value = sample(size_t(i));
        const QPointF point(xMap.transform(value.x()), yMap.transform(value.y()));
        const int pixel = int(std::floor(point.x()));
        if (count == 0 || pixel != column) {
            flush();
            column = pixel;
            count = 0;
            firstPoint = low = high = point;
            lowIndex = highIndex = i;
        }
        ++count;
        if (point.y() > low.y()) {
            low = point;
            lowIndex = i;
        }
        if (point.y() < high.y()) {
            high = point;
            highIndex = i;
        }
        lastPoint = point;
    }
    flush();
}
