#include "clientconnection.h"

#include "commands.h"
#include "devicesession.h"
#include "journal.h"
#include "peersocket.h"

#include <QJsonObject>
#include <QTcpSocket>

ClientConnection::ClientConnection(QTcpSocket *socket,
                                   AccessPolicy::Role role,
                                   DeviceSession *device,
                                   Journal *journal,
                                   QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_role(role)
    , m_device(device)
    , m_journal(journal)
{
    m_channel = new PeerSocket(socket, this);
    // Replies are small and each one is awaited; none should wait for the one before it.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientConnection::readLines);
    // A client that has sent all it will send still gets the answers it asked for.
    connect(m_channel, &PeerSocket::peerFinished, this, [this] {
        m_inputEnded = true;
        writeReadyReplies();
    });
    connect(m_channel, &PeerSocket::closed, this, [this] {
        m_journal->record(QStringLiteral("client_disconnected"),
                          {{QStringLiteral("client"), m_peer}});
        close();
    });
}

void ClientConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_channel->abort();
    emit finished();
}

void ClientConnection::readLines()
{
    const QVector<LineSplitter::Line> lines = m_splitter.feed(m_socket->readAll());
    for (const LineSplitter::Line &line : lines) {
        if (m_closed)
            return;
        if (line.overlong) {
            if (!m_junkReported)
                m_journal->record(QStringLiteral("client_junk"),
                                  {{QStringLiteral("client"), m_peer},
                                   {QStringLiteral("reason"), QStringLiteral("overlong line")}});
            m_junkReported = true;
            continue;
        }
        handle(line.text);
    }
}

void ClientConnection::handle(const QByteArray &line)
{
    const Command::Parsed command = Command::parse(line);
    const auto askFor = [this](::Reply::Kind kind) {
        if (m_replies.size() >= MaxPendingReplies) {
            drop(tr("too many questions unanswered"));
            return;
        }
        auto reply = std::make_shared<Reply>();
        m_replies.enqueue(reply);
        m_device->ask(kind, this, [this, reply](const QByteArray &frame) {
            reply->frame = frame;
            reply->ready = true;
            writeReadyReplies();
        });
    };
    switch (command.kind) {
    case Command::Parsed::Identify:
        askFor(::Reply::Kind::Identification);
        return;
    case Command::Parsed::Status:
        askFor(::Reply::Kind::Status);
        return;
    case Command::Parsed::Meas:
        askFor(::Reply::Kind::Measurement);
        return;
    case Command::Parsed::Invalid:
        if (!m_junkReported)
            m_journal->record(QStringLiteral("client_junk"),
                              {{QStringLiteral("client"), m_peer},
                               {QStringLiteral("reason"), command.error}});
        m_junkReported = true;
        return;
    default:
        break;
    }
    // The device gets the command as the panel would send it, whatever blanks, tabs or
    // leading zeros the client used; the journal says what the device got.
    const QString text = Command::format(command);
    if (m_role != AccessPolicy::Role::Controller) {
        m_journal->record(QStringLiteral("setting_refused"),
                          {{QStringLiteral("client"), m_peer}, {QStringLiteral("command"), text}});
        return;
    }
    m_journal->record(QStringLiteral("setting"),
                      {{QStringLiteral("client"), m_peer}, {QStringLiteral("command"), text}});
    m_device->pass(text);
}

void ClientConnection::writeReadyReplies()
{
    while (!m_closed && !m_replies.isEmpty() && m_replies.head()->ready) {
        // A question the device left unanswered gets no reply, as from the device itself.
        const QByteArray frame = m_replies.dequeue()->frame;
        if (!frame.isEmpty())
            m_channel->write(frame);
    }
    if (!m_closed && m_channel->bytesToWrite() > MaxQueuedBytes)
        drop(tr("not reading its replies"));
    else if (!m_closed && m_inputEnded && m_replies.isEmpty())
        m_channel->finish();
}

void ClientConnection::drop(const QString &reason)
{
    m_journal->record(QStringLiteral("client_dropped"),
                      {{QStringLiteral("client"), m_peer}, {QStringLiteral("reason"), reason}});
    emit dropped();
    close();
}
