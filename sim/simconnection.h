#pragma once

#include "faultoptions.h"
#include "linesplitter.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

class AmplifierModel;

// One client's conversation with the amplifier, whatever the transport, with its own faults.
class SimConnection : public QObject
{
    Q_OBJECT

public:
    // Junk that cannot be mistaken for a frame start or end.
    static constexpr char Junk[] = "xx\r\n";
    // Gap between the pieces of a burst, long enough for each to arrive as its own read.
    static constexpr int BurstGapMs = 10;
    // Replies a client has not taken yet; past this it is taken to read none, and the
    // simulator stops writing to it rather than grow without bound.
    static constexpr int MaxUnsentBytes = 64 * 1024;

    SimConnection(AmplifierModel *model,
                  const FaultOptions &faults,
                  const QString &name,
                  QObject *parent = nullptr);

    void receive(const QByteArray &data);
    // No more lines come: the replies due go out, then the connection closes.
    void endOfInput();
    QString name() const { return m_name; }

signals:
    void send(const QByteArray &bytes);
    // Emitted once, after the last reply has been handed to send().
    void closeRequested();
    void report(const QString &message);

private:
    struct DelayedLine
    {
        qint64 dueMs;
        QByteArray line;
    };

    void handleLine(const QByteArray &line);
    void runDueLines();
    void queueReply(const QByteArray &frame);
    void write(const QByteArray &bytes);
    void writeNextPiece();
    void sendPaced(const QByteArray &bytes);
    void releasePaced();
    void closeIfDrained();
    void close();

    AmplifierModel *m_model = nullptr;
    FaultOptions m_faults;
    QString m_name;
    LineSplitter m_splitter;

    int m_replies = 0;
    bool m_muteReported = false;
    bool m_closing = false;
    bool m_inputEnded = false;

    QByteArray m_held;
    int m_heldCount = 0;

    QQueue<DelayedLine> m_delayed;
    QElapsedTimer m_clock;
    QTimer m_delayTimer;

    QQueue<QByteArray> m_pieces;
    QTimer m_burstTimer;

    // With a baud rate: bytes on their way down the line, the first one started at
    // m_pacedStartNs of m_clock.
    QByteArray m_paced;
    qint64 m_pacedStartNs = 0;
    QTimer m_paceTimer;
    bool m_closeRequested = false;
};
