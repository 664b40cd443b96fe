#pragma once

#include "replies.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class AmplifierLink;

// Sends a command line and waits, with the event loop running, for the reply it asks for.
class Requester : public QObject
{
    Q_OBJECT

public:
    Requester(AmplifierLink *link, int timeoutMs, QObject *parent = nullptr);

    int timeoutMs() const { return m_timer.interval(); }
    bool isBusy() const { return m_timer.isActive(); }

    // Ends in answered() with the first frame of that kind, or timedOut(); a lost link ends
    // it silently, as the link says why.
    void ask(const QString &command, Reply::Kind kind);
    void cancel();

signals:
    void answered(const QByteArray &frame);
    void timedOut(const QString &command);

private:
    void onFrame(const QByteArray &frame);
    void onTimeout();

    AmplifierLink *m_link = nullptr;
    QTimer m_timer;
    QString m_command;
    Reply::Kind m_kind = Reply::Kind::Unknown;
};
