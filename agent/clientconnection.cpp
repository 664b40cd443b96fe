#include "clientconnection.h"

#include "agentrequests.h"
#include "commands.h"
#include "controllease.h"
#include "devicesession.h"
#include "eventthrottle.h"
#include "journal.h"
#include "peersocket.h"

#include <QJsonObject>
#include <QTcpSocket>

#include <cmath>

namespace {

// A browser's request line ("POST / HTTP/1.1") or header line ("Host: ..."): a web page
// sending its request here, with commands in its body. No command has a colon, and none is
// an upper-case word followed by a path.
bool looksLikeHttp(const QByteArray &line)
{
    const int blank = line.indexOf(' ');
    if (blank >= 3 && blank <= 7 && line.size() > blank + 1) {
        const QByteArray method = line.left(blank);
        const char next = line.at(blank + 1);
        if (method.toUpper() == method && method.toLower() != method
            && (next == '/' || next == '*' || line.mid(blank + 1, 4).toLower() == "http"))
            return true;
    }
    if (line.contains(" HTTP/"))
        return true;
    const int colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    for (int i = 0; i < colon; ++i) {
        const char c = line.at(i);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
              || c == '-'))
            return false;
    }
    return true;
}

// Why a setting is outside what the panel and korvane-ctl send, or empty: the amplifier
// would clamp or misread such a value, and no client of ours means it.
QString outOfRange(const Command::Parsed &command)
{
    using namespace Command::Limits;
    using Kind = Command::Parsed::Kind;
    const auto range = [&command](long low, long high) {
        if (command.value >= low && command.value <= high)
            return QString();
        return QStringLiteral("out of range %1..%2").arg(low).arg(high);
    };
    switch (command.kind) {
    case Kind::SetRf:
        return range(0, 1);
    case Kind::SetGain:
        return range(0, std::lround(MaxGainDb * Command::GainScale));
    case Kind::SetLinearity:
        return range(MinLinearityPct, MaxLinearityPct);
    case Kind::SetMaxPower:
        return range(0, std::lround(MaxPowerLimitW * Command::PowerLimitScale));
    case Kind::SetMaxCellTemp:
    case Kind::SetMaxDrvTemp:
        return range(0, MaxTempLimitC);
    default:
        return QString();
    }
}

} // namespace

ClientConnection::ClientConnection(QTcpSocket *socket,
                                   AccessPolicy::Role role,
                                   DeviceSession *device,
                                   Journal *journal,
                                   EventThrottle *throttle,
                                   QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_role(role)
    , m_device(device)
    , m_journal(journal)
    , m_throttle(throttle)
{
    // A lease's holders are known by number: an address, or an object's place in memory,
    // would pass to the next connection.
    static quint64 connections = 0;
    m_id = ++connections;
    m_channel = new PeerSocket(socket, this);
    m_socket->setReadBufferSize(ReadBufferBytes);
    // Replies are small and each one is awaited; none should wait for the one before it.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_address = socket->peerAddress().toString();
    m_peer = QStringLiteral("%1:%2").arg(m_address).arg(socket->peerPort());
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientConnection::readLines);
    // A client that has sent all it will send still gets the answers it asked for.
    connect(m_channel, &PeerSocket::peerFinished, this, [this] {
        m_inputEnded = true;
        writeReadyReplies();
    });
    connect(m_channel, &PeerSocket::closed, this, [this] {
        m_throttle->record(m_address, Event::ClientDisconnected, details());
        close();
    });
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        drop(tr("idle for %1 s").arg(m_idleTimer.interval() / 1000));
    });
    m_lineTimer.setSingleShot(true);
    m_lineTimer.setInterval(LineTimeoutMs);
    connect(&m_lineTimer, &QTimer::timeout, this, [this] {
        drop(tr("line unfinished for %1 s").arg(LineTimeoutMs / 1000));
    });
}

void ClientConnection::setIdleTimeout(int ms)
{
    m_idleTimer.start(ms);
}

void ClientConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_idleTimer.stop();
    m_lineTimer.stop();
    m_channel->abort();
    emit finished();
}

void ClientConnection::readLines()
{
    if (m_closed)
        return;
    const QVector<LineSplitter::Line> lines = m_splitter.feed(m_socket->read(ReadSliceBytes));
    if (m_idleTimer.interval() > 0)
        m_idleTimer.start();
    // Timed from the line's first byte, not its last: a byte now and then does not renew it.
    if (!m_splitter.inLine())
        m_lineTimer.stop();
    else if (!m_lineTimer.isActive() || !lines.isEmpty())
        m_lineTimer.start();
    for (const LineSplitter::Line &line : lines) {
        if (m_closed)
            return;
        // Before any line of it is run.
        if (looksLikeHttp(line.text)) {
            drop(tr("HTTP request"));
            return;
        }
        if (line.overlong) {
            junk(QStringLiteral("overlong line"));
            continue;
        }
        handle(line.text);
    }
    // More is waiting: the other clients and the device get their turn first.
    if (!m_closed && !m_readQueued && m_socket->bytesAvailable() > 0) {
        m_readQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_readQueued = false;
                readLines();
            },
            Qt::QueuedConnection);
    } else if (m_inputEnded) {
        // The last of a client that has hung up: its answers, then the end.
        writeReadyReplies();
    }
}

