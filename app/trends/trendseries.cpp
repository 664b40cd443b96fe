#include "trendseries.h"

#include "trendrecorder.h"

#include <cmath>

TrendSeries::TrendSeries(const TrendRecorder *recorder, int reading)
    : m_recorder(recorder)
    , m_reading(reading)
{}

void TrendSeries::setSpan(const ShownSpan &span)
{
    m_span = span;
    // Bounds of the values only: the axes scale to what is drawn, not to the gaps.
    double low = qInf();
    double high = -qInf();
    for (int i = 0; i < span.count; ++i) {
        if (!hasValue(i))
            continue;
        const double value = m_recorder->samples().at(span.first + i).value(m_reading);
        low = qMin(low, value);
        high = qMax(high, value);
    }
    if (low > high) {
        m_bounds = QRectF(1.0, 1.0, -2.0, -2.0); // invalid: nothing to scale to
        return;
    }
    const TrendRing &ring = m_recorder->samples();
    const double left = double(ring.at(span.first).timeMs + span.wallOffsetMs);
    const double right = double(ring.at(span.first + span.count - 1).timeMs + span.wallOffsetMs);
    m_bounds = QRectF(left, low, right - left, high - low);
}

QPointF TrendSeries::sample(size_t index) const
{
    const TrendSample &s = m_recorder->samples().at(m_span.first + int(index));
    return QPointF(double(s.timeMs + m_span.wallOffsetMs), s.value(m_reading));
}

bool TrendSeries::hasValue(int index) const
{
    return !std::isnan(m_recorder->samples().at(m_span.first + index).tenths[m_reading]);
}

QVector<QPair<int, int>> TrendSeries::lines(int from, int to) const
{
    QVector<QPair<int, int>> runs;
    int start = -1;
    for (int i = from; i <= to && i < m_span.count; ++i) {
        const bool breaks = m_recorder->samples().at(m_span.first + i).lineBreak;
        if (!hasValue(i) || (breaks && start >= 0)) {
            if (start >= 0)
                runs.append({start, i - 1});
            start = -1;
        }
        if (hasValue(i) && start < 0)
            start = i;
    }
    if (start >= 0)
        runs.append({start, qMin(to, m_span.count - 1)});
    return runs;
}
