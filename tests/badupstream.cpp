#include "badupstream.h"

#include "linesplitter.h"
#include "replies.h"
#include "waiting.h"

#include <QTcpSocket>

#include <memory>

BadUpstream::BadUpstream(Behaviour behaviour, QObject *parent)
    : QObject(parent)
    , m_behaviour(behaviour)
{
    connect(&m_server, &QTcpServer::newConnection, this, &BadUpstream::accept);
}

bool BadUpstream::listen()
{
    m_clock.start();
    return m_server.listen(QHostAddress::LocalHost, 0);
}

bool BadUpstream::waitForConnections(int count, int timeoutMs)
{
    return waitUntil(
        this, &BadUpstream::connectionCame, [&] { return m_times.size() >= count; }, timeoutMs);
}

void BadUpstream::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_times.append(m_clock.elapsed());
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_behaviour == AcceptAndClose) {
            socket->abort();
            socket->deleteLater();
        } else {
            auto splitter = std::make_shared<LineSplitter>();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, splitter] {
                for (const LineSplitter::Line &line : splitter->feed(socket->readAll())) {
                    m_lines.append(line.text);
                    if (m_behaviour == AnswerGarbage)
                        socket->write(QByteArray("\0junk\xff", 6));
                    else if (line.text == "?")
                        socket->write(Reply::identificationFrame("700136A"));
                    else if (m_behaviour == AnswerThenClose)
                        socket->disconnectFromHost();
                }
            });
        }
        emit connectionCame();
    }
}
