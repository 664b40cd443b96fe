#pragma once

#include "accesspolicy.h"
#include "linesplitter.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <memory>

class AgentRequests;
class DeviceSession;
class EventThrottle;
class Journal;
class PeerSocket;
class QTcpSocket;

// One client of the agent: its command lines go to the device session, its replies come
// back in the order it asked, and only to it.
class ClientConnection : public QObject
{
    Q_OBJECT

public:
    // A client that lets this much pile up unread is dropped; it must not hold up others.
    static constexpr qint64 MaxQueuedBytes = 64 * 1024;
    // Questions still waiting for the device; more is a flood, not a client.
    static constexpr int MaxPendingReplies = 256;
    // Replies, answered or not, waiting behind one still unanswered.
    static constexpr int MaxQueuedReplies = 4096;
    // A line begun and not ended within this long is a client holding the connection open.
    static constexpr int LineTimeoutMs = 10000;
    // Read at most this much at a time, and let the others have their turn between.
    static constexpr qint64 ReadSliceBytes = 16 * 1024;
    // What Qt may hold unread for the client; beyond it the client waits on its socket.
    static constexpr qint64 ReadBufferBytes = 64 * 1024;
    // Junk lines a client may send before it is taken for something else than a client.
    static constexpr int MaxJunkLines = 4;

    ClientConnection(QTcpSocket *socket,
                     AccessPolicy::Role role,
                     DeviceSession *device,
                     Journal *journal,
                     EventThrottle *throttle,
                     QObject *parent = nullptr);

    QString peer() const { return m_peer; }
    // The common name of the client's certificate, journalled beside its address.
    void setCommonName(const QString &name);
    QString commonName() const { return m_commonName; }
    // `more` with the client's address and common name, for the journal.
    QJsonObject details(QJsonObject more = {}) const;
    // The agent's own commands, for a client that opts in; none without.
    void setRequests(AgentRequests *requests, bool admin)
    {
        m_requests = requests;
        m_admin = admin;
    }
    // Closes the connection once the client has sent nothing for `ms`.
    void setIdleTimeout(int ms);
    // Closes the connection without another word.
    void close();

signals:
    // Dropped for its own conduct; finished() follows.
    void dropped();
    void finished();

private:
    struct Reply
    {
        QByteArray frame;
        bool ready = false;
    };

    void readLines();
    void handle(const QByteArray &line);
    void junk(const QString &reason);
    bool handleOwn(const QByteArray &line);
    // Journals a setting not passed on; a client that opted in is told why.
    void refuse(const QString &command, const QString &reason);
    void enqueueAnswer(const QByteArray &frame);
    void drop(const QString &reason);
    void writeReadyReplies();

    QTcpSocket *m_socket = nullptr; // read from; replies go out through the channel
    PeerSocket *m_channel = nullptr;
    AccessPolicy::Role m_role;
    DeviceSession *m_device = nullptr;
    Journal *m_journal = nullptr;
    QString m_peer;
    QString m_commonName;
    AgentRequests *m_requests = nullptr;
    quint64 m_id = 0;
    bool m_admin = false;
    bool m_optedIn = false;
    LineSplitter m_splitter;
    QQueue<std::shared_ptr<Reply>> m_replies;
    QTimer m_idleTimer;
    QTimer m_lineTimer;
    // The client's events, a row a second for each kind from one address, so that one
    // reconnecting again and again cannot fill the disk.
    EventThrottle *m_throttle = nullptr;
    QString m_address;
    int m_junkLines = 0;
    int m_unanswered = 0; // questions the device has yet to answer
    bool m_readQueued = false;
    bool m_inputEnded = false; // the client sends no more
    bool m_closed = false;
};
