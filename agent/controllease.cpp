#include "controllease.h"

#include "alarmengine.h"
#include "journal.h"

#include <QDateTime>
#include <QRandomGenerator>

ControlLease::ControlLease(Journal *journal, QObject *parent)
    : QObject(parent)
    , m_journal(journal)
    , m_clock(systemClock())
{
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &ControlLease::expireIfDue);
}

QString ControlLease::checkSeconds(int seconds) const
{
    if (seconds < 1 || seconds > MaxSeconds)
        return QStringLiteral("a lease lasts from 1 s to %1 s").arg(MaxSeconds);
    return QString();
}

QJsonObject ControlLease::details() const
{
    return {{QStringLiteral("who"), m_holder},
            {QStringLiteral("note"), m_note},
            {QStringLiteral("until"), AlarmEngine::timeText(m_untilMs)}};
}

ControlLease::Result ControlLease::take(quint64 client,
                                        const QString &who,
                                        const QString &note,
                                        int seconds)
{
    expireIfDue();
    Result result;
    result.error = checkSeconds(seconds);
    if (result.error.isEmpty() && isHeld())
        result.error = refusal(client).isEmpty() ? QStringLiteral("you hold the lease already")
                                                 : refusal(client);
    if (!result.error.isEmpty())
        return result;
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    m_token = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
    m_holder = who;
    m_note = note;
    m_untilMs = now() + qint64(seconds) * 1000;
    m_holders = {client};
    armTimer();
    m_journal->record(Event::LeaseTaken, details());
    emit changed();
    result.token = m_token;
    result.untilMs = m_untilMs;
    return result;
}

ControlLease::Result ControlLease::renew(quint64 client, int seconds)
{
    expireIfDue();
    Result result;
    result.error = checkSeconds(seconds);
    if (result.error.isEmpty() && !isHolder(client))
        result.error = QStringLiteral("you do not hold the lease");
    if (!result.error.isEmpty())
        return result;
    m_untilMs = now() + qint64(seconds) * 1000;
    armTimer();
    QJsonObject renewed = details();
    renewed.insert(QStringLiteral("renewed"), true);
    m_journal->record(Event::LeaseTaken, renewed);
    emit changed();
    result.untilMs = m_untilMs;
    return result;
}

ControlLease::Result ControlLease::release(quint64 client)
{
    expireIfDue();
    Result result;
    if (!isHolder(client))
        result.error = QStringLiteral("you do not hold the lease");
    else
        end(int(Event::LeaseReleased), details());
    return result;
}

ControlLease::Result ControlLease::use(quint64 client, const QString &token)
{
    expireIfDue();
    Result result;
    // An ended lease's token matches nothing: it can never write again.
    if (!isHeld() || token.size() != m_token.size() || token != m_token) {
        result.error = QStringLiteral("no lease with that token");
        return result;
    }
    m_holders.insert(client);
    result.untilMs = m_untilMs;
    return result;
}

ControlLease::Result ControlLease::breakLease(const QString &who, const QString &reason)
{
    expireIfDue();
    Result result;
    if (!isHeld())
        result.error = QStringLiteral("nobody holds the lease");
    else if (reason.trimmed().isEmpty())
        result.error = QStringLiteral("breaking a lease needs a reason");
    else {
        QJsonObject broken = details();
        broken.insert(QStringLiteral("by"), who);
        broken.insert(QStringLiteral("reason"), reason);
        end(int(Event::LeaseBroken), broken);
    }
    return result;
}

void ControlLease::expireIfDue()
{
    if (isHeld() && now() >= m_untilMs)
        end(int(Event::LeaseExpired), details());
    else if (isHeld())
        armTimer();
}

void ControlLease::end(int event, QJsonObject details)
{
    m_token.clear();
    m_holders.clear();
    m_holder.clear();
    m_note.clear();
    m_untilMs = 0;
    m_expiry.stop();
    m_journal->record(Event(event), details);
    emit changed();
}

void ControlLease::armTimer()
{
    m_expiry.start(int(qBound<qint64>(0, m_untilMs - now(), MaxSeconds * 1000LL)));
}

QString ControlLease::refusal(quint64 client) const
{
    if (!isHeld() || m_holders.contains(client) || now() >= m_untilMs)
        return QString();
    return QStringLiteral("lease held by %1 until %2")
        .arg(m_holder,
             QDateTime::fromMSecsSinceEpoch(m_untilMs).toString(QStringLiteral("HH:mm:ss")));
}

qint64 ControlLease::secondsLeft() const
{
    return isHeld() ? qMax<qint64>(0, (m_untilMs - now() + 999) / 1000) : 0;
}

QJsonObject ControlLease::toJson(quint64 client) const
{
    if (!isHeld())
        return {{QStringLiteral("held"), false}};
    return {{QStringLiteral("held"), true},
            {QStringLiteral("holder"), m_holder},
            {QStringLiteral("note"), m_note},
            {QStringLiteral("until"), AlarmEngine::timeText(m_untilMs)},
            {QStringLiteral("seconds_left"), secondsLeft()},
            {QStringLiteral("yours"), m_holders.contains(client)}};
}
