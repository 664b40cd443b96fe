#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// A loopback TCP peer that a test scripts byte for byte: it takes the panel's connection,
// records every line the panel sends and writes whatever reply bytes the test gives it.
class ScriptedPeer : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 5000;

    explicit ScriptedPeer(QObject *parent = nullptr);

    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const { return m_server.serverPort(); }
    // Waits for the panel's connection.
    bool waitForClient();
    bool isConnected() const;
    // Writes raw bytes to the panel.
    void send(const QByteArray &bytes);
    void closeClient();

    // Every byte received so far, and the lines among them (line ends stripped).
    QByteArray received() const { return m_received; }
    QList<QByteArray> lines() const;
    int count(const QByteArray &line) const { return lines().count(line); }
    // Waits until `line` has been received `times` times in all; false at once when the
    // panel has closed the connection short of that.
    bool waitForLine(const QByteArray &line, int times = 1);
    // Waits for `polls` more "Meas" lines: proof that the panel's event loop has run
    // for that many poll ticks since the call.
    bool waitForPolls(int polls);
    void clearReceived() { m_received.clear(); }

signals:
    void bytesReceived();

private:
    QTcpServer m_server;
    std::unique_ptr<QTcpSocket> m_client;
    QByteArray m_received;
};
