#pragma once

#include "childprocess.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

// Runs the real korvane-sim for a test, on a free port, for as long as the object lives and
// not a moment longer than the test process.
class SimProcess : public QObject
{
    Q_OBJECT

public:
    static constexpr int StartTimeoutMs = 10000;

    explicit SimProcess(QObject *parent = nullptr);
    ~SimProcess() override;

    static QString programPath();

    // Starts the simulator with `--port 0` and the given arguments, and waits until it
    // listens (and, with --pty, has its terminal). False with errorString() if not.
    bool start(const QStringList &arguments = {});
    // Starts another of our programs that announces itself the same way ("listening ...").
    bool startProgram(const QString &program, const QStringList &arguments);
    // Ends it with SIGTERM; true if it then exited by itself with status 0.
    bool stop();

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    QString ptyPath() const { return m_ptyPath; }
    // Everything it has written to standard error so far.
    QString stderrText();
    // Waits until standard error holds `text` `times` times in all.
    bool waitForReport(const QString &text, int times = 1, int timeoutMs = 10000);
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &why);
    bool parseStartLines(bool wantPty);

    ChildProcess m_process;
    QByteArray m_stdout;
    QByteArray m_stderr;
    quint16 m_port = 0;
    QString m_ptyPath;
    QString m_error;
};
