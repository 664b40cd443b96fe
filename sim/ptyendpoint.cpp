#include "ptyendpoint.h"

#include "simconnection.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A hang-up waits for the panel to read the last replies, but not for ever.
constexpr int HangUpPollMs = 10;
constexpr int HangUpQuietMs = 50;
constexpr int HangUpPatienceMs = 2000;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PtyEndpoint::PtyEndpoint(AmplifierModel *model, const FaultOptions &faults, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_faults(faults)
{
    m_hangUpTimer.setInterval(HangUpPollMs);
    connect(&m_hangUpTimer, &QTimer::timeout, this, &PtyEndpoint::hangUpWhenRead);
}

PtyEndpoint::~PtyEndpoint()
{
    closeTerminal();
}

bool PtyEndpoint::open()
{
    if (!m_terminal.open())
        return false;
    m_readNotifier = new QSocketNotifier(m_terminal.master(), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::readMaster);
    m_writeNotifier = new QSocketNotifier(m_terminal.master(), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::flush);

    m_connection = new SimConnection(m_model, m_faults, QStringLiteral("pty"), this);
    connect(m_connection, &SimConnection::report, this, &PtyEndpoint::report);
    connect(m_connection, &SimConnection::send, this, &PtyEndpoint::write);
    connect(m_connection, &SimConnection::closeRequested, this, &PtyEndpoint::startHangUp);
    m_sinceWrite.start();
    watchForCloses();
    return true;
}

// A real serial line forgets nothing, but a real amplifier answers only the client that
// asks. Replies that a closed client left in the terminal would reach the next program to
// open it as answers to its own first requests, so they go when their reader goes: when
// no program has the serial side open any more. A client may close the descriptor it wrote
// its lines on (its half-close) and still read the answers on another.
void PtyEndpoint::watchForCloses()
{
    m_closeWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_closeWatch < 0
        || inotify_add_watch(m_closeWatch,
                             m_terminal.slavePath().toLocal8Bit().constData(),
                             IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)
               < 0) {
        emit report(QStringLiteral("pty: replies a closed client left unread will reach the next "
                                   "one: %1")
                        .arg(systemError()));
        return;
    }
    m_closeNotifier = new QSocketNotifier(m_closeWatch, QSocketNotifier::Read, this);
    connect(m_closeNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::forgetUnreadIfClosed);
}

void PtyEndpoint::readOpensAndCloses(bool *closed, bool *reopened)
{
    alignas(inotify_event) char events[4096];
    ssize_t length = 0;
    while ((length = ::read(m_closeWatch, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                *closed = true;
                *reopened = false;
            } else if ((event->mask & IN_OPEN) && *closed) {
                *reopened = true;
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

void PtyEndpoint::forgetUnreadIfClosed()
{
    if (m_closeWatch < 0)
        return;
    bool closed = false;
    bool reopened = false;
    readOpensAndCloses(&closed, &reopened);
    if (!closed || m_terminal.slave() < 0)
        return;
    // Taken back as soon as the close is seen, through the terminal's own serial side, which
    // reads what the closed client left. A program that opens and reads within that moment
    // may still get them, as on a real line; our clients clear their input when they open.
    QByteArray unread;
    int count = 0;
    if (ioctl(m_terminal.slave(), FIONREAD, &count) == 0 && count > 0) {
        unread.resize(count);
        const ssize_t taken = ::read(m_terminal.slave(), unread.data(), size_t(count));
        unread.resize(int(qMax<ssize_t>(0, taken)));
    }
    unread += m_pending;
    m_pending.clear();
    // Given back while a program that had it open before still has: the writer of a pair of
    // descriptors closed, the reader waits. One that opens after the close is the next
    // client, to hear only its own answers.
    if (!reopened && m_terminal.isSlaveInUse()) {
        readOpensAndCloses(&closed, &reopened);
        if (!reopened) {
            m_pending = unread;
            flush();
            return;
        }
    }
    if (!unread.isEmpty())
        emit report(QStringLiteral("pty: closed with %1 bytes of replies unread; discarded")
                        .arg(unread.size()));
}

void PtyEndpoint::readMaster()
{
    // A client that closed and a new one that asks at once: the old replies go before the
    // new ones are written.
    forgetUnreadIfClosed();
    char buffer[4096];
    while (m_terminal.master() >= 0) {
        const ssize_t count = ::read(m_terminal.master(), buffer, sizeof buffer);
        if (count > 0) {
            m_connection->receive(QByteArray(buffer, int(count)));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // With our own slave descriptor open this should not happen; if it does, a
        // notifier left on would spin on the error.
        emit report(QStringLiteral("pty: read failed: %1").arg(systemError()));
        m_readNotifier->setEnabled(false);
        return;
    }
}

void PtyEndpoint::write(const QByteArray &bytes)
{
    if (m_terminal.master() < 0)
        return;
    if (m_pending.size() + bytes.size() > MaxPendingBytes) {
        emit report(
            QStringLiteral("pty: nobody reads the terminal, %1 bytes dropped").arg(bytes.size()));
        return;
    }
    m_pending += bytes;
    flush();
}

void PtyEndpoint::flush()
{
    while (m_terminal.master() >= 0 && !m_pending.isEmpty()) {
        const ssize_t count = ::write(m_terminal.master(),
                                      m_pending.constData(),
                                      size_t(m_pending.size()));
        if (count > 0) {
            m_pending.remove(0, int(count));
            m_sinceWrite.start();
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        emit report(QStringLiteral("pty: write failed: %1").arg(systemError()));
        m_pending.clear();
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void PtyEndpoint::startHangUp()
{
    m_sinceHangUp.start();
    m_hangUpTimer.start();
}

// Closing the master throws away whatever the slave has not read yet, so the last reply
// before a hang-up would often be lost. Wait until the terminal's input queue is empty.
void PtyEndpoint::hangUpWhenRead()
{
    int unread = 0;
    if (m_terminal.slave() >= 0 && ioctl(m_terminal.slave(), FIONREAD, &unread) != 0)
        unread = 0;
    const bool drained = m_pending.isEmpty() && unread == 0
                         && m_sinceWrite.elapsed() >= HangUpQuietMs;
    if (!drained && m_sinceHangUp.elapsed() < HangUpPatienceMs)
        return;
    m_hangUpTimer.stop();
    closeTerminal();
    emit report(QStringLiteral("pty: hung up"));
}

void PtyEndpoint::closeTerminal()
{
    delete m_closeNotifier;
    m_closeNotifier = nullptr;
    if (m_closeWatch >= 0)
        ::close(m_closeWatch);
    m_closeWatch = -1;
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    m_terminal.close();
    m_pending.clear();
}
