#include "devicesession.h"

#include "commands.h"

namespace {

const char *commandFor(Reply::Kind kind)
{
    switch (kind) {
    case Reply::Kind::Identification:
        return Command::Identify;
    case Reply::Kind::Status:
        return Command::Status;
    default:
        return Command::Meas;
    }
}

} // namespace

DeviceSession::DeviceSession(const AmplifierLink::Target &target, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_link(target)
{
    m_replyTimer.setSingleShot(true);
    // A coarse timer may fire a few percent early, before the promised wait is over.
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    m_replyTimer.setInterval(timeoutMs);
    connect(&m_replyTimer, &QTimer::timeout, this, &DeviceSession::onTimedOut);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, &m_link, &AmplifierLink::open);
    m_pollTimer.setInterval(PollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &DeviceSession::poll);
    // The amplifier's settings change on other paths too (its own fault logic, another
    // client of a shared line): read them again and again, not only after our own settings.
    m_statusTimer.setInterval(DefaultStatusIntervalMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &DeviceSession::readStatus);
    connect(&m_link, &AmplifierLink::opened, this, &DeviceSession::onOpened);
    connect(&m_link, &AmplifierLink::openFailed, this, &DeviceSession::onOpenFailed);
    connect(&m_link, &AmplifierLink::linkLost, this, &DeviceSession::onLost);
    connect(&m_link, &AmplifierLink::frameReceived, this, &DeviceSession::onFrame);
    connect(&m_link, &AmplifierLink::allWritten, this, &DeviceSession::onWritten);
}

DeviceSession::~DeviceSession()
{
    m_stopped = true;
}

void DeviceSession::start()
{
    m_stopped = false;
    m_link.open();
}

void DeviceSession::stop()
{
    m_stopped = true;
    m_retryTimer.stop();
    if (m_up)
        onLost(tr("the agent is stopping"));
    else
        abandonJobs(tr("the agent is stopping"));
    m_pollTimer.stop();
    m_statusTimer.stop();
    m_link.close();
}

void DeviceSession::ask(Reply::Kind kind, QObject *context, const Answer &answer)
{
    if (!m_up) {
        answer(QByteArray());
        return;
    }
    if (kind == Reply::Kind::Identification && !m_identity.isEmpty()) {
        answer(m_identity);
        return;
    }
    // A reading or query that went out before a setting since would show the state before it.
    const bool settingsOut = m_settingsWaiting == 0;
    if (kind == Reply::Kind::Measurement) {
        if (!m_lastMeas.isEmpty() && m_measAge.elapsed() <= FreshMs && settingsOut
            && m_lastMeasSettings == m_settingsSent) {
            answer(m_lastMeas);
            return;
        }
    }
    if (m_current.kind == kind && settingsOut && m_current.settingsBefore == m_settingsSent) {
        m_current.waiters.append({context, answer});
        return;
    }
    Job *job = queuedQuery(kind);
    if (!job)
        job = &enqueueQuery(kind);
    job->waiters.append({context, answer});
    runJobs();
}

void DeviceSession::pass(const QString &line, const QJsonObject &client)
{
    if (!m_up) {
        emit settingDropped(line, client, tr("amplifier link down"));
        return;
    }
    ++m_settingsWaiting;
    Job setting;
    setting.line = line;
    setting.client = client;
    m_jobs.enqueue(setting);
    // Read the settings back, so that the limits the journal compares against stay current.
    if (!queuedQuery(Reply::Kind::Status))
        enqueueQuery(Reply::Kind::Status);
    runJobs();
}

void DeviceSession::onOpened()
{
    // An open connection is not yet an amplifier: the link counts as up once it answers.
    m_identity.clear();
    m_lastMeas.clear();
    m_statusChar = 0;
    m_unanswered.clear();
    enqueueQuery(Reply::Kind::Identification);
    enqueueQuery(Reply::Kind::Status);
    runJobs();
}

void DeviceSession::onLost(const QString &reason)
{
    const bool wasUp = m_up;
    m_up = false;
    m_pollTimer.stop();
    m_statusTimer.stop();
    abandonJobs(reason);
    if (wasUp)
        emit down(reason);
    else
        emit openFailed(reason);
    reconnectLater();
}

void DeviceSession::onOpenFailed(const QString &reason)
{
    emit openFailed(reason);
    reconnectLater();
}

void DeviceSession::abandonJobs(const QString &reason)
{
    m_replyTimer.stop();
    m_unanswered.clear();
    finishCurrent(QByteArray());
    // What was sent but never left the program did not reach the device either.
    const QList<Setting> unwritten = std::move(m_unwritten);
    m_unwritten.clear();
    for (const Setting &setting : unwritten)
        emit settingDropped(setting.line, setting.client, reason);
    while (!m_jobs.isEmpty()) {
        m_current = m_jobs.dequeue();
        if (m_current.kind == Reply::Kind::Unknown) {
            --m_settingsWaiting;
            emit settingDropped(m_current.line, m_current.client, reason);
        }
        finishCurrent(QByteArray());
    }
}

void DeviceSession::onWritten()
{
    if (!m_link.isOpen())
        return;
    const QList<Setting> written = std::move(m_unwritten);
    m_unwritten.clear();
    for (const Setting &setting : written)
        emit settingSent(setting.line, setting.client);
}

void DeviceSession::comeUp()
{
    m_up = true;
    m_backoff.reset();
    m_pollTimer.start();
    m_statusTimer.start();
    emit up();
}

void DeviceSession::reconnectLater()
{
    if (!m_stopped)
        m_retryTimer.start(m_backoff.next());
}

