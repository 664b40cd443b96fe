#include "fleetwindow.h"

#include "agentcommand.h"
#include "fleetmodel.h"
#include "hostport.h"
#include "shelvedialog.h"
#include "tiletext.h"
#include "tilewidget.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolBar>

FleetWindow::FleetWindow(FleetModel *model, const QString &panelProgram, QWidget *parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_panelProgram(panelProgram)
{
    setWindowTitle(tr("Korvane fleet"));
    auto *bar = addToolBar(tr("Filter"));
    bar->setMovable(false);
    auto *filterLabel = new QLabel(tr("&Filter:"), bar);
    m_filter = new QLineEdit(bar);
    m_filter->setPlaceholderText(tr("name or model"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setAccessibleName(tr("Filter by name or model"));
    filterLabel->setBuddy(m_filter);
    m_onlyAlarms = new QCheckBox(tr("Only &alarms"), bar);
    bar->addWidget(filterLabel);
    bar->addWidget(m_filter);
    bar->addWidget(m_onlyAlarms);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_grid = new QWidget(m_scroll);
    m_layout = new QGridLayout(m_grid);
    m_layout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_scroll->setWidget(m_grid);
    setCentralWidget(m_scroll);

    m_brokerStatus = new QLabel(this);
    m_brokerStatus->setTextFormat(Qt::PlainText);
    m_counts = new QLabel(this);
    m_counts->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(m_brokerStatus, 1);
    statusBar()->addPermanentWidget(m_counts);

    connect(m_filter, &QLineEdit::textChanged, this, &FleetWindow::relayout);
    connect(m_onlyAlarms, &QCheckBox::toggled, this, &FleetWindow::relayout);
    connect(m_model, &FleetModel::tileChanged, this, &FleetWindow::onTileChanged);
    connect(m_model, &FleetModel::tileRemoved, this, &FleetWindow::onTileRemoved);
    connect(m_model, &FleetModel::orderChanged, this, &FleetWindow::relayout);
    connect(m_model, &FleetModel::ignored, this, &FleetWindow::updateCounts);
    m_ageTimer.setInterval(1000);
    connect(&m_ageTimer, &QTimer::timeout, this, &FleetWindow::refreshStale);
    m_ageTimer.start();
    for (const QString &name : m_model->order())
        onTileChanged(name);
    relayout();
    resize(1200, 800);
}

QStringList FleetWindow::panelArguments(const QString &advertise)
{
    // Every tile is an agent's: the panel may ask it for its role and lease.
    return {QStringLiteral("--connect"), advertise, QStringLiteral("--agent")};
}

void FleetWindow::setBrokerStatus(const QString &text, bool connected)
{
    m_brokerStatus->setText(connected ? text : tr("%1 – every tile is stale").arg(text));
    m_brokerStatus->setAccessibleName(m_brokerStatus->text());
}

void FleetWindow::onTileChanged(const QString &name)
{
    const FleetModel::Tile *tile = m_model->tile(name);
    if (!tile)
        return;
    TileWidget *widget = m_tiles.value(name);
    if (!widget) {
        widget = new TileWidget(name, m_grid);
        widget->hide();
        m_tiles.insert(name, widget);
        connect(widget, &TileWidget::moveFocus, this, &FleetWindow::moveFocus);
        connect(widget, &TileWidget::openPanel, this, &FleetWindow::openPanel);
        connect(widget, &TileWidget::acknowledge, this, [this](const QString &tileName) {
            sendCommand(tileName,
                        QLatin1String(Extension::Verb::Ack),
                        {{QStringLiteral("alarm"), QStringLiteral("all")}});
        });
        connect(widget, &TileWidget::shelve, this, &FleetWindow::shelve);
        widget->show(*tile, m_model->now());
        relayout();
        return;
    }
    widget->show(*tile, m_model->now());
    // A change in severity can take it in or out of "only alarms".
    if (m_onlyAlarms->isChecked()
        && TileText::matches(*tile, m_filter->text(), true) != m_shown.contains(name))
        relayout();
}

void FleetWindow::onTileRemoved(const QString &name)
{
    delete m_tiles.take(name);
    relayout();
}

void FleetWindow::refreshStale()
{
    for (TileWidget *widget : qAsConst(m_tiles)) {
        const FleetModel::Tile *tile = m_model->tile(widget->name());
        if (tile && !tile->isLive())
            widget->show(*tile, m_model->now());
    }
}

int FleetWindow::columns() const
{
    const int spacing = m_layout->horizontalSpacing();
    const int tileWidth = m_tiles.isEmpty() ? 1 : m_tiles.begin().value()->width() + spacing;
    const int available = m_scroll->viewport()->width() - 2 * spacing;
    return qMax(1, available / qMax(1, tileWidth));
}

void FleetWindow::relayout()
{
    QStringList shown;
    for (const QString &name : m_model->order()) {
        const FleetModel::Tile *tile = m_model->tile(name);
        if (tile && m_tiles.contains(name)
            && TileText::matches(*tile, m_filter->text(), m_onlyAlarms->isChecked()))
            shown << name;
    }
    const int columnCount = columns();
    if (shown == m_shown && columnCount == m_columns) {
        updateCounts();
        return;
    }
    while (m_layout->count() > 0)
        delete m_layout->takeAt(0);
    for (TileWidget *widget : qAsConst(m_tiles)) {
        if (!shown.contains(widget->name()))
            widget->hide();
    }
    QWidget *previous = m_onlyAlarms;
    for (int i = 0; i < shown.size(); ++i) {
        TileWidget *widget = m_tiles.value(shown.at(i));
        m_layout->addWidget(widget, i / columnCount, i % columnCount);
        widget->setVisible(true);
        // Tab walks the tiles in the order they are shown, each tile's buttons after it.
        setTabOrder(previous, widget);
        previous = widget;
        for (QWidget *child : widget->findChildren<QWidget *>()) {
            if (child->focusPolicy() & Qt::TabFocus) {
                setTabOrder(previous, child);
                previous = child;
            }
        }
    }
    m_shown = shown;
    m_columns = columnCount;
    updateCounts();
}

void FleetWindow::updateCounts()
{
    QString text = tr("%1 of %2 amplifiers shown").arg(m_shown.size()).arg(m_tiles.size());
    if (m_model->ignoredMessages() > 0)
        text += tr("; %1 messages ignored, the last: %2")
                    .arg(m_model->ignoredMessages())
                    .arg(FleetModel::printable(m_model->lastIgnored()));
    m_counts->setText(text);
}

void FleetWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (columns() != m_columns)
        relayout();
}

void FleetWindow::moveFocus(TileWidget *from, int key)
{
    const int index = m_shown.indexOf(from->name());
    if (index < 0)
        return;
    int next = index;
    switch (key) {
    case Qt::Key_Left:
        next = index - 1;
        break;
    case Qt::Key_Right:
        next = index + 1;
        break;
    case Qt::Key_Up:
        next = index - m_columns;
        break;
    case Qt::Key_Down:
        next = index + m_columns;
        break;
    default:
        return;
    }
    if (next < 0 || next >= m_shown.size())
        return;
    TileWidget *widget = m_tiles.value(m_shown.at(next));
    widget->setFocus(Qt::OtherFocusReason);
    m_scroll->ensureWidgetVisible(widget);
}

FleetWindow::AgentAddress FleetWindow::agentAddress(const QString &name)
{
    AgentAddress address;
    const FleetModel::Tile *tile = m_model->tile(name);
    address.widget = m_tiles.value(name);
    if (!tile || !address.widget)
        return {};
    address.text = tile->state.advertise;
    if (!HostPort::parse(address.text, &address.host, &address.port) || address.port == 0) {
        address.widget->showResult(tr("The agent says no address for clients"));
        return {};
    }
    return address;
}

void FleetWindow::openPanel(const QString &name)
{
    const AgentAddress agent = agentAddress(name);
    TileWidget *widget = agent.widget;
    if (!widget)
        return;
    const QStringList arguments = panelArguments(agent.text);
    if (QProcess::startDetached(m_panelProgram, arguments))
        widget->showResult(
            tr("Started %1 %2")
                .arg(m_panelProgram, FleetModel::printable(arguments.join(QLatin1Char(' ')))));
    else
        widget->showResult(tr("Cannot start %1").arg(m_panelProgram));
}

void FleetWindow::useAgentTls(const TlsFiles &files)
{
    m_agentTls = true;
    m_agentTlsFiles = files;
}

void FleetWindow::sendCommand(const QString &name, const QString &verb, const QJsonObject &body)
{
    const AgentAddress agent = agentAddress(name);
    TileWidget *widget = agent.widget;
    if (!widget)
        return;
    widget->showResult(tr("Asking the agent at %1…").arg(FleetModel::printable(agent.text)));
    auto *command = new AgentCommand(agent.host, agent.port, verb, body, this);
    if (m_agentTls)
        command->useTls(m_agentTlsFiles);
    connect(command,
            &AgentCommand::finished,
            this,
            [this, name, verb, command](bool ok, const QString &text) {
                command->deleteLater();
                if (TileWidget *target = m_tiles.value(name))
                    target->showResult(
                        ok ? tr("%1: %2").arg(verb, FleetModel::printable(text))
                           : tr("%1 failed: %2").arg(verb, FleetModel::printable(text)));
            });
    command->start();
}

void FleetWindow::shelve(const QString &name)
{
    const FleetModel::Tile *tile = m_model->tile(name);
    if (!tile || tile->state.alarmNames.isEmpty())
        return;
    ShelveDialog dialog(name, tile->state.alarmNames, this);
    if (dialog.exec() == QDialog::Accepted)
        sendCommand(name, QLatin1String(Extension::Verb::Shelve), dialog.request());
}
