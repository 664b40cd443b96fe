#include "serverprocess.h"

#include "waiting.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <pwd.h>
#include <unistd.h>

ServerProcess::ServerProcess(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

ServerProcess::~ServerProcess()
{
    stop();
}

QString ServerProcess::find(const QString &program)
{
    const QString onPath = QStandardPaths::findExecutable(program);
    if (!onPath.isEmpty())
        return onPath;
    // Brokers live in sbin, which is not on every user's PATH.
    return QStandardPaths::findExecutable(program,
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

quint16 ServerProcess::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool ServerProcess::start(const QString &program,
                          const QStringList &arguments,
                          const QString &readyText,
                          int timeoutMs)
{
    m_output.clear();
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
        return false;
    }
    if (!waitForOutput(readyText, 1, timeoutMs)) {
        m_error = QStringLiteral("%1 did not say \"%2\":\n%3").arg(program, readyText, output());
        stop();
        return false;
    }
    return true;
}

bool ServerProcess::startMosquitto(const QString &path, const QByteArray &config)
{
    QFile file(path);
    // Run as root, the broker would change to its own user, and a change of user cancels the
    // signal that ends it with the test: it stays who it is.
    const passwd *self = getpwuid(geteuid());
    const QByteArray text = config + "persistence false\nlog_dest stderr\nlog_type all\nuser "
                            + QByteArray(self ? self->pw_name : "root") + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()
        || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) {
        m_error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.close();
    return start(find(QStringLiteral("mosquitto")), {QStringLiteral("-c"), path},
                 QStringLiteral(" running"));
}

bool ServerProcess::waitForOutput(const QString &text, int times, int timeoutMs)
{
    return waitUntil(
        &m_process, &QProcess::readyRead, [&] { return output().count(text) >= times; }, timeoutMs);
}

QString ServerProcess::output()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
    output();
}
