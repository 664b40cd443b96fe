#pragma once

#include "childprocess.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

// Runs a server from the system's packages (a broker, Prometheus) for a test, until it says
// it is ready, and for as long as the object lives.
class ServerProcess : public QObject
{
    Q_OBJECT

public:
    explicit ServerProcess(QObject *parent = nullptr);
    ~ServerProcess() override;

    // The program's path, looked up on PATH and in the system's sbin folders; empty if it is
    // not installed.
    static QString find(const QString &program);
    // A loopback port nobody listens on just now.
    static quint16 freePort();

    // Starts `program` and waits until its output (standard output and error together)
    // holds `readyText`. False with errorString() if it does not.
    bool start(const QString &program,
               const QStringList &arguments,
               const QString &readyText,
               int timeoutMs = 30000);
    // Starts mosquitto with `config` (listeners, logins, without "user"), written to the
    // file `path`, logging all to its output; false with errorString() if it does not run.
    bool startMosquitto(const QString &path, const QByteArray &config);
    // Waits until the output holds `text` `times` times in all.
    bool waitForOutput(const QString &text, int times = 1, int timeoutMs = 30000);
    QString output();
    // SIGTERM, then SIGKILL if it does not end.
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    QString errorString() const { return m_error; }

private:
    ChildProcess m_process;
    QByteArray m_output;
    QString m_error;
};
