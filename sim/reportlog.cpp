#include "reportlog.h"

#include <QRegularExpression>

ReportLog::ReportLog(Printer printer, QObject *parent)
    : QObject(parent)
    , m_printer(std::move(printer))
{
    m_window.setInterval(WindowMs);
    connect(&m_window, &QTimer::timeout, this, &ReportLog::endWindow);
}

ReportLog::~ReportLog()
{
    endWindow();
}

QString ReportLog::kindOf(const QString &message)
{
    static const QRegularExpression variable(QStringLiteral("'[^']*'|\\d+"));
    return QString(message).remove(variable);
}

void ReportLog::report(const QString &message)
{
    if (!m_window.isActive())
        m_window.start();
    const QString kind = kindOf(message);
    const auto shown = m_shown.find(kind);
    if (shown != m_shown.end()) {
        ++shown->count;
        shown->last = message;
        return;
    }
    if (m_lines >= MaxLinesPerWindow) {
        ++m_unshown;
        return;
    }
    m_shown.insert(kind, Repeats());
    print(message);
}

void ReportLog::endWindow()
{
    for (const Repeats &repeats : qAsConst(m_shown)) {
        if (repeats.count > 0)
            print(QStringLiteral("%1 more like this in the last second, the last: %2")
                      .arg(repeats.count)
                      .arg(repeats.last));
    }
    if (m_unshown > 0)
        print(QStringLiteral("%1 more reports in the last second not shown").arg(m_unshown));
    // A quiet second ends the window: the next report is shown at once.
    if (m_lines == 0)
        m_window.stop();
    m_shown.clear();
    m_lines = 0;
    m_unshown = 0;
}

void ReportLog::print(const QString &line)
{
    ++m_lines;
    m_printer(line);
}
