#pragma once

#include "readingformat.h"

#include <QtGlobal>

#include <vector>

// One reading of the six values as the trends keep it.
struct TrendSample
{
    static constexpr int ReadingCount = Reply::ReadingCount;

    // On the steady clock (Platform::steadyClockMs), which never steps.
    qint64 timeMs = 0;
    // In the order of Reply::Readings, in tenths as on the wire; NaN for a reading
    // the frame did not carry as a number.
    float tenths[ReadingCount] = {};
    qint8 statusChar = 0;
    bool fault = false;
    // No line joins this sample to the one before: the link was down or silent between, or
    // another amplifier answered.
    bool lineBreak = false;
    // Which amplifier's series it belongs to (TrendRecorder::amplifierOf); fits in what
    // would otherwise be padding.
    quint32 series = 0;

    double value(int reading) const { return tenths[reading] / 10.0; }
};
// An hour of them in 1.4 MiB, as the README says.
static_assert(sizeof(TrendSample) <= 40, "a sample grew");

// The newest samples up to a fixed count; a new one pushes out the oldest. The memory is
// taken when the first sample comes, and never more.
class TrendRing
{
public:
    explicit TrendRing(int capacity);

    int capacity() const { return m_capacity; }
    int size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    void append(const TrendSample &sample);
    // 0 is the oldest.
    const TrendSample &at(int index) const;
    TrendSample &at(int index);
    TrendSample &last();
    const TrendSample &last() const;
    // The index of the first sample at or after `timeMs`; size() when there is none.
    int lowerBound(qint64 timeMs) const;
    // What the samples take once the ring is full.
    qint64 fullBytes() const { return qint64(m_capacity) * qint64(sizeof(TrendSample)); }

private:
    int physical(int index) const { return (m_start + index) % m_capacity; }

    int m_capacity;
    std::vector<TrendSample> m_samples;
    int m_start = 0;
    int m_size = 0;
};
