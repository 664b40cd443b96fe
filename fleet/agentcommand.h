#pragma once

#include "frameassembler.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// One of the agent's own commands (docs/protocol.md, "The agent's own commands") sent to it
// on its client port: opts in with @hello, sends the command and reads its @ok or @error,
// then hangs up. Plain TCP: an agent that serves TLS is reached by korvane-ctl instead.
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

    void start();

signals:
    // `ok` false with the agent's reason, or why it could not be asked.
    void finished(bool ok, const QString &text);

private:
    void onReadable();
    void finish(bool ok, const QString &text);

    QString m_host;
    quint16 m_port;
    QString m_verb;
    QJsonObject m_body;
    QTcpSocket m_socket;
    FrameAssembler m_frames;
    QTimer m_timeout;
    bool m_helloAnswered = false;
    bool m_done = false;
};
