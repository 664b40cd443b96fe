#pragma once

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

    // The samples from index `first`, `count` of them, shifted by `wallOffsetMs`.
    void setWindow(int first, int count, qint64 wallOffsetMs);

    size_t size() const override { return size_t(m_count); }
    QPointF sample(size_t index) const override;
    QRectF boundingRect() const override { return m_bounds; }

    bool hasValue(int index) const;
    // The runs of samples a line joins, as [first, last] indices: a lost link, a silence or
    // a reading that was not read ends a run, and no line is drawn across.
    QVector<QPair<int, int>> lines(int from, int to) const;

private:
    const TrendRecorder *m_recorder;
    int m_reading;
    int m_first = 0;
    int m_count = 0;
    qint64 m_offset = 0;
    QRectF m_bounds;
};
