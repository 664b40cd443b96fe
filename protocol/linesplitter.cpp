#include "linesplitter.h"

QVector<LineSplitter::Line> LineSplitter::feed(const QByteArray &data)
{
    QVector<Line> lines;
    for (const char byte : data) {
        if (byte == '\r' || byte == '\n') {
            if (!m_discarding && !m_line.isEmpty())
                lines.append({m_line, false});
            m_line.clear();
            m_discarding = false;
            continue;
        }
        if (m_discarding)
            continue;
        if (m_line.size() == MaxLineLength) {
            // Reported now rather than at its end: a sender stuck without line ends
            // should show up at once, not never.
            lines.append({m_line, true});
            m_discarding = true;
            continue;
        }
        m_line.append(byte);
    }
    return lines;
}
