#include "trendring.h"

TrendRing::TrendRing(int capacity)
    : m_capacity(qMax(1, capacity))
{}

void TrendRing::append(const TrendSample &sample)
{
    if (m_samples.capacity() == 0)
        m_samples.reserve(size_t(m_capacity));
    if (m_size < m_capacity) {
        m_samples.push_back(sample);
        ++m_size;
        return;
    }
    m_samples[size_t(m_start)] = sample;
    m_start = (m_start + 1) % m_capacity;
}

const TrendSample &TrendRing::at(int index) const
{
    return m_samples[size_t(physical(index))];
}

TrendSample &TrendRing::at(int index)
{
    return m_samples[size_t(physical(index))];
}

TrendSample &TrendRing::last()
{
    return m_samples[size_t(physical(m_size - 1))];
}

const TrendSample &TrendRing::last() const
{
    return m_samples[size_t(physical(m_size - 1))];
}

int TrendRing::lowerBound(qint64 timeMs) const
{
    int low = 0;
    int high = m_size;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (at(middle).timeMs < timeMs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}
