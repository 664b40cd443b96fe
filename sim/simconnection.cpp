#include "simconnection.h"

#include "amplifiermodel.h"

SimConnection::SimConnection(AmplifierModel *model,
                             const FaultOptions &faults,
                             const QString &name,
                             QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_faults(faults)
    , m_name(name)
{
    m_clock.start();
    m_delayTimer.setSingleShot(true);
    // A coarse timer may fire early, and a test measuring the delay would see that.
    m_delayTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_delayTimer, &QTimer::timeout, this, &SimConnection::runDueLines);
    m_burstTimer.setInterval(BurstGapMs);
    connect(&m_burstTimer, &QTimer::timeout, this, &SimConnection::writeNextPiece);
    m_paceTimer.setInterval(1);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &SimConnection::releasePaced);
}

void SimConnection::receive(const QByteArray &data)
{
    if (m_closing)
        return;
    const QVector<LineSplitter::Line> lines = m_splitter.feed(data);
    for (const LineSplitter::Line &line : lines) {
        if (line.overlong) {
            emit report(QStringLiteral("%1: line over %2 bytes discarded up to its end: '%3...'")
                            .arg(m_name)
                            .arg(LineSplitter::MaxLineLength)
                            .arg(QString::fromLatin1(line.text.left(40).toPercentEncoding(" "))));
            continue;
        }
        // Blanks alone are as empty as an empty line.
        if (line.text.trimmed().isEmpty())
            continue;
        if (m_faults.delayMs > 0) {
            m_delayed.enqueue({m_clock.elapsed() + m_faults.delayMs, line.text});
            if (!m_delayTimer.isActive())
                m_delayTimer.start(m_faults.delayMs);
        } else {
            handleLine(line.text);
        }
    }
}

void SimConnection::endOfInput()
{
    m_inputEnded = true;
    if (!m_closing && m_delayed.isEmpty())
        close();
}

void SimConnection::runDueLines()
{
    while (!m_delayed.isEmpty() && m_delayed.head().dueMs <= m_clock.elapsed())
        handleLine(m_delayed.dequeue().line);
    if (!m_delayed.isEmpty())
        m_delayTimer.start(int(qMax<qint64>(0, m_delayed.head().dueMs - m_clock.elapsed())));
    else if (m_inputEnded && !m_closing)
        close();
}

void SimConnection::handleLine(const QByteArray &line)
{
    if (m_closing)
        return;
    const QByteArray frame = m_model->handleLine(line);
    if (frame.isEmpty())
        return;
    if (m_faults.muteAfter >= 0 && m_replies >= m_faults.muteAfter) {
        if (!m_muteReported)
            emit report(QStringLiteral("%1: muted after %2 replies").arg(m_name).arg(m_replies));
        m_muteReported = true;
        return;
    }
    if (m_faults.dropAfter >= 0 && m_replies >= m_faults.dropAfter) {
        close();
        return;
    }
    ++m_replies;
    queueReply(frame);
    if (m_faults.dropAfter >= 0 && m_replies >= m_faults.dropAfter)
        close();
}

void SimConnection::queueReply(const QByteArray &frame)
{
    if (m_faults.junk)
        m_held += Junk;
    m_held += frame;
    if (++m_heldCount < m_faults.coalesceCount)
        return;
    write(m_held);
    m_held.clear();
    m_heldCount = 0;
}

void SimConnection::write(const QByteArray &bytes)
{
    if (m_faults.burstSize <= 0) {
        sendPaced(bytes);
        return;
    }
    for (int i = 0; i < bytes.size(); i += m_faults.burstSize)
        m_pieces.enqueue(bytes.mid(i, m_faults.burstSize));
    if (!m_burstTimer.isActive())
        writeNextPiece();
}

void SimConnection::writeNextPiece()
{
    if (!m_pieces.isEmpty())
        sendPaced(m_pieces.dequeue());
    if (!m_pieces.isEmpty()) {
        if (!m_burstTimer.isActive())
            m_burstTimer.start();
        return;
    }
    m_burstTimer.stop();
    closeIfDrained();
}

void SimConnection::sendPaced(const QByteArray &bytes)
{
    if (m_faults.baud <= 0) {
        emit send(bytes);
        return;
    }
    // The line is idle again once what is on it has gone.
    if (m_paced.isEmpty())
        m_pacedStartNs = qMax(m_pacedStartNs, m_clock.nsecsElapsed());
    m_paced += bytes;
    if (!m_paceTimer.isActive())
        m_paceTimer.start();
}

// Hands on each byte once its ten bits would have crossed the line.
void SimConnection::releasePaced()
{
    const qint64 byteNs = 10 * 1000000000LL / m_faults.baud;
    const qint64 done = (m_clock.nsecsElapsed() - m_pacedStartNs) / byteNs;
    const int count = int(qBound<qint64>(0, done, m_paced.size()));
    if (count > 0) {
        emit send(m_paced.left(count));
        m_paced.remove(0, count);
        m_pacedStartNs += count * byteNs;
    }
    if (!m_paced.isEmpty())
        return;
    m_paceTimer.stop();
    closeIfDrained();
}

void SimConnection::closeIfDrained()
{
    if (m_closing && !m_closeRequested && m_pieces.isEmpty() && m_paced.isEmpty()) {
        m_closeRequested = true;
        emit closeRequested();
    }
}

void SimConnection::close()
{
    emit report(QStringLiteral("%1: closing after %2 replies").arg(m_name).arg(m_replies));
    m_delayed.clear();
    m_delayTimer.stop();
    // Replies held back for coalescing were answers all the same: they go out first.
    if (!m_held.isEmpty())
        write(m_held);
    m_held.clear();
    m_heldCount = 0;
    // From here on the burst timer, if it still has pieces, asks for the close.
    m_closing = true;
    closeIfDrained();
}
