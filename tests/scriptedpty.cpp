#include "scriptedpty.h"

#include "waiting.h"

#include <QSocketNotifier>

#include <unistd.h>

ScriptedPty::ScriptedPty(QObject *parent)
    : QObject(parent)
{}

bool ScriptedPty::open()
{
    if (!m_terminal.open())
        return false;
    m_notifier = new QSocketNotifier(m_terminal.master(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ScriptedPty::readMaster);
    return true;
}

void ScriptedPty::send(const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_terminal.master(),
                                  bytes.constData() + done,
                                  size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

void ScriptedPty::hangUp()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_terminal.close();
}

void ScriptedPty::readMaster()
{
    char buffer[4096];
    const ssize_t n = ::read(m_terminal.master(), buffer, sizeof buffer);
    if (n > 0) {
        m_received.append(buffer, int(n));
        emit bytesReceived();
    }
}

int ScriptedPty::count(const QByteArray &line) const
{
    int found = 0;
    for (const QByteArray &part : m_received.split('\n')) {
        if ((part.endsWith('\r') ? part.chopped(1) : part) == line)
            ++found;
    }
    return found;
}

bool ScriptedPty::waitForLine(const QByteArray &line, int times)
{
    return waitUntil(
        this, &ScriptedPty::bytesReceived, [&] { return count(line) >= times; }, TimeoutMs);
}
