#include "replywatch.h"

ReplyWatch::ReplyWatch(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(DefaultTimeoutMs);
    connect(&m_timer, &QTimer::timeout, this, &ReplyWatch::timedOut);
}

void ReplyWatch::start()
{
    if (m_watching)
        return;
    m_watching = true;
    m_since = m_clock();
    m_timer.start();
}

void ReplyWatch::stop()
{
    m_watching = false;
    m_timer.stop();
}

void ReplyWatch::replied()
{
    if (!m_watching)
        return;
    m_since = m_clock();
    m_timer.start();
}

void ReplyWatch::timedOut()
{
    emit silent(m_since.toLocalTime());
}
