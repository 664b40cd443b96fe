#pragma once

#include "agentexchange.h"
#include "amplifierlink.h"
#include "rowfile.h"
#include "invocation.h"
#include "requester.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class MeasWatch;

// Carries out one checked invocation and finishes with the exit status of its outcome.
class CommandRunner : public QObject
{
    Q_OBJECT

public:
    explicit CommandRunner(const Invocation &invocation, QObject *parent = nullptr);

    // Call from the event loop: finished() may follow at once.
    void start();
    // Ends a watch cleanly, between two readings, with status 0.
    void stop();

signals:
    void finished(int exitStatus);

private:
    void scan();
    void startWatch();
    void onOpened();
    void askAmplifier();
    // korvane-agent's part: "@hello", the lease's token, the command's own line.
    void askAgent(const QByteArray &line);
    void onAgentAnswered(const Extension::Message &message);
    void onAgentTimedOut();
    void afterHello();
    int agentOutput(const Extension::Message &message);
    void onAnswered(const QByteArray &frame);
    int identify(const QByteArray &frame);
    int status(const QByteArray &frame);
    int meas(const QByteArray &frame);
    int confirm(const QByteArray &frame);
    void sendLine();
    // Whether the identified model takes the setting; says why not.
    int checkModelTakes(const QByteArray &frame);
    void fail(const QString &message);
    void finish(int exitStatus);

    Invocation m_invocation;
    AmplifierLink m_link;
    Requester m_requester;
    AgentExchange m_agent;
    enum class AgentStep { None, Hello, LeaseUse, Command };
    AgentStep m_agentStep = AgentStep::None;
    QByteArray m_agentAsked;
    // The agent's words on the setting it did not pass on.
    QString m_agentRefusal;
    RowFile m_log;
    MeasWatch *m_watch = nullptr;
    bool m_finished = false;
    // `set rf` and `set linearity` wait for the model's answer before they send anything.
    bool m_modelAsked = false;
};
