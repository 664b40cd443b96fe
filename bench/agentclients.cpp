#include "agentclients.h"

#include <QEventLoop>
#include <QRandomGenerator>

#include <algorithm>

Poller::Poller(quint16 port, std::vector<double> *latenciesMs)
    : m_latencies(latenciesMs)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        for (const char byte : m_socket.readAll()) {
            if (m_assembler.push(byte) && m_asked.isValid()) {
                m_latencies->push_back(m_asked.nsecsElapsed() / 1e6);
                m_asked.invalidate();
                ++replies;
            }
        }
    });
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_asked.isValid())
            return; // the last one is still on its way
        m_asked.start();
        m_socket.write("Meas\r\n");
    });
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    // Spread the clients over the poll period, as independent programs would be.
    QTimer::singleShot(int(QRandomGenerator::global()->bounded(100)), this, [this] {
        m_timer.start(100);
    });
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())))];
}
