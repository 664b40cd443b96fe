#include "panelmodel.h"

#include "commands.h"

#include <QDateTime>

#include <cmath>

namespace {

// Settings travel in tenths and half steps; a read-back within this shows the value sent.
constexpr double SameValue = 1e-6;

} // namespace

PanelModel::PanelModel(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<PanelModel::Refusal>();
}

void PanelModel::setPhase(Link link, Phase phase)
{
    LinkState &s = state(link);
    const bool wasOpen = isOpen(link);
    s.phase = phase;
    if (!isOpen(link)) {
        s.title.clear();
        s.identity = Reply::Identity();
        s.answering = false;
        // What the agent said held for that connection only; the next far end may be
        // another, or no agent at all.
        if (link == m_agent.link && !m_agent.role.isEmpty()) {
            m_agent = AgentState();
            m_mayChange = true;
        }
    }
    // Whatever was read before belongs to another link, or to the link as it was before it
    // opened again: the settings are read afresh.
    const bool readLinkOpen = isOpen(readLink());
    if (readLink() != m_lastReadLink || readLinkOpen != m_readLinkOpen
        || (isOpen(link) && !wasOpen && link == readLink()))
        forgetSettings();
    // A link whose replies are no longer read is not known to answer until it is read again.
    if (readLink() != m_lastReadLink) {
        LinkState &left = state(m_lastReadLink);
        left.answering = false;
        if (left.phase == Phase::Identified)
            left.phase = Phase::Silent;
    }
    m_lastReadLink = readLink();
    m_readLinkOpen = readLinkOpen;
    emit changed();
}

void PanelModel::forgetSettings()
{
    // The values last read stay, as the controls keep showing them greyed; they are no longer
    // current.
    m_hasSettings = false;
    m_statusAsked = 0;
    m_statusAnswered = 0;
    for (Wanted &wanted : m_wanted)
        wanted = Wanted();
}

void PanelModel::connecting(Link link, const QString &address)
{
    state(link).address = address;
    setPhase(link, Phase::Connecting);
}

void PanelModel::opened(Link link, const QString &address)
{
    state(link).address = address;
    state(link).answering = false;
    setPhase(link, Phase::Open);
}

void PanelModel::identified(Link link, const QString &title, const Reply::Identity &identity)
{
    if (!isOpen(link))
        return;
    LinkState &s = state(link);
    s.title = title;
    s.identity = identity;
    s.answering = true;
    setPhase(link, Phase::Identified);
}

void PanelModel::answered(Link link)
{
    LinkState &s = state(link);
    if (!isOpen(link) || (s.answering && s.phase != Phase::Silent))
        return;
    s.answering = true;
    setPhase(link, s.title.isEmpty() ? Phase::Open : Phase::Identified);
}

void PanelModel::measured(Link link, const Reply::Measurement &readings)
{
    m_readings = readings;
    answered(link);
}

void PanelModel::silent(Link link)
{
    LinkState &s = state(link);
    if (!isOpen(link))
        return;
    s.answering = false;
    setPhase(link, s.title.isEmpty() ? Phase::Open : Phase::Silent);
}

void PanelModel::closed(Link link)
{
    setPhase(link, Phase::Closed);
}

void PanelModel::lost(Link link)
{
    setPhase(link, Phase::Lost);
}

QString PanelModel::model(Link link) const
{
    return m_links[index(link)].identity.modelText;
}

Reply::Identity PanelModel::identity() const
{
    return m_links[index(readLink())].identity;
}

bool PanelModel::isOpen(Link link) const
{
    const Phase p = phase(link);
    return p == Phase::Open || p == Phase::Identified || p == Phase::Silent;
}

PanelModel::Link PanelModel::readLink() const
{
    return isOpen(Link::Tcp) ? Link::Tcp : Link::Serial;
}

PanelModel::Lamp PanelModel::lamp(Link link) const
{
    switch (phase(link)) {
    case Phase::Identified:
        return Lamp::Green;
    case Phase::Lost:
        return link == Link::Serial ? Lamp::Red : Lamp::Grey;
    default:
        return Lamp::Grey;
    }
}

QString PanelModel::lampDescription(Link link) const
{
    switch (phase(link)) {
    case Phase::Closed:
        return tr("No link");
    case Phase::Connecting:
        return tr("Connecting");
    case Phase::Open:
        return tr("Link open, waiting for the amplifier");
    case Phase::Identified:
        return tr("Link up");
    case Phase::Silent:
        return link == readLink() ? tr("Link open, the amplifier does not answer")
                                  : tr("Link open, its replies are not read");
    case Phase::Lost:
        return link == Link::Serial ? tr("Link lost") : tr("Link closed by the far end");
    }
    return QString();
}

bool PanelModel::offersDisconnect(Link link) const
{
    return phase(link) == Phase::Connecting || isOpen(link);
}

QString PanelModel::title() const
{
    const LinkState &s = m_links[index(readLink())];
    if (isOpen(readLink()) && !s.title.isEmpty())
        return s.title;
    return tr("Korvane Amplifier");
}

bool PanelModel::readingsLive() const
{
    return isOpen(readLink()) && m_links[index(readLink())].answering;
}

void PanelModel::settingSent(Reply::StatusField field, double value)
{
    Wanted &wanted = m_wanted[int(field)];
    wanted.pending = true;
    wanted.value = value;
    wanted.status = m_statusAsked;
    wanted.reason.clear();
}

