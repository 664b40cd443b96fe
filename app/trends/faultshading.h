#pragma once

#include "shownspan.h"

#include <QBrush>
#include <QPair>
#include <QVector>

#include <qwt_plot_item.h>

class TrendRecorder;

// Shades the periods in which the amplifier reported a fault, over the plot's full height.
class FaultShading : public QwtPlotItem
{
public:
    explicit FaultShading(const TrendRecorder *recorder);

    void setBrush(const QBrush &brush);
    void setSpan(const ShownSpan &span);
    // The fault periods in the window, as [start, end) wall times in ms: from the first
    // reading with the fault to the next reading without it (or to the end of a line).
    QVector<QPair<qint64, qint64>> spans() const;

    int rtti() const override { return Rtti_PlotUserItem; }
    void draw(QPainter *painter,
              const QwtScaleMap &xMap,
              const QwtScaleMap &yMap,
              const QRectF &canvasRect) const override;
    QwtGraphic legendIcon(int index, const QSizeF &size) const override;

private:
    const TrendRecorder *m_recorder;
    QBrush m_brush;
    ShownSpan m_span;
};
