#pragma once

#include "amplifierlink.h"
#include "reconnectbackoff.h"
#include "replies.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QTimer>

#include <functional>

// The agent's one link to the amplifier. It keeps the link open (opening it again after a
// loss, with a growing pause), polls the readings ten times a second and puts the clients'
// commands to the device one at a time. Queries are shared: "?" is answered from the
// identity read at connect, "Meas" from the poll while its reading is fresh, and clients
// asking "Status" at the same time share one query.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollMs = 100;
    // A reading this old or younger answers a client's "Meas" without asking the device.
    static constexpr int FreshMs = 100;
    static constexpr int DefaultStatusIntervalMs = 1000;
    // An amplifier that has answered nothing for this long (or --timeout, if longer) is
    // taken as gone.
    static constexpr int SilenceMs = 5000;

    // Gets the reply frame as it goes on the wire (NUL ... 0xFF), or an empty one when the
    // device did not answer or the link went down first.
    using Answer = std::function<void(const QByteArray &frame)>;

    DeviceSession(const AmplifierLink::Target &target, int timeoutMs, QObject *parent = nullptr);
    ~DeviceSession() override;

    // How often Status is read while the link is up; it is read at once, too, when the
    // status character changes.
    void setStatusInterval(int ms) { m_statusTimer.setInterval(ms); }
    void start();
    void stop();
    // Up from the first reply on a link until it is lost.
    bool isUp() const { return m_up; }
    QString deviceText() const { return m_link.target().text(); }

    // Asks for a reply of `kind`; `answer` is not called once `context` is gone. The reply
    // comes from a query sent after every setting passed on before the question.
    void ask(Reply::Kind kind, QObject *context, const Answer &answer);
    // Passes a setting command of `client` (as the journal names it: address, certificate)
    // on, in arrival order with the queries; it ends in settingSent() or settingDropped().
    void pass(const QString &line, const QJsonObject &client);

signals:
    // The first reply came on a newly opened link.
    void up();
    // A link that was up was lost.
    void down(const QString &reason);
    // A link could not be opened, or was lost or not answered before it was up.
    void openFailed(const QString &reason);
    // The device's replies, each decoded once, as they come.
    void identified(const QString &model);
    // `ownSettings`: the settings the agent sent since the last Status read went out, which
    // this one shows carried out.
    void settingsRead(const Reply::Status &status, const QStringList &ownSettings);
    void measured(const Reply::Measurement &meas);
    void noReply(const QString &command);
    // A setting has left the agent for the device.
    void settingSent(const QString &line, const QJsonObject &client);
    // A setting that could not be sent, and why.
    void settingDropped(const QString &line, const QJsonObject &client, const QString &reason);

private:
    struct Waiter
    {
        QPointer<QObject> context;
        Answer answer;
    };
    struct Job
    {
        QString line;
        Reply::Kind kind = Reply::Kind::Unknown; // Unknown: a setting, no reply expected
        QList<Waiter> waiters;
        QStringList ownSettings;    // of a Status: settings sent since the last Status read
        QJsonObject client;         // of a setting
        quint64 settingsBefore = 0; // settings sent when the query went out
    };
    struct Setting
    {
        QString line;
        QJsonObject client;
    };

    void onOpened();
    void onLost(const QString &reason);
    void onOpenFailed(const QString &reason);
    void onFrame(const QByteArray &frame);
    void onAnswered(const QByteArray &frame);
    void onTimedOut();
    void abandonJobs(const QString &reason);
    void onWritten();
    void comeUp();
    void poll();
    // True if the device has been silent too long and the link is given up.
    bool checkSilence();
    void readStatus();
    Job *queuedQuery(Reply::Kind kind);
    Job &enqueueQuery(Reply::Kind kind);
    void runJobs();
    void finishCurrent(const QByteArray &frame);
    void reconnectLater();

    AmplifierLink m_link;
    QTimer m_replyTimer; // the query on its way
    ReconnectBackoff m_backoff;
    QTimer m_pollTimer;
    QTimer m_statusTimer;
    QTimer m_retryTimer;
    // Queries and settings in arrival order. A question joins a query of its kind that has
    // not gone out yet: one that went out before it might not see a setting sent since.
    QQueue<Job> m_jobs;
    Job m_current; // the query on its way; Unknown: none
    // Queries that were given up on, in the order they went out. The amplifier answers in
    // order and may still answer them late: such a reply is theirs, not the current one's.
    QList<Reply::Kind> m_unanswered;
    QByteArray m_identity;
    QByteArray m_lastMeas;
    QElapsedTimer m_measAge;
    // A query that went out when as many settings had left as have left by now, with none
    // waiting, shows the state after each of them. A dropped setting never left, so it
    // makes no reading older.
    quint64 m_lastMeasSettings = 0; // settings sent when the last reading was asked
    quint64 m_settingsSent = 0;
    int m_settingsWaiting = 0; // passed on, neither sent nor dropped yet
    // Sent since the last Status read went out.
    QStringList m_ownSettings;
    // Sent, not yet out of the program.
    QList<Setting> m_unwritten;
    QElapsedTimer m_lastReply;
    char m_statusChar = 0; // of the last reading on this link; 0: none yet
    bool m_up = false;
    bool m_stopped = false;
};
