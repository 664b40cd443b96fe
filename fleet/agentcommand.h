#pragma once

#include "frameassembler.h"
#include "tlsfiles.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

// One of the agent's own commands (docs/protocol.md, "The agent's own commands") sent to it
// on its client port: opts in with @hello, sends the command and reads its @ok or @error,
// then hangs up. Plain TCP, or TLS as korvane-ctl speaks it: the agent's certificate verified,
// the operator's own shown as who asks.
class AgentCommand : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 10000;

    AgentCommand(const QString &host,
                 quint16 port,
                 const QString &verb,
                 const QJsonObject &body,
                 QObject *parent = nullptr);

    // Speak TLS, with the authorities, certificate and key `files` has loaded. Before start().
    void useTls(const TlsFiles &files);
    void start();

signals:
    // `ok` false with the agent's reason, or why it could not be asked.
    void finished(bool ok, const QString &text);

private:
    void onConnected();
    void onReadable();
    void finish(bool ok, const QString &text);

    QString m_host;
    quint16 m_port;
    QString m_verb;
    QJsonObject m_body;
    bool m_tls = false;
    TlsFiles m_tlsFiles;
    std::unique_ptr<QTcpSocket> m_socket;
    QString m_tlsErrors;
    FrameAssembler m_frames;
    QTimer m_timeout;
    bool m_helloAnswered = false;
    bool m_done = false;
};
