#include "commandrunner.h"

#include "commands.h"
#include "exitstatus.h"
#include "measwatch.h"
#include "models.h"
#include "output.h"
#include "portscanner.h"
#include "replies.h"

#include <QDateTime>
#include <QJsonObject>

CommandRunner::CommandRunner(const Invocation &invocation, QObject *parent)
    : QObject(parent)
    , m_invocation(invocation)
    , m_link(invocation.target)
    , m_requester(&m_link, invocation.timeoutMs)
    , m_agent(&m_link, invocation.timeoutMs)
{
    if (m_invocation.talksToAgent())
        m_link.setMaxFrameSize(Extension::MaxFrameSize);
}

void CommandRunner::start()
{
    if (m_invocation.command == Invocation::Scan) {
        scan();
        return;
    }
    // A file that cannot be written is found out before the amplifier is bothered.
    if (!m_invocation.csvPath.isEmpty() && !m_log.open(m_invocation.csvPath, Output::csvHeader())) {
        fail(tr("cannot open %1").arg(m_log.errorString()));
        return;
    }
    if (m_invocation.watch) {
        startWatch();
        return;
    }
    connect(&m_link, &AmplifierLink::opened, this, &CommandRunner::onOpened);
    connect(&m_link, &AmplifierLink::openFailed, this, [this](const QString &reason) {
        fail(tr("cannot open %1: %2").arg(m_link.target().text(), reason));
    });
    connect(&m_link, &AmplifierLink::linkLost, this, [this](const QString &reason) {
        fail(tr("link to %1 lost: %2").arg(m_link.target().text(), reason));
    });
    connect(&m_link, &AmplifierLink::allWritten, this, [this] { finish(ExitStatus::Success); });
    connect(&m_requester, &Requester::answered, this, &CommandRunner::onAnswered);
    connect(&m_agent, &AgentExchange::answered, this, &CommandRunner::onAgentAnswered);
    connect(&m_agent, &AgentExchange::timedOut, this, &CommandRunner::onAgentTimedOut);
    connect(&m_agent,
            &AgentExchange::refused,
            this,
            [this](const QString &command, const QString &reason) {
                m_agentRefusal = tr("'%1' refused by korvane-agent: %2")
                                     .arg(Output::printable(command.toUtf8()),
                                          Output::printable(reason.toUtf8()));
            });
    connect(&m_requester, &Requester::timedOut, this, [this](const QString &command) {
        const QString after = m_invocation.line.isEmpty()
                                  ? QString()
                                  : tr(" (sent after '%1')").arg(m_invocation.line);
        fail(tr("no reply to '%1'%2 from %3 within %4 ms")
                 .arg(command, after, m_link.target().text())
                 .arg(m_requester.timeoutMs()));
    });
    m_link.open();
}

void CommandRunner::stop()
{
    if (m_watch)
        m_watch->stop();
}

void CommandRunner::scan()
{
    if (!m_invocation.probePorts.isEmpty()) {
        const QList<Platform::SerialPortEntry> ports = m_invocation.probePorts;
        Platform::setSerialPortProvider([ports] { return ports; });
    }
    bool found = false;
    const QList<PortScanner::Outcome> outcomes = PortScanner().scan();
    for (const PortScanner::Outcome &outcome : outcomes) {
        Output::print(outcome.line + QLatin1Char('\n'));
        found = found || outcome.matched;
    }
    if (!found)
        Output::printError(tr("no amplifier found"));
    finish(found ? ExitStatus::Success : ExitStatus::Failure);
}

void CommandRunner::startWatch()
{
    m_watch = new MeasWatch(&m_link, &m_requester, m_log.isOpen() ? &m_log : nullptr, this);
    m_watch->setInterval(m_invocation.intervalMs);
    m_watch->setCount(m_invocation.count);
    m_watch->setJson(m_invocation.json);
    connect(m_watch, &MeasWatch::finished, this, &CommandRunner::finish);
    m_watch->start();
}

void CommandRunner::onOpened()
{
    // Nothing of the agent's goes out unless the command is the agent's, or a lease is
    // given: a plain command sends the amplifier's lines alone.
    if (m_invocation.talksToAgent()) {
        m_link.discardInput();
        m_agentStep = AgentStep::Hello;
        askAgent(Extension::line(QLatin1String(Extension::Verb::Hello)));
        return;
    }
    askAmplifier();
}

void CommandRunner::askAgent(const QByteArray &line)
{
    m_agentAsked = line.left(line.indexOf(' '));
    m_agent.ask(line);
}

