#include "linesplitter.h"

#include <algorithm>
#include <cstring>

QVector<LineSplitter::Line> LineSplitter::feed(const QByteArray &data)
{
    QVector<Line> lines;
    const char *const end = data.constData() + data.size();
    for (const char *at = data.constData(); at < end; ++at) {
        if (m_discarding) {
            // A flood without line ends costs a scan, not a look at each byte.
            const char *cr = static_cast<const char *>(std::memchr(at, '\r', size_t(end - at)));
            const char *lf = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
            const char *stop = !cr ? lf : !lf ? cr : std::min(cr, lf);
            if (!stop)
                break;
            at = stop;
        }
        const char byte = *at;
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
