#include "trendrecorder.h"

#include "steadyclock.h"

#include <cmath>
#include <limits>

namespace {

// A measurement frame lists the temperatures first, the trends list the powers first.
int frameIndex(int reading)
{
    return reading < 3 ? reading + 3 : reading - 3;
}

} // namespace

TrendRecorder::TrendRecorder(QObject *parent)
    : QObject(parent)
    , m_steady(&Platform::steadyClockMs)
    , m_wall(&QDateTime::currentMSecsSinceEpoch)
{}

void TrendRecorder::setClocks(Clock steady, Clock wall)
{
    m_steady = std::move(steady);
    m_wall = std::move(wall);
}

void TrendRecorder::record(const Reply::Measurement &meas)
{
    if (meas.fieldCount < 1)
        return;
    TrendSample sample;
    sample.timeMs = m_steady();
    for (int i = 0; i < TrendSample::ReadingCount; ++i) {
        const int index = frameIndex(i);
        sample.tenths[i] = meas.isReadable(index) ? float(meas.reading(index))
                                                  : std::numeric_limits<float>::quiet_NaN();
    }
    sample.statusChar = meas.statusChar;
    sample.fault = meas.statusChar != Reply::NoFault;

    if (!m_ring.isEmpty()) {
        TrendSample &previous = m_ring.last();
        const qint64 since = sample.timeMs - previous.timeMs;
        if (!m_breakPending && since >= 0 && since < MinSampleSpacingMs) {
            sample.timeMs = previous.timeMs;
            sample.fault = sample.fault || previous.fault;
            sample.lineBreak = previous.lineBreak;
            previous = sample;
            emit recorded();
            return;
        }
        sample.lineBreak = m_breakPending || since > MaxSampleGapMs;
    }
    m_breakPending = false;
    m_ring.append(sample);
    emit recorded();
}

void TrendRecorder::setLimits(const Reply::Status &status)
{
    if (status.fieldCount < 3)
        return;
    if (m_hasLimits && m_cellLimitC == status.maxCellTempC && m_driverLimitC == status.maxDrvTempC)
        return;
    m_hasLimits = true;
    m_cellLimitC = status.maxCellTempC;
    m_driverLimitC = status.maxDrvTempC;
    emit limitsChanged();
}

void TrendRecorder::breakLine()
{
    m_breakPending = true;
}

qint64 TrendRecorder::wallOffsetMs() const
{
    return m_wall() - m_steady();
}

QDateTime TrendRecorder::wallTime(qint64 steadyMs) const
{
    return QDateTime::fromMSecsSinceEpoch(steadyMs + wallOffsetMs());
}

QByteArray TrendRecorder::csv(qint64 fromMs, qint64 toMs) const
{
    QByteArray text = ReadingFormat::csvHeader();
    const qint64 offset = wallOffsetMs();
    for (int i = m_ring.lowerBound(fromMs); i < m_ring.size(); ++i) {
        const TrendSample &sample = m_ring.at(i);
        if (sample.timeMs > toMs)
            break;
        double tenths[TrendSample::ReadingCount];
        for (int r = 0; r < TrendSample::ReadingCount; ++r)
            tenths[r] = double(sample.tenths[r]);
        text += ReadingFormat::csvRow(QDateTime::fromMSecsSinceEpoch(sample.timeMs + offset),
                                      tenths,
                                      sample.statusChar);
    }
    return text;
}
