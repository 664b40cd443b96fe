#include "tilewidget.h"

#include "tiletext.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int FrameWidth = 4;

} // namespace

TileWidget::TileWidget(const QString &name, QWidget *parent)
    : QFrame(parent)
    , m_name(name)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleDescription(tr("Amplifier tile"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(FrameWidth * 3, FrameWidth * 3, FrameWidth * 3, FrameWidth * 3);
    layout->setSpacing(2);
    m_title = addLine(true);
    m_headline = addLine(true);
    m_headline->setAlignment(Qt::AlignCenter);
    m_headline->setAutoFillBackground(true);
    m_stale = addLine();
    m_agent = addLine();
    m_amplifier = addLine();
    m_powers = addLine();
    m_temperatures = addLine();
    m_alarms = addLine();
    m_lease = addLine();
    m_result = addLine();
    m_result->hide();
    auto *buttons = new QHBoxLayout;
    m_open = new QPushButton(tr("Open panel"), this);
    m_ack = new QPushButton(tr("Acknowledge"), this);
    m_shelve = new QPushButton(tr("Shelve…"), this);
    for (QPushButton *button : {m_open, m_ack, m_shelve})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    connect(m_open, &QPushButton::clicked, this, [this] { emit openPanel(m_name); });
    connect(m_ack, &QPushButton::clicked, this, [this] { emit acknowledge(m_name); });
    connect(m_shelve, &QPushButton::clicked, this, [this] { emit shelve(m_name); });
    const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
    setFixedWidth(30 * em);
}

QLabel *TileWidget::addLine(bool large)
{
    // Names, models and holders come from whoever publishes on the broker: never markup.
    auto *label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    if (large) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 1.6);
        font.setBold(true);
        label->setFont(font);
    }
    layout()->addWidget(label);
    return label;
}

QColor TileWidget::colour(Alarm::Severity severity)
{
    switch (severity) {
    case Alarm::Severity::Minor:
        return QColor(0xff, 0xb0, 0x00); // amber
    case Alarm::Severity::Major:
        return QColor(0xd0, 0x00, 0x00); // red
    case Alarm::Severity::Invalid:
        return QColor(0xd0, 0x00, 0xd0); // magenta
    case Alarm::Severity::None:
        break;
    }
    return QColor();
}

void TileWidget::show(const FleetModel::Tile &tile, qint64 nowMs)
{
    m_severity = tile.severity();
    m_dashed = !tile.isLive() || !tile.state.up || m_severity == Alarm::Severity::Invalid;
    QString title = FleetModel::printable(tile.name);
    if (!tile.state.model.isEmpty())
        title += QStringLiteral(" · ") + FleetModel::printable(tile.state.model);
    m_title->setText(title);
    m_headline->setText(TileText::headline(tile));
    QPalette headlinePalette = palette();
    const QColor background = colour(m_severity);
    if (background.isValid()) {
        headlinePalette.setColor(QPalette::Window, background);
        headlinePalette.setColor(QPalette::WindowText,
                                 m_severity == Alarm::Severity::Minor ? Qt::black : Qt::white);
    }
    m_headline->setPalette(headlinePalette);
    const QString stale = TileText::staleness(tile, nowMs);
    m_stale->setText(stale);
    m_stale->setVisible(!stale.isEmpty());
    m_agent->setText(TileText::agent(tile));
    m_amplifier->setText(TileText::amplifier(tile));
    const bool readings = tile.hasState && tile.state.up;
    m_powers->setText(TileText::powers(tile));
    m_temperatures->setText(TileText::temperatures(tile));
    m_powers->setVisible(readings);
    m_temperatures->setVisible(readings);
    m_alarms->setText(TileText::alarms(tile));
    m_lease->setText(TileText::lease(tile));
    // What is not live is drawn as the palette draws what cannot be used.
    for (QLabel *value : {m_amplifier, m_powers, m_temperatures, m_alarms, m_lease})
        value->setEnabled(tile.isLive());
    const bool reachable = tile.hasState && !tile.state.advertise.isEmpty();
    m_open->setEnabled(reachable);
    m_ack->setEnabled(reachable && tile.state.unacknowledged > 0);
    m_shelve->setEnabled(reachable && !tile.state.alarmNames.isEmpty());
    const QString why = reachable ? QString() : tr("the agent says no address for clients");
    m_open->setToolTip(why);
    setAccessibleName(TileText::summary(tile, nowMs));
    // Its width is fixed: it grows downward to hold every line, wrapped.
    setMinimumHeight(layout()->totalHeightForWidth(width()));
    update();
}

void TileWidget::showResult(const QString &text)
{
    m_result->setText(text);
    m_result->setVisible(!text.isEmpty());
}

void TileWidget::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QColor severityColour = colour(m_severity);
    QPen pen(severityColour.isValid() ? severityColour : palette().color(QPalette::Mid));
    pen.setWidth(FrameWidth);
    pen.setStyle(m_dashed ? Qt::DashLine : Qt::SolidLine);
    painter.setPen(pen);
    painter.drawRect(
        rect().adjusted(FrameWidth / 2, FrameWidth / 2, -FrameWidth / 2, -FrameWidth / 2));
    if (hasFocus()) {
        QPen focus(palette().color(QPalette::Highlight));
        focus.setWidth(2);
        painter.setPen(focus);
        painter.drawRect(
            rect().adjusted(FrameWidth * 2, FrameWidth * 2, -FrameWidth * 2, -FrameWidth * 2));
    }
}

void TileWidget::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        emit moveFocus(this, event->key());
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_open->isEnabled())
            emit openPanel(m_name);
        return;
    default:
        QFrame::keyPressEvent(event);
    }
}

void TileWidget::focusInEvent(QFocusEvent *event)
{
    QFrame::focusInEvent(event);
    update();
}

void TileWidget::focusOutEvent(QFocusEvent *event)
{
    QFrame::focusOutEvent(event);
    update();
}
