#pragma once

#include "extension.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class AmplifierLink;

// Sends korvane-agent's own lines and waits, with the event loop running, for the frame that
// answers each: the agent answers every one of them with one frame, in order.
class AgentExchange : public QObject
{
    Q_OBJECT

public:
    AgentExchange(AmplifierLink *link, int timeoutMs, QObject *parent = nullptr);

    int timeoutMs() const { return m_timer.interval(); }
    // Ends in answered() with the next frame, or timedOut(); a lost link ends it silently.
    void ask(const QByteArray &line);
    void cancel();

signals:
    // The next frame after the line; a frame that is none of the agent's has no verb.
    void answered(const Extension::Message &message);
    void timedOut();
    // A setting of this client's that the agent did not pass on; comes whenever it does.
    void refused(const QString &command, const QString &reason);

private:
    void onFrame(const QByteArray &frame);

    AmplifierLink *m_link = nullptr;
    QTimer m_timer;
};
