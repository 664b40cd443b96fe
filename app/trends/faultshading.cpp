#include "faultshading.h"

#include "trendrecorder.h"

#include <QPainter>

#include <qwt_graphic.h>
#include <qwt_scale_map.h>

FaultShading::FaultShading(const TrendRecorder *recorder)
    : QwtPlotItem(QwtText(QObject::tr("Fault")))
    , m_recorder(recorder)
{
    setItemAttribute(Legend, true);
    setLegendIconSize(QSize(16, 10));
    setZ(0); // under the lines
}

void FaultShading::setBrush(const QBrush &brush)
{
    m_brush = brush;
    legendChanged();
    itemChanged();
}

void FaultShading::setSpan(const ShownSpan &span)
{
    m_span = span;
}

QVector<QPair<qint64, qint64>> FaultShading::spans() const
{
    QVector<QPair<qint64, qint64>> result;
    const TrendRing &ring = m_recorder->samples();
    qint64 start = -1;
    qint64 lastFault = 0;
    for (int i = m_span.first; i < m_span.first + m_span.count; ++i) {
        const TrendSample &sample = ring.at(i);
        const qint64 time = sample.timeMs + m_span.wallOffsetMs;
        if (start >= 0 && (!sample.fault || sample.lineBreak)) {
            // Over a gap nobody knows when the fault ended: the shade stops at its last reading.
            result.append({start, sample.lineBreak ? lastFault : time});
            start = -1;
        }
        if (sample.fault) {
            if (start < 0)
                start = time;
            lastFault = time;
        }
    }
    if (start >= 0)
        result.append({start, lastFault});
    return result;
}

void FaultShading::draw(QPainter *painter,
                        const QwtScaleMap &xMap,
                        const QwtScaleMap &,
                        const QRectF &canvasRect) const
{
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(m_brush);
    // A fault seen by a single reading still gets a visible band.
    constexpr double MinWidth = 2.0;
    for (const QPair<qint64, qint64> &span : spans()) {
        const double left = xMap.transform(double(span.first));
        const double right = xMap.transform(double(span.second));
        painter->drawRect(
            QRectF(left, canvasRect.top(), qMax(MinWidth, right - left), canvasRect.height()));
    }
    painter->restore();
}

QwtGraphic FaultShading::legendIcon(int, const QSizeF &size) const
{
    QwtGraphic icon;
    icon.setDefaultSize(size);
    icon.setRenderHint(QwtGraphic::RenderPensUnscaled, true);
    QPainter painter(&icon);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_brush);
    painter.drawRect(QRectF(QPointF(0, 0), size));
    return icon;
}
