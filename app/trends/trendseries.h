#pragma once

#include "shownspan.h"

#include <QRectF>
#include <QVector>

#include <qwt_series_data.h>

class TrendRecorder;

// One reading's samples in the shown span, straight from the recorder's ring (no copy),
// placed on the wall clock as it reads now.
class TrendSeries : public QwtSeriesData<QPointF>
{
public:
    TrendSeries(const TrendRecorder *recorder, int reading);

    void setSpan(const ShownSpan &span);

    size_t size() const override { return size_t(m_span.count); }
    QPointF sample(size_t index) const override;
    QRectF boundingRect() const override { return m_bounds; }

    bool hasValue(int index) const;
    // The runs of samples a line joins, as [first, last] indices: a lost link, a silence or
    // a reading that was not read ends a run, and no line is drawn across.
    QVector<QPair<int, int>> lines(int from, int to) const;

private:
    const TrendRecorder *m_recorder;
    int m_reading;
    ShownSpan m_span;
    QRectF m_bounds;
};
