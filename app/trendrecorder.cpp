#include "trendrecorder.h"

#include "steadyclock.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool startsAfter(qint64 timeMs, const TrendLimits &limits)
{
    return timeMs < limits.fromMs;
}

} // namespace

QString TrendAmplifier::text() const
{
    if (!isKnown())
        return QCoreApplication::translate("TrendRecorder", "not identified");
    const QString name = model.isEmpty()
                             ? QCoreApplication::translate("TrendRecorder", "unnamed model")
                             : model;
    return QCoreApplication::translate("TrendRecorder", "%1 at %2").arg(name, address);
}

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
    // In the order of the table of readings, which the window's curves follow.
    for (int i = 0; i < TrendSample::ReadingCount; ++i) {
        const Reply::MeasField field = Reply::Readings[i].field;
        sample.tenths[i] = meas.isReadable(field) ? float(meas.tenths(field))
                                                  : std::numeric_limits<float>::quiet_NaN();
    }
    sample.statusChar = meas.statusChar;
    sample.fault = meas.statusChar != Reply::NoFault;
    sample.series = m_series.last().number;

    if (!m_ring.isEmpty()) {
        TrendSample &previous = m_ring.last();
        const qint64 since = sample.timeMs - previous.timeMs;
        const bool sameSeries = previous.series == sample.series;
        if (!m_breakPending && sameSeries && since >= 0 && since < MinSampleSpacingMs) {
            sample.timeMs = previous.timeMs;
            sample.fault = sample.fault || previous.fault;
            sample.lineBreak = previous.lineBreak;
            previous = sample;
            emit recorded();
            return;
        }
        sample.lineBreak = m_breakPending || !sameSeries || since > MaxSampleGapMs;
        // A silence the panel's own watch did not report counts as one all the same.
        if (!m_breakPending && since > MaxSampleGapMs)
            addLimits(TrendLimits{previous.timeMs + MaxSampleGapMs, false, 0, 0});
    }
    m_breakPending = false;
    m_sinceBreak = qMin(m_sinceBreak + 1, Capacity);
    if (m_series.last().startMs < 0)
        m_series.last().startMs = sample.timeMs;
    m_ring.append(sample);
    forgetPushedOut();
    emit recorded();
}

void TrendRecorder::forgetPushedOut()
{
    const TrendSample &oldest = m_ring.at(0);
    if (m_series.size() > 1 && m_series.at(1).number <= oldest.series)
        m_series.removeFirst();
    if (m_limits.size() > 1 && m_limits.at(1).fromMs <= oldest.timeMs)
        m_limits.removeFirst();
}

void TrendRecorder::setLimits(const Reply::Status &status)
{
    if (status.fieldCount < 3)
        return;
    addLimits(TrendLimits{m_steady(), true, status.maxCellTempC, status.maxDrvTempC});
}

void TrendRecorder::addLimits(const TrendLimits &limits)
{
    const TrendLimits before = limitsAt(limits.fromMs);
    if (before.known == limits.known
        && (!limits.known || (before.cellC == limits.cellC && before.driverC == limits.driverC)))
        return;
    auto at = std::upper_bound(m_limits.begin(), m_limits.end(), limits.fromMs, startsAfter);
    if (at != m_limits.begin() && (at - 1)->fromMs == limits.fromMs)
        *(at - 1) = limits;
    else
        m_limits.insert(at, limits);
    emit limitsChanged();
}

TrendLimits TrendRecorder::limitsAt(qint64 timeMs) const
{
    auto after = std::upper_bound(m_limits.cbegin(), m_limits.cend(), timeMs, startsAfter);
    return after == m_limits.cbegin() ? TrendLimits() : *(after - 1);
}

void TrendRecorder::breakLine()
{
    m_breakPending = true;
    m_sinceBreak = 0;
    m_identified = false;
    // While the amplifier is not heard its limits may be changed by others; the next Status
    // tells them again.
    addLimits(TrendLimits{m_steady(), false, 0, 0});
}

void TrendRecorder::setAmplifier(const QString &model, const QString &address)
{
    const bool vouchedFor = m_identified;
    m_identified = true;
    const Series current = m_series.last();
    if (current.amplifier.model == model && current.amplifier.address == address)
        return;
    // The link identifies itself first, but a reply can be lost: the samples since the last
    // break that no identification vouched for may already be this amplifier's, and must
    // not pass for the one before.
    const int first = m_ring.size() - (vouchedFor ? 0 : qMin(m_sinceBreak, m_ring.size()));
    const bool allSinceBreak = current.startMs < 0 || first == 0
                               || m_ring.at(first - 1).series != current.number;
    if (!current.amplifier.isKnown() && allSinceBreak) {
        m_series.last().amplifier = TrendAmplifier{model, address};
        return;
    }
    Series next{current.number + 1, -1, TrendAmplifier{model, address}};
    for (int i = first; i < m_ring.size(); ++i)
        m_ring.at(i).series = next.number;
    if (first < m_ring.size()) {
        m_ring.at(first).lineBreak = true;
        next.startMs = m_ring.at(first).timeMs;
    }
    m_series.append(next);
    // After a break the limits are unknown already, and a Status since came on this link.
    if (vouchedFor)
        addLimits(TrendLimits{m_steady(), false, 0, 0});
}

const TrendAmplifier &TrendRecorder::amplifierOf(const TrendSample &sample) const
{
    static const TrendAmplifier unknown;
    const qint64 index = qint64(sample.series) - qint64(m_series.first().number);
    return index >= 0 && index < m_series.size() ? m_series.at(int(index)).amplifier : unknown;
}

QVector<TrendRecorder::SeriesStart> TrendRecorder::seriesStarts(qint64 fromMs, qint64 toMs) const
{
    QVector<SeriesStart> starts;
    // The first series began with the recording, not with a change.
    for (const Series &series : m_series) {
        if (series.number > 0 && series.startMs >= fromMs && series.startMs <= toMs)
            starts.append(SeriesStart{series.startMs, series.amplifier});
    }
    return starts;
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
    text.chop(1);
    text += ",model,address\n";
    const qint64 offset = wallOffsetMs();
    for (int i = m_ring.lowerBound(fromMs); i < m_ring.size(); ++i) {
        const TrendSample &sample = m_ring.at(i);
        if (sample.timeMs > toMs)
            break;
        double tenths[TrendSample::ReadingCount];
        for (int r = 0; r < TrendSample::ReadingCount; ++r)
            tenths[r] = double(sample.tenths[r]);
        QByteArray row = ReadingFormat::csvRow(QDateTime::fromMSecsSinceEpoch(sample.timeMs
                                                                              + offset),
                                               tenths,
                                               sample.statusChar);
        row.chop(1);
        const TrendAmplifier &amplifier = amplifierOf(sample);
        for (const QString &field : {amplifier.model, amplifier.address}) {
            row += ',';
            row += ReadingFormat::csvField(ReadingFormat::printable(field.toUtf8())).toUtf8();
        }
        text += row + '\n';
    }
    return text;
}
