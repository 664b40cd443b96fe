#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTcpServer>

// A loopback listener in the amplifier's place that is no amplifier: it accepts and closes
// at once (a busy ser2net, an agent whose amplifier is away), answers every line with
// garbage, answers only "?", or answers "?" and closes at the next line. It notes when each
// connection came and every line it got.
class BadUpstream : public QObject
{
    Q_OBJECT

public:
    enum Behaviour { AcceptAndClose, AnswerGarbage, AnswerOnlyIdentify, AnswerThenClose };

    explicit BadUpstream(Behaviour behaviour, QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // Milliseconds from listen() to each connection.
    QList<qint64> connectionTimes() const { return m_times; }
    // Every line received, line ends stripped, in the order they came.
    QList<QByteArray> lines() const { return m_lines; }
    // Waits until `count` connections have come.
    bool waitForConnections(int count, int timeoutMs);

signals:
    void connectionCame();

private:
    void accept();

    Behaviour m_behaviour;
    QTcpServer m_server;
    QElapsedTimer m_clock;
    QList<qint64> m_times;
    QList<QByteArray> m_lines;
};
