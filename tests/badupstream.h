#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTcpServer>

// A loopback listener in the amplifier's place that is no amplifier: it accepts and closes
// at once (a busy ser2net, an agent whose amplifier is away), answers every line with
// garbage, answers only "?", or answers "?" and closes at the next line. Or one that is a
// scripted amplifier: it answers "?", "Status" and "Meas" in order, carries out the gain and
// linearity settings, and is slow or cut off when the test says. It notes when each
// connection came and every line it got.
class BadUpstream : public QObject
{
    Q_OBJECT

public:
    enum Behaviour {
        AcceptAndClose,
        AnswerGarbage,
        AnswerOnlyIdentify,
        AnswerThenClose,
        Amplifier
    };

    explicit BadUpstream(Behaviour behaviour, QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // Milliseconds from listen() to each connection.
    QList<qint64> connectionTimes() const { return m_times; }
    // Every line received, line ends stripped, in the order they came.
    QList<QByteArray> lines() const { return m_lines; }
    // Waits until `count` connections have come.
    bool waitForConnections(int count, int timeoutMs);
    // Waits until `count` lines equal to `line` have come.
    bool waitForLines(const QByteArray &line, int count, int timeoutMs);
    // Amplifier: each reply goes out `ms` after its line came (and after the one before).
    void setReplyDelay(int ms) { m_delayMs = ms; }
    // Amplifier: the next Status is answered `ms` late.
    void delayNextStatus(int ms) { m_statusDelayMs = ms; }
    // Cuts every connection, with replies still due.
    void cutConnections();

signals:
    void connectionCame();
    void lineCame();

private:
    void accept();
    void serveAsAmplifier(QTcpSocket *socket);

    Behaviour m_behaviour;
    QTcpServer m_server;
    QElapsedTimer m_clock;
    QList<qint64> m_times;
    QList<QByteArray> m_lines;
    int m_delayMs = 0;
    int m_statusDelayMs = 0;
    int m_linearityPct = 50;
    int m_gainHalfDb[3] = {20, 20, 20};
};