void ClientConnection::junk(const QString &reason)
{
    if (++m_junkLines > MaxJunkLines) {
        drop(tr("more than %1 junk lines").arg(MaxJunkLines));
        return;
    }
    // Said once: what follows of it costs no more rows.
    if (m_junkLines == 1)
        m_throttle->record(m_address,
                           Event::ClientJunk,
                           details({{QStringLiteral("reason"), reason}}));
}

bool ClientConnection::handleOwn(const QByteArray &line)
{
    if (!m_requests || !Extension::isExtensionLine(line))
        return false;
    const Extension::Message request = Extension::parseLine(line);
    // Until the client says it knows the agent, these lines are junk, as to an amplifier.
    if (!m_optedIn && request.verb != QLatin1String(Extension::Verb::Hello))
        return false;
    m_optedIn = true;
    AgentRequests::Caller caller;
    caller.id = m_id;
    caller.peer = m_peer;
    caller.commonName = m_commonName;
    caller.role = m_role;
    caller.admin = m_admin;
    QString refused;
    const QByteArray frame = m_requests->answer(caller, request, &refused);
    if (!refused.isEmpty())
        m_throttle->record(m_address,
                           Event::RequestRefused,
                           details({{QStringLiteral("command"), QLatin1Char('@') + request.verb},
                                    {QStringLiteral("reason"), refused}}));
    enqueueAnswer(frame);
    return true;
}

void ClientConnection::enqueueAnswer(const QByteArray &frame)
{
    auto answer = std::make_shared<Reply>();
    answer->frame = frame;
    answer->ready = true;
    m_replies.enqueue(answer);
    writeReadyReplies();
}

void ClientConnection::refuse(const QString &command, const QString &reason)
{
    QJsonObject more{{QStringLiteral("command"), command}};
    if (!reason.isEmpty())
        more.insert(QStringLiteral("reason"), reason);
    m_throttle->record(m_address, Event::SettingRefused, details(more));
    if (m_optedIn)
        enqueueAnswer(Extension::frame(QLatin1String(Extension::Verb::Refused),
                                       {{QStringLiteral("command"), command},
                                        {QStringLiteral("reason"),
                                         reason.isEmpty() ? QStringLiteral("observer") : reason}}));
}

void ClientConnection::handle(const QByteArray &line)
{
    if (handleOwn(line))
        return;
    // A junk line's reason is worded only for the first, the one that is journalled.
    const Command::Parsed command = Command::parse(line, Command::ErrorText::Skipped);
    const auto askFor = [this](::Reply::Kind kind) {
        // Counted are those the device has yet to answer; those answered at once from the
        // agent's own reading wait only for the ones before them, within a looser bound.
        if (m_unanswered >= MaxPendingReplies || m_replies.size() >= MaxQueuedReplies) {
            drop(tr("too many questions unanswered"));
            return;
        }
        auto reply = std::make_shared<Reply>();
        m_replies.enqueue(reply);
        ++m_unanswered;
        m_device->ask(kind, this, [this, reply](const QByteArray &frame) {
            --m_unanswered;
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
        junk(m_junkLines == 0 ? Command::parse(line).error : QString());
        return;
    default:
        break;
    }
    // The device gets the command as the panel would send it, whatever blanks, tabs or
    // leading zeros the client used; the journal says what the device got.
    const QString text = Command::format(command);
    if (m_role != AccessPolicy::Role::Controller) {
        refuse(text, QString());
        return;
    }
    const QString range = outOfRange(command);
    if (!range.isEmpty()) {
        refuse(text, range);
        return;
    }
    // Switching RF off is never blocked, by a lease or anything else.
    const bool rfOff = command.kind == Command::Parsed::SetRf && command.value == 0;
    const QString leased = m_requests && !rfOff ? m_requests->lease()->refusal(m_id) : QString();
    if (!leased.isEmpty()) {
        refuse(text, leased);
        return;
    }
    // Journalled once it has left for the device, or as dropped if it cannot.
    m_device->pass(text, details());
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
    else if (!m_closed && m_inputEnded && m_replies.isEmpty() && !m_readQueued
             && m_socket->bytesAvailable() == 0)
        m_channel->finish();
}

void ClientConnection::drop(const QString &reason)
{
    m_throttle->record(m_address,
                       Event::ClientDropped,
                       details({{QStringLiteral("reason"), reason}}));
    emit dropped();
    close();
}

void ClientConnection::setCommonName(const QString &name)
{
    m_commonName = name;
}

QJsonObject ClientConnection::details(QJsonObject more) const
{
    more.insert(QStringLiteral("client"), m_peer);
    if (!m_commonName.isEmpty())
        more.insert(QStringLiteral("cn"), m_commonName);
    return more;
}
