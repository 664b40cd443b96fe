#include "agentpair.h"

#include "frameassembler.h"
#include "waiting.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>

namespace AgentPair {

bool start(std::unique_ptr<SimProcess> *sim,
           std::unique_ptr<SimProcess> *agent,
           const QString &agentPath,
           const QStringList &agentArguments,
           const QString &awaited,
           int timeoutMs)
{
    agent->reset();
    *sim = std::make_unique<SimProcess>();
    if (!(*sim)->start()) {
        qWarning("%s", qPrintable((*sim)->errorString()));
        return false;
    }
    *agent = std::make_unique<SimProcess>();
    if (!(*agent)->startProgram(agentPath,
                                QStringList{QStringLiteral("--host"),
                                            QStringLiteral("127.0.0.1"),
                                            QStringLiteral("--port"),
                                            QString::number((*sim)->port()),
                                            QStringLiteral("--listen"),
                                            QStringLiteral("127.0.0.1:0")}
                                    + agentArguments)) {
        qWarning("%s", qPrintable((*agent)->errorString()));
        return false;
    }
    return (*agent)->waitForReport(awaited, 1, timeoutMs);
}

QByteArray ask(quint16 port, const QByteArray &line)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(line + "\r\n");
    FrameAssembler assembler;
    QByteArray frame;
    waitUntil(
        &socket,
        &QIODevice::readyRead,
        [&] {
            for (const char byte : socket.readAll()) {
                if (frame.isEmpty() && assembler.push(byte))
                    frame = assembler.frame();
            }
            return !frame.isEmpty();
        },
        5000);
    return frame;
}

quint16 metricsPort(SimProcess *agent)
{
    const QRegularExpressionMatch match = QRegularExpression(
                                              QStringLiteral(R"(metrics=127\.0\.0\.1:(\d+))"))
                                              .match(agent->stderrText());
    return quint16(match.captured(1).toUInt());
}

} // namespace AgentPair
