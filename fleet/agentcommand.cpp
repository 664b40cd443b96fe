#include "agentcommand.h"

#include "extension.h"

#include <QJsonArray>
#include <QStringList>

AgentCommand::AgentCommand(const QString &host,
                           quint16 port,
                           const QString &verb,
                           const QJsonObject &body,
                           QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
    , m_verb(verb)
    , m_body(body)
    , m_frames(Extension::MaxFrameSize)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(TimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        finish(false, tr("the agent at %1:%2 did not answer").arg(m_host).arg(m_port));
    });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_socket.write(Extension::line(QLatin1String(Extension::Verb::Hello)) + "\r\n"
                       + Extension::line(m_verb, m_body) + "\r\n");
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &AgentCommand::onReadable);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
        finish(false,
               tr("cannot reach the agent at %1:%2: %3")
                   .arg(m_host)
                   .arg(m_port)
                   .arg(m_socket.errorString()));
    });
}

void AgentCommand::start()
{
    m_timeout.start();
    m_socket.connectToHost(m_host, m_port);
}

void AgentCommand::onReadable()
{
    const QByteArray bytes = m_socket.readAll();
    for (const char byte : bytes) {
        if (m_done || !m_frames.push(byte))
            continue;
        const Extension::Message message = Extension::parseFrame(m_frames.frame());
        m_frames.clear();
        // The amplifier's own frames, if any, are no answer of the agent's.
        if (message.verb.isEmpty())
            continue;
        if (!m_helloAnswered) {
            m_helloAnswered = message.verb == QLatin1String(Extension::Verb::Hello);
            if (!m_helloAnswered)
                finish(false,
                       tr("the far end at %1:%2 is no korvane-agent").arg(m_host).arg(m_port));
            continue;
        }
        if (message.verb == QLatin1String(Extension::Verb::Ok)) {
            QStringList names;
            for (const QJsonValue &name :
                 message.body.value(QLatin1String("acknowledged")).toArray())
                names << name.toString();
            finish(true,
                   names.isEmpty() ? tr("done")
                                   : tr("acknowledged %1").arg(names.join(QStringLiteral(", "))));
        } else if (message.verb == QLatin1String(Extension::Verb::Error)) {
            finish(false,
                   tr("refused: %1").arg(message.body.value(QLatin1String("reason")).toString()));
        }
    }
}

void AgentCommand::finish(bool ok, const QString &text)
{
    if (m_done)
        return;
    m_done = true;
    m_timeout.stop();
    m_socket.abort();
    emit finished(ok, text);
}
