#include "badupstream.h"

#include "commands.h"
#include "linesplitter.h"
#include "replies.h"
#include "waiting.h"

#include <QQueue>
#include <QTcpSocket>
#include <QTimer>

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

bool BadUpstream::waitForLines(const QByteArray &line, int count, int timeoutMs)
{
    return waitUntil(
        this, &BadUpstream::lineCame, [&] { return m_lines.count(line) >= count; }, timeoutMs);
}

void BadUpstream::cutConnections()
{
    for (QTcpSocket *socket : findChildren<QTcpSocket *>())
        socket->abort();
}

void BadUpstream::serveAsAmplifier(QTcpSocket *socket)
{
    struct Due
    {
        qint64 atMs;
        QByteArray frame;
    };
    auto splitter = std::make_shared<LineSplitter>();
    auto due = std::make_shared<QQueue<Due>>();
    auto timer = new QTimer(socket);
    timer->setSingleShot(true);
    const auto sendDue = [this, socket, due, timer] {
        while (!due->isEmpty() && due->head().atMs <= m_clock.elapsed())
            socket->write(due->dequeue().frame);
        if (!due->isEmpty())
            timer->start(int(due->head().atMs - m_clock.elapsed()));
    };
    connect(timer, &QTimer::timeout, socket, sendDue);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, splitter, due, sendDue] {
        for (const LineSplitter::Line &line : splitter->feed(socket->readAll())) {
            m_lines.append(line.text);
            const Command::Parsed command = Command::parse(line.text);
            QByteArray frame;
            int delayMs = m_delayMs;
            if (command.kind == Command::Parsed::Identify) {
                frame = Reply::identificationFrame("700136A");
            } else if (command.kind == Command::Parsed::Status) {
                Reply::StatusValues values{200, 60, 80, true, m_linearityPct, {}};
                std::copy(m_gainHalfDb, m_gainHalfDb + 3, values.gainHalfDb);
                frame = Reply::statusFrame(values);
                delayMs += std::exchange(m_statusDelayMs, 0);
            } else if (command.kind == Command::Parsed::Meas) {
                frame = Reply::measFrame({Reply::NoFault, {250, 250}, 260, {10, 10, 10}});
            } else if (command.kind == Command::Parsed::SetGain) {
                m_gainHalfDb[command.channel] = int(command.value);
            } else if (command.kind == Command::Parsed::SetLinearity) {
                m_linearityPct = int(command.value);
            }
            // In order: never before the reply to an earlier line.
            if (!frame.isEmpty())
                due->enqueue(
                    {qMax(m_clock.elapsed() + delayMs, due->isEmpty() ? 0 : due->last().atMs),
                     frame});
            emit lineCame();
        }
        sendDue();
    });
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
        } else if (m_behaviour == Amplifier) {
            serveAsAmplifier(socket);
        } else {
            auto splitter = std::make_shared<LineSplitter>();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, splitter] {
                for (const LineSplitter::Line &line : splitter->feed(socket->readAll())) {
                    m_lines.append(line.text);
                    emit lineCame();
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