void CommandRunner::onAgentAnswered(const Extension::Message &message)
{
    const bool error = message.verb == QLatin1String(Extension::Verb::Error);
    switch (m_agentStep) {
    case AgentStep::Hello:
        if (message.verb != QLatin1String(Extension::Verb::Hello)) {
            fail(tr("%1: not a korvane-agent").arg(m_link.target().text()));
            return;
        }
        if (!m_invocation.leaseToken.isEmpty()) {
            m_agentStep = AgentStep::LeaseUse;
            askAgent(Extension::line(QLatin1String(Extension::Verb::LeaseUse),
                                     {{QStringLiteral("token"), m_invocation.leaseToken}}));
            return;
        }
        afterHello();
        return;
    case AgentStep::LeaseUse:
        if (!error && message.verb != QLatin1String(Extension::Verb::Ok))
            break;
        if (error) {
            finish(agentOutput(message));
            return;
        }
        afterHello();
        return;
    case AgentStep::Command:
        finish(agentOutput(message));
        return;
    case AgentStep::None:
        return;
    }
    fail(tr("unexpected answer '@%1' to '%2' from %3")
             .arg(message.verb, QString::fromUtf8(m_agentAsked), m_link.target().text()));
}

void CommandRunner::onAgentTimedOut()
{
    if (m_agentStep == AgentStep::Hello) {
        fail(tr("%1: not a korvane-agent").arg(m_link.target().text()));
        return;
    }
    fail(tr("no answer to '%1' from %2 within %3 ms")
             .arg(QString::fromUtf8(m_agentAsked), m_link.target().text())
             .arg(m_agent.timeoutMs()));
}

void CommandRunner::afterHello()
{
    if (m_invocation.isAgentCommand()) {
        m_agentStep = AgentStep::Command;
        askAgent(m_invocation.agentLine);
        return;
    }
    m_agentStep = AgentStep::None;
    askAmplifier();
}

// What the agent answered the command, for the person or script that asked.
int CommandRunner::agentOutput(const Extension::Message &message)
{
    const QJsonObject &body = message.body;
    if (message.verb == QLatin1String(Extension::Verb::Error)) {
        const QString command = body.value(QStringLiteral("command")).toString();
        Output::printError(
            tr("%1 refused: %2")
                .arg(Output::printable(
                         (command.isEmpty() ? QString::fromUtf8(m_agentAsked.mid(1)) : command)
                             .toUtf8()),
                     Output::printable(body.value(QStringLiteral("reason")).toString().toUtf8())));
        return ExitStatus::Failure;
    }
    const Invocation::Command command = m_invocation.command;
    const char *expected = command == Invocation::Alarms      ? Extension::Verb::Alarms
                           : command == Invocation::LeaseShow ? Extension::Verb::Lease
                                                              : Extension::Verb::Ok;
    if (message.verb != QLatin1String(expected)) {
        Output::printError(tr("unexpected answer '@%1' to '%2' from %3")
                               .arg(Output::printable(message.verb.toUtf8()),
                                    QString::fromUtf8(m_agentAsked),
                                    m_link.target().text()));
        return ExitStatus::Failure;
    }
    if (m_invocation.json) {
        Output::print(QString::fromUtf8(Output::json(body, true)));
        return ExitStatus::Success;
    }
    Output::print(Output::agentAnswer(command, body));
    return ExitStatus::Success;
}

void CommandRunner::askAmplifier()
{
    switch (m_invocation.command) {
    case Invocation::Identify:
        m_requester.ask(QLatin1String(Command::Identify), Reply::Kind::Identification);
        break;
    case Invocation::Status:
        m_requester.ask(QLatin1String(Command::Status), Reply::Kind::Status);
        break;
    case Invocation::Meas:
        m_requester.ask(QLatin1String(Command::Meas), Reply::Kind::Measurement);
        break;
    default:
        // Only some models switch RF by command, or have a linearity setting: the model is
        // asked for first.
        if (m_invocation.command == Invocation::Set
            && (m_invocation.setting.is(Reply::StatusField::Rf)
                || m_invocation.setting.is(Reply::StatusField::Linearity))) {
            m_modelAsked = true;
            m_requester.ask(QLatin1String(Command::Identify), Reply::Kind::Identification);
            break;
        }
        sendLine();
        break;
    }
}

void CommandRunner::sendLine()
{
    m_link.discardInput();
    m_link.sendLine(m_invocation.line);
    // The amplifier handles lines in order: the Status reply comes after the change.
    if (m_invocation.confirm)
        m_requester.ask(QLatin1String(Command::Status), Reply::Kind::Status);
    else
        m_link.notifyWhenWritten();
}

