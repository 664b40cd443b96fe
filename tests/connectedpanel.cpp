#include "connectedpanel.h"

#include "appstate.h"
#include "findwidget.h"
#include "mainwindow.h"
#include "replywatch.h"
#include "scriptedpeer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

// The scripted peer answers only what a test sends: however slow the machine, that must not
// make the readings go stale, except where a test asks for it.
constexpr int PatientSilenceMs = 600000;

} // namespace

ConnectedPanel::ConnectedPanel() = default;

ConnectedPanel::~ConnectedPanel()
{
    stop();
}

bool ConnectedPanel::start(const std::function<void(MainWindow *)> &beforeConnect)
{
    App::resetState();
    m_peer = std::make_unique<ScriptedPeer>();
    if (!m_peer->listen()) {
        qWarning("the scripted amplifier cannot listen");
        return false;
    }
    App::amplifierTcpPort = m_peer->port();
    m_window = std::make_unique<MainWindow>();
    m_window->findChild<ReplyWatch *>()->setTimeout(PatientSilenceMs);
    if (beforeConnect)
        beforeConnect(m_window.get());
    m_window->show();
    findWidget<QLineEdit>(m_window.get(), "HostIP")->setText(QStringLiteral("127.0.0.1"));
    findWidget<QPushButton>(m_window.get(), "EthernetConnect")->click();
    if (!m_peer->waitForClient() || !m_peer->waitForLine("Status")) {
        qWarning("the panel did not connect to the scripted amplifier");
        return false;
    }
    return true;
}

void ConnectedPanel::stop()
{
    m_window.reset();
    m_peer.reset();
}
