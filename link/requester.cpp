#include "requester.h"

#include "amplifierlink.h"

Requester::Requester(AmplifierLink *link, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_link(link)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire a few percent early, before the promised wait is over.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(timeoutMs);
    connect(&m_timer, &QTimer::timeout, this, &Requester::onTimeout);
    connect(m_link, &AmplifierLink::frameReceived, this, &Requester::onFrame);
    connect(m_link, &AmplifierLink::linkLost, this, &Requester::cancel);
}

void Requester::ask(const QString &command, Reply::Kind kind)
{
    m_command = command;
    m_kind = kind;
    m_timer.start();
    // Only a frame that arrives after the request counts as its answer.
    m_link->discardInput();
    m_link->sendLine(command);
}

void Requester::cancel()
{
    m_timer.stop();
}

void Requester::onFrame(const QByteArray &frame)
{
    // Frames of another kind are late answers to something else, not this one's.
    if (!isBusy() || Reply::kindOf(frame) != m_kind)
        return;
    m_timer.stop();
    emit answered(frame);
}

void Requester::onTimeout()
{
    emit timedOut(m_command);
}
