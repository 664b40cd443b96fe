#include "agentcommand.h"

#include "extension.h"
#include "readysocket.h"

#include <QJsonArray>
#include <QSslSocket>
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
}

void AgentCommand::useTls(const TlsFiles &files)
{
    m_tls = true;
    m_tlsFiles = files;
}

void AgentCommand::start()
{
    m_socket.reset(ReadySocket::create(m_tls));
    // With TLS the agent is asked once the handshake is done, not at the TCP connection.
    ReadySocket::whenReady(
        m_socket.get(), this, [this] { onConnected(); }, &m_tlsErrors);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &AgentCommand::onReadable);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, [this] {
        QString reason = ReadySocket::withTlsErrors(m_socket->errorString(), m_tlsErrors);
        // An agent that refuses the operator's certificate hangs up once the handshake is
        // done, as TLS 1.3 goes, with no word of why: its journal says it.
        if (m_tls && !m_helloAnswered && m_socket->error() == QAbstractSocket::RemoteHostClosedError)
            reason = m_tlsFiles.certFile.isEmpty()
                         ? tr("it closed the TLS connection; it may want the operator's "
                              "certificate (--tls-cert and --tls-key)")
                         : tr("it closed the TLS connection; it may not accept the "
                              "certificate in %1")
                               .arg(m_tlsFiles.certFile);
        finish(false, tr("cannot reach the agent at %1:%2: %3").arg(m_host).arg(m_port).arg(reason));
    });
    m_timeout.start();
    if (auto *secure = qobject_cast<QSslSocket *>(m_socket.get())) {
        secure->setSslConfiguration(m_tlsFiles.configuration());
        secure->connectToHostEncrypted(m_host, m_port);
        return;
    }
    m_socket->connectToHost(m_host, m_port);
}

void AgentCommand::onConnected()
{
    m_socket->write(Extension::line(QLatin1String(Extension::Verb::Hello)) + "\r\n"
                    + Extension::line(m_verb, m_body) + "\r\n");
}

void AgentCommand::onReadable()
{
    const QByteArray bytes = m_socket->readAll();
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
    if (m_socket)
        m_socket->abort();
    emit finished(ok, text);
}
