#include "simprocess.h"

#include "waiting.h"

#include <QDeadlineTimer>
#include <QList>

SimProcess::SimProcess(QObject *parent)
    : QObject(parent)
{}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::programPath()
{
    return QStringLiteral(KORVANE_SIM_PATH);
}

bool SimProcess::start(const QStringList &arguments)
{
    return startProgram(programPath(),
                        QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
}

bool SimProcess::startProgram(const QString &program, const QStringList &arguments)
{
    const bool wantPty = arguments.contains(QStringLiteral("--pty"));
    m_port = 0;
    m_stdout.clear();
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(StartTimeoutMs))
        return fail(QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString()));

    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!parseStartLines(wantPty)) {
        if (deadline.hasExpired())
            return fail(QStringLiteral("no start lines within %1 ms").arg(StartTimeoutMs));
        // Returns at once, false, when the simulator has already died.
        if (!m_process.waitForReadyRead(int(deadline.remainingTime()))
            && m_process.state() == QProcess::NotRunning)
            return fail(
                QStringLiteral("%1 exited with status %2").arg(program).arg(m_process.exitCode()));
        m_stdout += m_process.readAllStandardOutput();
    }
    return true;
}

bool SimProcess::parseStartLines(bool wantPty)
{
    const QList<QByteArray> lines = m_stdout.split('\n');
    // The last piece is an unfinished line, or empty.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.startsWith("listening ")) {
            bool ok = false;
            const quint16 port = line.mid(line.lastIndexOf(':') + 1).toUShort(&ok);
            if (ok)
                m_port = port;
        } else if (line.startsWith("pty ")) {
            m_ptyPath = QString::fromLocal8Bit(line.mid(4));
        }
    }
    return m_port != 0 && (!wantPty || !m_ptyPath.isEmpty());
}

bool SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.terminate();
    if (!m_process.waitForFinished(StartTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString SimProcess::stderrText()
{
    m_stderr += m_process.readAllStandardError();
    return QString::fromUtf8(m_stderr);
}

bool SimProcess::waitForReport(const QString &text, int times, int timeoutMs)
{
    return waitUntil(
        &m_process,
        &QProcess::readyReadStandardError,
        [&] { return stderrText().count(text) >= times; },
        timeoutMs);
}

bool SimProcess::fail(const QString &why)
{
    m_error = why + QStringLiteral("\n") + stderrText();
    stop();
    return false;
}
