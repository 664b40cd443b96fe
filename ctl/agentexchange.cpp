#include "agentexchange.h"

#include "amplifierlink.h"

AgentExchange::AgentExchange(AmplifierLink *link, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_link(link)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(timeoutMs);
    connect(&m_timer, &QTimer::timeout, this, &AgentExchange::timedOut);
    connect(m_link, &AmplifierLink::frameReceived, this, &AgentExchange::onFrame);
    connect(m_link, &AmplifierLink::linkLost, this, &AgentExchange::cancel);
}

void AgentExchange::ask(const QByteArray &line)
{
    m_timer.start();
    m_link->sendLine(QString::fromUtf8(line));
}

void AgentExchange::cancel()
{
    m_timer.stop();
}

void AgentExchange::onFrame(const QByteArray &frame)
{
    const Extension::Message message = Extension::parseFrame(frame);
    if (message.verb == QLatin1String(Extension::Verb::Refused)) {
        emit refused(message.body.value(QStringLiteral("command")).toString(),
                     message.body.value(QStringLiteral("reason")).toString());
        return;
    }
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    emit answered(message);
}
