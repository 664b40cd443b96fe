#pragma once

#include "extension.h"
#include "fields.h"
#include "models.h"
#include "replies.h"

#include <QObject>
#include <QString>

// What the panel knows of its links and of the amplifier behind them, and nothing it has not
// been told: which link is open, whether the amplifier has said who it is and still answers,
// whether its settings have been read on this link, whether this client may change them, and
// what became of each setting sent. The window draws its lamps, button labels, title and
// which controls take input from this alone, so that nothing it shows is assumed.
class PanelModel : public QObject
{
    Q_OBJECT

public:
    enum class Link { Serial, Tcp };
    Q_ENUM(Link)
    enum class Phase {
        Closed,     // never opened, closed by the operator, or an attempt that failed
        Connecting, // asked for, not open yet
        Open,       // open; the amplifier has not identified itself yet
        Identified, // identified, and answering
        Silent,     // identified, but no reply lately
        Lost,       // ended by the far end, or the device went away
    };
    Q_ENUM(Phase)
    enum class Lamp { Grey, Green, Red };
    Q_ENUM(Lamp)

    // A setting whose read-back did not show it.
    struct Refusal
    {
        Reply::StatusField field = Reply::StatusField::MaxPower;
        double wanted = 0;
        double kept = 0;
        QString reason; // the far end's own words, where it gave any
    };

    explicit PanelModel(QObject *parent = nullptr);

    // --- The links, as their events come ---------------------------------------------
    void connecting(Link link, const QString &address);
    void opened(Link link, const QString &address);
    // `title` is the window title the identification gives.
    void identified(Link link, const QString &title, const Reply::Identity &identity);
    // A reply came: the amplifier is answering.
    void answered(Link link);
    // A measurement reply came: the readings, and that the amplifier is answering.
    void measured(Link link, const Reply::Measurement &readings);
    // No reply for a while.
    void silent(Link link);
    void closed(Link link);
    void lost(Link link);

    Phase phase(Link link) const { return m_links[index(link)].phase; }
    QString address(Link link) const { return m_links[index(link)].address; }
    QString model(Link link) const;
    // What the identified amplifier on the link read can do; an unknown model's defaults
    // before it has identified itself.
    Reply::Identity identity() const;
    // Replies are read from the socket while it is open, else from the serial port.
    Link readLink() const;
    bool isOpen(Link link) const;

    // Green only while the link's amplifier has identified itself and keeps answering; red
    // for a serial device that went away.
    Lamp lamp(Link link) const;
    QString lampDescription(Link link) const;
    // "Disconnect" exactly while the link is open or being opened.
    bool offersDisconnect(Link link) const;
    // The plain title until the amplifier on the link read identifies itself.
    QString title() const;
    // The last readings; live while the link they came on is answering.
    const Reply::Measurement &readings() const { return m_readings; }
    bool readingsLive() const;

    // --- The amplifier's settings ------------------------------------------------------
    // Counts a Status asked for on the link read; replies come in the order asked.
    void statusAsked() { ++m_statusAsked; }
    int statusesOutstanding() const { return m_statusAsked - m_statusAnswered; }
    // A setting went out, followed by a read-back: that Status is to show it.
    void settingSent(Reply::StatusField field, double value);
    // A Status reply came. Emits settingNotTaken for each setting its read-back does not show.
    void statusRead(const Reply::Status &status);
    // Whether the last Status read may set the control of `field`: one asked for before the
    // field's last setting shows the value from before it.
    bool mayApply(Reply::StatusField field) const;
    // Whether a whole Status has been read on the link read since it opened (the settings are
    // current), and what the last one said.
    bool hasSettings() const { return m_hasSettings; }
    const Reply::Status &settings() const { return m_settings; }
    // The far end tells whether this client may change settings (an agent's observer may
    // not); a plain amplifier takes every client's.
    void setMayChange(bool may);
    bool mayChange() const { return m_mayChange; }
    // The setting controls take input only while the identified amplifier's settings have
    // been read on this link and this client may change them.
    bool settingsEditable() const;
    const Refusal &lastRefusal() const { return m_lastRefusal; }

    // --- korvane-agent, on a link known to lead to one -----------------------------------
    // One of the agent's own frames on `link`: "@hello" tells this client's role (an
    // observer may not change settings), "@lease" who holds the control lease, "@refused"
    // why a setting was not passed on. All of it is forgotten when the link ends.
    void agentSaid(Link link, const Extension::Message &message);
    // "observer" or "controller" once the agent has said; empty before and elsewhere.
    QString agentRole() const { return m_agent.role; }
    // The role and the lease in words, for the status bar; empty when no agent has said.
    QString agentText() const;

signals:
    // Anything the window draws from has changed.
    void changed();
    void settingNotTaken(const PanelModel::Refusal &refusal);
    // A command that no control shows the value of (calibrate, reset) was not passed on.
    void commandRefused(const QString &command, const QString &reason);

private:
    struct LinkState
    {
        Phase phase = Phase::Closed;
        QString address;
        QString title;
        Reply::Identity identity;
        bool answering = false;
    };
    struct Wanted
    {
        bool pending = false;
        double value = 0;
        int status = 0; // the number of the Status asked for to read it back
        QString reason; // the agent's words, when it did not pass the setting on
    };
    struct AgentState
    {
        Link link = Link::Tcp;
        QString role;
        bool leaseKnown = false;
        bool leaseHeld = false;
        bool leaseYours = false;
        QString leaseHolder;
        QString leaseUntil;
    };

    static int index(Link link) { return link == Link::Tcp ? 1 : 0; }
    LinkState &state(Link link) { return m_links[index(link)]; }
    void setPhase(Link link, Phase phase);
    // The link read from changed, or was opened afresh: what was read before is not its.
    void forgetSettings();
    void settingRefused(const QString &command, const QString &reason);

    LinkState m_links[2];
    Link m_lastReadLink = Link::Serial;
    bool m_readLinkOpen = false;
    Reply::Measurement m_readings;
    Reply::Status m_settings;
    bool m_hasSettings = false;
    bool m_mayChange = true;
    int m_statusAsked = 0;
    int m_statusAnswered = 0;
    Wanted m_wanted[Reply::SettingCount];
    Refusal m_lastRefusal;
    AgentState m_agent;
};

Q_DECLARE_METATYPE(PanelModel::Refusal)
