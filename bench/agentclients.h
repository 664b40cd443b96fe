#pragma once

#include "frameassembler.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <vector>

// One client of the agent polling "Meas" at 10 Hz, timing each reply.
class Poller : public QObject
{
public:
    Poller(quint16 port, std::vector<double> *latenciesMs);
    qint64 replies = 0;

private:
    QTcpSocket m_socket;
    QTimer m_timer;
    QElapsedTimer m_asked;
    FrameAssembler m_assembler;
    std::vector<double> *m_latencies;
};

// Runs the event loop for `ms`. (QTest::qWait sleeps 10 ms between rounds, which would show
// up in every latency measured here.)
void runFor(int ms);

// The `p`th percentile of `values`; 0 for none.
double percentile(std::vector<double> values, double p);
