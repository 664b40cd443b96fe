#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>

// One connection attempt of a socket, from the request to connected() or to its failure:
// it gives the attempt a time limit, lets the operator cancel it, and says why it failed.
// Without it a connect to an address that does not answer waits minutes, unseen.
class ConnectAttempt : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 5000;

    explicit ConnectAttempt(QAbstractSocket *socket, QObject *parent = nullptr);

    // Call right after connectToHost; `address` names the target in messages.
    void start(const QString &address);
    bool isPending() const { return m_timer.isActive(); }
    // Abandons a pending attempt; reported as failed.
    void cancel();

signals:
    void failed(const QString &address, const QString &reason);

private:
    void socketError();
    void timedOut();
    void fail(const QString &reason);

    QAbstractSocket *m_socket = nullptr;
    QTimer m_timer;
    QString m_address;
};
