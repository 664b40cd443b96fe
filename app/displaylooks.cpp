#include "displaylooks.h"

#include <QEvent>
#include <QPalette>
#include <QTextEdit>
#include <QWidget>

namespace {

// Each names the text colour with the background, so that it stays readable whatever the
// palette.
const char OverLimitStyle[] = "QTextEdit { background-color: red; color: black; }";
// How far the stale text moves from the palette's text toward its background: enough to
// fade, not so far that it cannot be read.
constexpr double StaleFade = 0.45;

QColor mix(const QColor &from, const QColor &to, double share)
{
    const auto part = [share](int a, int b) { return int(a + (b - a) * share + 0.5); };
    return QColor(part(from.red(), to.red()),
                  part(from.green(), to.green()),
                  part(from.blue(), to.blue()));
}

} // namespace

DisplayLooks::DisplayLooks(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    window->installEventFilter(this);
}

QString DisplayLooks::styleSheet(Look look) const
{
    switch (look) {
    case Look::OverLimit:
        return QLatin1String(OverLimitStyle);
    case Look::Stale: {
        const QPalette &palette = m_window->palette();
        const QColor text = mix(palette.color(QPalette::Text),
                                palette.color(QPalette::Base),
                                StaleFade);
        return QStringLiteral("QTextEdit { color: %1; }").arg(text.name());
    }
    case Look::Unset:
    case Look::Live:
        break;
    }
    return QString();
}

void DisplayLooks::show(QTextEdit *display, Look look)
{
    if (m_looks.value(display, Look::Unset) == look)
        return;
    m_looks.insert(display, look);
    apply(display, look);
}

void DisplayLooks::apply(QTextEdit *display, Look look)
{
    const QString style = styleSheet(look);
    if (display->styleSheet() != style)
        display->setStyleSheet(style);
}

bool DisplayLooks::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::PaletteChange) {
        for (auto it = m_looks.cbegin(); it != m_looks.cend(); ++it) {
            if (it.value() == Look::Stale)
                apply(it.key(), it.value());
        }
    }
    return QObject::eventFilter(watched, event);
}