int CommandRunner::checkModelTakes(const QByteArray &frame)
{
    const Reply::Identity identity = Reply::decodeIdentity(frame);
    if (m_invocation.setting.is(Reply::StatusField::Rf) && !identity.rfByCommand()) {
        Output::printError(tr("the %1's RF follows its fault state: it is on while no fault is "
                              "latched and cannot be switched by command")
                               .arg(Output::shownModelNumber(frame)));
        return ExitStatus::Failure;
    }
    if (m_invocation.setting.is(Reply::StatusField::Linearity) && !identity.hasLinearity()) {
        Output::printError(tr("the %1 has no linearity setting: its linearity is fixed")
                               .arg(Output::shownModelNumber(frame)));
        return ExitStatus::Failure;
    }
    return ExitStatus::Success;
}

void CommandRunner::onAnswered(const QByteArray &frame)
{
    switch (m_invocation.command) {
    case Invocation::Identify:
        finish(identify(frame));
        break;
    case Invocation::Status:
        finish(status(frame));
        break;
    case Invocation::Meas:
        finish(meas(frame));
        break;
    default:
        if (m_modelAsked) {
            m_modelAsked = false;
            if (checkModelTakes(frame) == ExitStatus::Success)
                sendLine();
            else
                finish(ExitStatus::Failure);
            break;
        }
        finish(confirm(frame));
        break;
    }
}

int CommandRunner::identify(const QByteArray &frame)
{
    if (m_invocation.json)
        Output::print(QString::fromUtf8(
            Output::json({{QStringLiteral("model"), Output::modelNumber(frame)}}, false)));
    else
        Output::print(Output::shownModelNumber(frame) + QLatin1Char('\n'));
    return ExitStatus::Success;
}

int CommandRunner::status(const QByteArray &frame)
{
    const Reply::Status status = Reply::decodeStatus(frame);
    if (status.fieldCount < Reply::StatusFieldCount) {
        Output::printError(tr("incomplete reply to 'Status': %1 of %2 fields")
                               .arg(status.fieldCount)
                               .arg(Reply::StatusFieldCount));
        return ExitStatus::Failure;
    }
    if (m_invocation.json)
        Output::print(QString::fromUtf8(Output::json(Output::statusObject(status), false)));
    else
        Output::print(Output::statusTable(status));
    return ExitStatus::Success;
}

int CommandRunner::meas(const QByteArray &frame)
{
    const Reply::Measurement meas = Reply::decodeMeasurement(frame);
    if (meas.fieldCount < Reply::MeasFieldCount) {
        Output::printError(tr("incomplete reply to 'Meas': %1 of %2 fields")
                               .arg(meas.fieldCount)
                               .arg(Reply::MeasFieldCount));
        return ExitStatus::Failure;
    }
    if (m_log.isOpen() && !m_log.append(Output::csvRow(QDateTime::currentDateTime(), meas))) {
        Output::printError(tr("cannot write %1").arg(m_log.errorString()));
        return ExitStatus::Failure;
    }
    if (m_invocation.json)
        Output::print(QString::fromUtf8(Output::json(Output::measObject(meas), false)));
    else
        Output::print(Output::measTable(meas));
    return ExitStatus::Success;
}

// Calibrate and reset leave no trace in Status: its arrival alone says the line was taken.
int CommandRunner::confirm(const QByteArray &frame)
{
    const Setting &setting = m_invocation.setting;
    if (!m_agentRefusal.isEmpty()) {
        Output::printError(m_agentRefusal);
        return ExitStatus::Failure;
    }
    if (m_invocation.command != Invocation::Set)
        return ExitStatus::Success;
    const Reply::Status status = Reply::decodeStatus(frame);
    if (setting.isShownIn(status))
        return ExitStatus::Success;
    Output::printError(tr("%1 not confirmed: after '%2' the amplifier reports %3, not %4")
                           .arg(setting.label(),
                                m_invocation.line,
                                status.fieldCount < Reply::StatusFieldCount
                                    ? tr("an incomplete Status")
                                    : setting.reportedText(status),
                                setting.wantedText()));
    return ExitStatus::Failure;
}

void CommandRunner::fail(const QString &message)
{
    Output::printError(message);
    finish(ExitStatus::Failure);
}

void CommandRunner::finish(int exitStatus)
{
    if (m_finished)
        return;
    m_finished = true;
    m_requester.cancel();
    m_agent.cancel();
    m_link.close();
    emit finished(exitStatus);
}
