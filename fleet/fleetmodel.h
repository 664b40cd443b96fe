#pragma once

#include "amplifierstate.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// The lab as its agents describe it on the broker: one tile per amplifier, from the retained
// status (PREFIX/NAME/status) and state (PREFIX/NAME/state) messages, ordered by severity
// then name. Nothing here is shown as live that is not: a state older than three of its
// agent's intervals, any state while the connection to the broker is down, and an agent that
// says (or whose will says) it is offline all turn a tile stale. What other publishers put on
// those topics is held to bounds: at most MaxTiles amplifiers, MaxPayloadBytes a message,
// MaxNameLength characters a name; what is beyond them or cannot be read is counted and
// otherwise ignored.
class FleetModel : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxTiles = 1000;
    static constexpr int MaxPayloadBytes = 64 * 1024;
    static constexpr int MaxNameLength = 200;
    // A state turns stale once it is older than this many of its agent's intervals.
    static constexpr int StaleIntervals = 3;

    // Milliseconds since the epoch.
    using Clock = std::function<qint64()>;

    enum class Agent { Unknown, Online, Offline };
    // Why a tile is not live; Live when it is.
    // NotSinceReconnect: the state was read over an earlier connection to the broker and has
    // not come again over this one (it comes at once, retained, unless it is gone).
    enum class Staleness { Live, NoState, AgentOffline, TooOld, BrokerDown, NotSinceReconnect };

    struct Tile
    {
        QString name;
        Agent agent = Agent::Unknown;
        bool hasState = false;
        AmplifierState state;
        qint64 receivedMs = 0;
        Staleness staleness = Staleness::NoState;

        bool isLive() const { return staleness == Staleness::Live; }
        // What the tile is shown as: the agent's worst alarm while live, INVALID when nothing
        // live is known or the amplifier does not answer.
        Alarm::Severity severity() const;
    };

    explicit FleetModel(const QString &prefix = QStringLiteral("korvane"),
                        Clock clock = {},
                        QObject *parent = nullptr);

    QString prefix() const { return m_prefix; }
    // The subscriptions that bring every agent's status and state.
    QStringList topics() const;

    // A message from the broker; false when it is ignored (and counted).
    bool take(const QString &topic, const QByteArray &payload);
    void setBrokerConnected(bool connected);
    bool brokerConnected() const { return m_brokerConnected; }
    // Looks at the clock again: tiles whose state has aged turn stale. Called by a timer for
    // the next such moment, and by tests that move their clock.
    void recheck();

    // `text` from a publisher, fit to be shown: control and format characters (line breaks,
    // bidirectional overrides) as U+FFFD.
    static QString printable(const QString &text);

    // Names in display order: severity, highest first, then name.
    const QStringList &order() const { return m_order; }
    const Tile *tile(const QString &name) const;
    int ignoredMessages() const { return m_ignored; }
    QString lastIgnored() const { return m_lastIgnored; }
    qint64 now() const { return m_clock(); }

signals:
    void tileChanged(const QString &name);
    void tileRemoved(const QString &name);
    void orderChanged();
    void ignored(const QString &reason);

private:
    bool ignore(const QString &reason);
    Tile *tileFor(const QString &name);
    Staleness stalenessOf(const Tile &tile) const;
    // Updates `name`'s staleness and order and says so; false if nothing changed.
    void refresh(const QString &name, bool changed);
    void reorder();
    void scheduleRecheck();

    QString m_prefix;
    Clock m_clock;
    QHash<QString, Tile> m_tiles;
    QStringList m_order;
    bool m_brokerConnected = false;
    qint64 m_connectedSinceMs = 0;
    int m_ignored = 0;
    QString m_lastIgnored;
    QTimer m_recheckTimer;
};
