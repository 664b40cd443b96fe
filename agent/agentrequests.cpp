#include "agentrequests.h"

#include "alarmengine.h"
#include "alarmwatch.h"
#include "controllease.h"

#include <QCoreApplication>
#include <QJsonArray>

#include <cmath>

namespace {

namespace Verb = Extension::Verb;

QByteArray ok(const QString &command, QJsonObject more = {})
{
    more.insert(QStringLiteral("command"), command);
    return Extension::frame(QLatin1String(Verb::Ok), more);
}

QByteArray error(const QString &command, const QString &reason)
{
    return Extension::frame(QLatin1String(Verb::Error),
                            {{QStringLiteral("command"), command},
                             {QStringLiteral("reason"), reason}});
}

// Whole seconds from `key`; -1 if absent or no whole number from 1 up.
int seconds(const QJsonObject &body, const QString &key)
{
    const QJsonValue value = body.value(key);
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 1 || number > 1e9 || std::floor(number) != number)
        return -1;
    return int(number);
}

QString text(const QJsonObject &body, const QString &key)
{
    return body.value(key).toString().trimmed();
}

} // namespace

QString AgentRequests::Caller::who() const
{
    if (!commonName.isEmpty())
        return commonName;
    return peer.left(peer.lastIndexOf(QLatin1Char(':')));
}

QByteArray AgentRequests::answer(const Caller &caller,
                                 const Extension::Message &request,
                                 QString *refused)
{
    const QString &verb = request.verb;
    if (!request.error.isEmpty())
        return error(verb, request.error);
    if (verb == QLatin1String(Verb::Hello)) {
        return Extension::frame(QLatin1String(Verb::Hello),
                                {{QStringLiteral("agent"), QStringLiteral("korvane-agent")},
                                 {QStringLiteral("version"), QCoreApplication::applicationVersion()},
                                 {QStringLiteral("extension"), Extension::Version},
                                 {QStringLiteral("client"), caller.peer},
                                 {QStringLiteral("cn"), caller.commonName},
                                 {QStringLiteral("role"), AccessPolicy::name(caller.role)},
                                 {QStringLiteral("admin"), caller.admin}});
    }
    if (verb == QLatin1String(Verb::Alarms)) {
        const AlarmEngine &engine = m_alarms->engine();
        return Extension::frame(QLatin1String(Verb::Alarms),
                                {{QStringLiteral("worst_severity"),
                                  QLatin1String(Alarm::severityName(engine.worst()))},
                                 {QStringLiteral("alarms"), engine.toJson(false)}});
    }
    if (verb == QLatin1String(Verb::Lease))
        return Extension::frame(QLatin1String(Verb::Lease), m_lease->toJson(caller.id));
    const bool alarmVerb = verb == QLatin1String(Verb::Ack) || verb == QLatin1String(Verb::Shelve)
                           || verb == QLatin1String(Verb::Unshelve);
    const bool leaseVerb = verb.startsWith(QLatin1String("lease-"));
    if (!alarmVerb && !leaseVerb)
        return error(verb, QStringLiteral("unknown command"));
    if (verb == QLatin1String(Verb::LeaseBreak)) {
        if (!caller.admin) {
            *refused = QStringLiteral("only an admin may break a lease");
            return error(verb, *refused);
        }
    } else if (caller.role != AccessPolicy::Role::Controller) {
        *refused = alarmVerb ? QStringLiteral("observers may not acknowledge or shelve alarms")
                             : QStringLiteral("observers may not hold the lease");
        return error(verb, *refused);
    }
    return alarmVerb ? alarmRequest(caller, request) : leaseRequest(caller, request, refused);
}

QByteArray AgentRequests::alarmRequest(const Caller &caller, const Extension::Message &request)
{
    const QString &verb = request.verb;
    const QString alarm = text(request.body, QStringLiteral("alarm"));
    if (alarm.isEmpty())
        return error(verb, QStringLiteral("no \"alarm\" given"));
    AlarmEngine::Result result;
    if (verb == QLatin1String(Verb::Ack)) {
        result = m_alarms->acknowledge(alarm,
                                       caller.who(),
                                       text(request.body, QStringLiteral("comment")));
    } else if (verb == QLatin1String(Verb::Unshelve)) {
        result = m_alarms->unshelve(alarm, caller.who());
    } else {
        const bool untilClear = request.body.value(QStringLiteral("until_clear")).toBool();
        const int duration = seconds(request.body, QStringLiteral("for"));
        if (untilClear == (duration > 0))
            return error(verb,
                         QStringLiteral("give either \"for\" (whole seconds) or \"until_clear\""));
        result = m_alarms->shelve(alarm,
                                  caller.who(),
                                  text(request.body, QStringLiteral("reason")),
                                  untilClear ? 0 : duration);
    }
    if (!result.error.isEmpty())
        return error(verb, result.error);
    const QString key = verb == QLatin1String(Verb::Ack) ? QStringLiteral("acknowledged")
                                                         : QStringLiteral("alarms");
    return ok(verb, {{key, QJsonArray::fromStringList(result.alarms)}});
}

QByteArray AgentRequests::leaseRequest(const Caller &caller,
                                       const Extension::Message &request,
                                       QString *refused)
{
    const QString &verb = request.verb;
    ControlLease::Result result;
    if (verb == QLatin1String(Verb::LeaseTake)) {
        result = m_lease->take(caller.id,
                               caller.who(),
                               text(request.body, QStringLiteral("note")),
                               seconds(request.body, QStringLiteral("for")));
    } else if (verb == QLatin1String(Verb::LeaseRenew)) {
        result = m_lease->renew(caller.id, seconds(request.body, QStringLiteral("for")));
    } else if (verb == QLatin1String(Verb::LeaseRelease)) {
        result = m_lease->release(caller.id);
    } else if (verb == QLatin1String(Verb::LeaseUse)) {
        result = m_lease->use(caller.id, request.body.value(QStringLiteral("token")).toString());
        // A wrong token is someone trying: journalled as a refusal.
        if (!result.error.isEmpty())
            *refused = result.error;
    } else if (verb == QLatin1String(Verb::LeaseBreak)) {
        result = m_lease->breakLease(caller.who(), text(request.body, QStringLiteral("reason")));
    } else {
        return error(verb, QStringLiteral("unknown command"));
    }
    if (!result.error.isEmpty())
        return error(verb, result.error);
    QJsonObject more;
    if (!result.token.isEmpty())
        more.insert(QStringLiteral("token"), result.token);
    if (result.untilMs > 0)
        more.insert(QStringLiteral("until"), AlarmEngine::timeText(result.untilMs));
    return ok(verb, more);
}
