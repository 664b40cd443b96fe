#include "connectattempt.h"

ConnectAttempt::ConnectAttempt(QAbstractSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ConnectAttempt::timedOut);
    connect(socket, &QAbstractSocket::connected, &m_timer, &QTimer::stop);
    connect(socket, &QAbstractSocket::errorOccurred, this, &ConnectAttempt::socketError);
}

void ConnectAttempt::start(const QString &address)
{
    m_address = address;
    m_timer.start(TimeoutMs);
}

void ConnectAttempt::cancel()
{
    if (isPending())
        fail(tr("cancelled"));
}

void ConnectAttempt::socketError()
{
    // Errors of a connection that is up (the peer closing) are not the attempt's.
    if (isPending())
        fail(m_socket->errorString());
}

void ConnectAttempt::timedOut()
{
    fail(tr("no answer within %1 s").arg(TimeoutMs / 1000));
}

void ConnectAttempt::fail(const QString &reason)
{
    m_timer.stop();
    // Leaves the socket unconnected; aborting a connect in progress emits no disconnected().
    m_socket->abort();
    emit failed(m_address, reason);
}