void PanelModel::statusRead(const Reply::Status &status)
{
    const int number = ++m_statusAnswered;
    for (int i = 0; i < Reply::SettingCount; ++i) {
        Wanted &wanted = m_wanted[i];
        const auto field = Reply::StatusField(i);
        // A Status without the field says nothing of it: the next one will.
        if (!wanted.pending || number < wanted.status || !status.has(field))
            continue;
        wanted.pending = false;
        const double kept = status.value(field);
        if (std::fabs(kept - wanted.value) <= SameValue)
            continue;
        m_lastRefusal = Refusal{field, wanted.value, kept, wanted.reason};
        emit settingNotTaken(m_lastRefusal);
    }
    // Only a whole Status tells every control's value; a short one changes what the controls
    // it reaches show, not whether the settings are known.
    if (status.fieldCount < Reply::StatusFieldCount)
        return;
    m_settings = status;
    if (!m_hasSettings) {
        m_hasSettings = true;
        emit changed();
    }
}

bool PanelModel::mayApply(Reply::StatusField field) const
{
    return m_statusAnswered >= m_wanted[int(field)].status;
}

void PanelModel::setMayChange(bool may)
{
    if (may == m_mayChange)
        return;
    m_mayChange = may;
    emit changed();
}

void PanelModel::agentSaid(Link link, const Extension::Message &message)
{
    if (!isOpen(link))
        return;
    const QJsonObject &body = message.body;
    if (message.verb == QLatin1String(Extension::Verb::Hello)) {
        m_agent = AgentState();
        m_agent.link = link;
        m_agent.role = body.value(QStringLiteral("role")).toString();
        if (m_agent.role.isEmpty())
            m_agent.role = tr("unknown role");
        // Only a controller's settings are passed on.
        m_mayChange = m_agent.role == QLatin1String("controller");
        emit changed();
    } else if (message.verb == QLatin1String(Extension::Verb::Lease)) {
        if (m_agent.role.isEmpty() || link != m_agent.link)
            return;
        m_agent.leaseKnown = true;
        m_agent.leaseHeld = body.value(QStringLiteral("held")).toBool();
        m_agent.leaseYours = body.value(QStringLiteral("yours")).toBool();
        m_agent.leaseHolder = body.value(QStringLiteral("holder")).toString();
        m_agent.leaseUntil = body.value(QStringLiteral("until")).toString();
        emit changed();
    } else if (message.verb == QLatin1String(Extension::Verb::Refused)) {
        settingRefused(body.value(QStringLiteral("command")).toString(),
                       body.value(QStringLiteral("reason")).toString());
    }
}

void PanelModel::settingRefused(const QString &command, const QString &reason)
{
    const Command::Parsed parsed = Command::parse(command.toUtf8(), Command::ErrorText::Skipped);
    int field = -1;
    switch (parsed.kind) {
    case Command::Parsed::SetRf:
        field = int(Reply::StatusField::Rf);
        break;
    case Command::Parsed::SetGain:
        field = int(Reply::StatusField::GainA) + parsed.channel;
        break;
    case Command::Parsed::SetLinearity:
        field = int(Reply::StatusField::Linearity);
        break;
    case Command::Parsed::SetMaxPower:
        field = int(Reply::StatusField::MaxPower);
        break;
    case Command::Parsed::SetMaxCellTemp:
        field = int(Reply::StatusField::MaxCellTemp);
        break;
    case Command::Parsed::SetMaxDrvTemp:
        field = int(Reply::StatusField::MaxDriverTemp);
        break;
    default:
        break;
    }
    // A setting's read-back, still to come, tells what the amplifier kept, with these words.
    if (field >= 0 && m_wanted[field].pending) {
        m_wanted[field].reason = reason;
        return;
    }
    emit commandRefused(command, reason);
}

QString PanelModel::agentText() const
{
    if (m_agent.role.isEmpty() || !isOpen(m_agent.link))
        return QString();
    // This client's role at the agent: the label's accessible name says whose.
    QString text = m_agent.role == QLatin1String("observer")     ? tr("Observer (read only)")
                   : m_agent.role == QLatin1String("controller") ? tr("Controller")
                                                                 : m_agent.role;
    // The lease is told only while the link answers: an old answer may be over by now.
    if (!m_agent.leaseKnown || phase(m_agent.link) != Phase::Identified)
        return text;
    if (!m_agent.leaseHeld)
        return text + tr(", lease free");
    // The agent's times are local, with milliseconds and offset; the clock time says it.
    const QDateTime until = QDateTime::fromString(m_agent.leaseUntil, Qt::ISODateWithMs);
    QString when = m_agent.leaseUntil;
    if (until.isValid()) {
        const QDateTime local = until.toLocalTime();
        when = local.date() == QDate::currentDate()
                   ? local.toString(QStringLiteral("HH:mm:ss"))
                   : local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    if (m_agent.leaseYours)
        return text + tr(", lease ours until %1").arg(when);
    return text + tr(", lease: %1 until %2").arg(m_agent.leaseHolder, when);
}

bool PanelModel::settingsEditable() const
{
    const Phase p = phase(readLink());
    return (p == Phase::Identified || p == Phase::Silent) && m_hasSettings && m_mayChange;
}