void DeviceSession::onFrame(const QByteArray &frame)
{
    const Reply::Kind kind = Reply::kindOf(frame);
    // The earliest query of its kind still open owns it; those given up on before that one
    // will never be answered, as the amplifier answers in order.
    const int late = m_unanswered.indexOf(kind);
    if (late >= 0) {
        m_unanswered.erase(m_unanswered.begin(), m_unanswered.begin() + late + 1);
        // Late, but an answer: the amplifier is still there.
        m_lastReply.start();
        return;
    }
    if (kind == Reply::Kind::Unknown || kind != m_current.kind || !m_replyTimer.isActive())
        return;
    m_unanswered.clear();
    m_replyTimer.stop();
    onAnswered(frame);
}

void DeviceSession::onAnswered(const QByteArray &frame)
{
    // Clients get the frame as it goes on the wire; it is decoded here once for the rest.
    const QByteArray wire = FrameAssembler::Start + frame;
    const Reply::Kind kind = m_current.kind;
    const QStringList ownSettings = m_current.ownSettings;
    m_lastReply.start();
    if (!m_up)
        comeUp();
    if (kind == Reply::Kind::Identification)
        m_identity = wire;
    if (kind == Reply::Kind::Measurement) {
        m_lastMeas = wire;
        m_lastMeasSettings = m_current.settingsBefore;
        m_measAge.start();
    }
    finishCurrent(wire);
    switch (kind) {
    case Reply::Kind::Identification:
        emit identified(Reply::probeModelText(wire));
        break;
    case Reply::Kind::Status:
        // No setting goes out while a query waits: those sent before this one are all shown.
        m_ownSettings.clear();
        emit settingsRead(Reply::decodeStatus(frame), ownSettings);
        break;
    case Reply::Kind::Measurement: {
        const Reply::Measurement meas = Reply::decodeMeasurement(frame);
        // A new status character (a fault latched or cleared) may come with new settings,
        // such as RF switched off. The first reading on a link counts as new: the fault may
        // have come between the Status read at connect and this reading.
        if (meas.has(Reply::MeasField::StatusChar)) {
            if (char(meas.statusChar) != m_statusChar)
                readStatus();
            m_statusChar = char(meas.statusChar);
        }
        emit measured(meas);
        break;
    }
    case Reply::Kind::Unknown:
        break;
    }
    runJobs();
}

void DeviceSession::onTimedOut()
{
    const QString command = m_current.line;
    if (!m_up) {
        // Whatever took the connection does not speak the amplifier's protocol (or nothing
        // stands behind it): the link failed, and is tried again later.
        m_link.close();
        onLost(tr("no reply to '%1' within %2 ms").arg(command).arg(m_replyTimer.interval()));
        return;
    }
    m_unanswered.append(m_current.kind);
    finishCurrent(QByteArray());
    emit noReply(command);
    if (checkSilence())
        return;
    runJobs();
}

bool DeviceSession::checkSilence()
{
    // Answering nothing at all is as good as gone: its clients are told, and the link is
    // opened again, rather than kept "up" for ever.
    // Never sooner than one question's own time to answer.
    const int silenceMs = qMax(SilenceMs, m_replyTimer.interval());
    if (!m_up || !m_lastReply.hasExpired(silenceMs))
        return false;
    m_link.close();
    onLost(tr("no reply for %1 s").arg(silenceMs / 1000.0));
    return true;
}

void DeviceSession::poll()
{
    if (checkSilence())
        return;
    if (m_current.kind != Reply::Kind::Measurement && !queuedQuery(Reply::Kind::Measurement)) {
        enqueueQuery(Reply::Kind::Measurement);
        runJobs();
    }
}

void DeviceSession::readStatus()
{
    if (m_up && m_current.kind != Reply::Kind::Status && !queuedQuery(Reply::Kind::Status)) {
        enqueueQuery(Reply::Kind::Status);
        runJobs();
    }
}

DeviceSession::Job *DeviceSession::queuedQuery(Reply::Kind kind)
{
    // Only one behind the last setting queued: one before it would show the state before it.
    for (auto it = m_jobs.rbegin(); it != m_jobs.rend(); ++it) {
        if (it->kind == kind)
            return &*it;
        if (it->kind == Reply::Kind::Unknown)
            return nullptr;
    }
    return nullptr;
}

DeviceSession::Job &DeviceSession::enqueueQuery(Reply::Kind kind)
{
    Job query;
    query.line = QLatin1String(commandFor(kind));
    query.kind = kind;
    m_jobs.enqueue(query);
    return m_jobs.last();
}

void DeviceSession::runJobs()
{
    while (m_link.isOpen() && m_current.kind == Reply::Kind::Unknown && !m_jobs.isEmpty()) {
        Job job = m_jobs.dequeue();
        if (job.kind == Reply::Kind::Unknown) {
            m_link.sendLine(job.line);
            --m_settingsWaiting;
            ++m_settingsSent;
            m_ownSettings.append(job.line);
            m_unwritten.append({job.line, job.client});
            m_link.notifyWhenWritten();
            continue;
        }
        job.settingsBefore = m_settingsSent;
        if (job.kind == Reply::Kind::Status)
            job.ownSettings = m_ownSettings;
        m_current = std::move(job);
        // With no query open, whatever the link holds answers nothing of ours (replies an
        // earlier program left unread on a serial line). With one open, its late reply may
        // be there: it is recognised and dropped, never thrown away unseen.
        if (m_unanswered.isEmpty())
            m_link.discardInput();
        m_replyTimer.start();
        m_link.sendLine(m_current.line);
    }
}

void DeviceSession::finishCurrent(const QByteArray &frame)
{
    const QList<Waiter> waiters = std::move(m_current.waiters);
    m_current = Job();
    for (const Waiter &waiter : waiters) {
        if (waiter.context)
            waiter.answer(frame);
    }
}
