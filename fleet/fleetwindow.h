#pragma once

#include "tlsfiles.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

class FleetModel;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QScrollArea;
class TileWidget;

// The lab at a glance: the model's tiles in its order, filtered by a text and "only alarms",
// the connection to the broker in the status bar. From a tile: the panel for that amplifier,
// and its alarms acknowledged or shelved through its agent.
class FleetWindow : public QMainWindow
{
    Q_OBJECT

public:
    FleetWindow(FleetModel *model, const QString &panelProgram, QWidget *parent = nullptr);

    // "Acknowledge" and "Shelve" reach the agents over TLS with these files: the operator's
    // certificate, and the authorities the agents' are verified against.
    void useAgentTls(const TlsFiles &files);
    // The connection to the broker in words; `connected` false: every tile is stale.
    void setBrokerStatus(const QString &text, bool connected);
    TileWidget *tileWidget(const QString &name) const { return m_tiles.value(name); }
    // The names shown, in their order.
    QStringList shown() const { return m_shown; }
    // The arguments "Open panel" starts the panel with, for `advertise` ("ADDRESS:PORT").
    static QStringList panelArguments(const QString &advertise);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void onTileChanged(const QString &name);
    void onTileRemoved(const QString &name);
    void relayout();
    void updateCounts();
    void refreshStale();
    void moveFocus(TileWidget *from, int key);
    // Where a tile's agent takes clients; no widget when the tile is gone or its agent names
    // no address (which the tile is told).
    struct AgentAddress
    {
        TileWidget *widget = nullptr;
        QString text;
        QString host;
        quint16 port = 0;
    };
    AgentAddress agentAddress(const QString &name);
    void openPanel(const QString &name);
    void sendCommand(const QString &name, const QString &verb, const QJsonObject &body);
    void shelve(const QString &name);
    int columns() const;

    FleetModel *m_model;
    QString m_panelProgram;
    bool m_agentTls = false;
    TlsFiles m_agentTlsFiles;
    QLineEdit *m_filter;
    QCheckBox *m_onlyAlarms;
    QScrollArea *m_scroll;
    QWidget *m_grid;
    QGridLayout *m_layout;
    QLabel *m_brokerStatus;
    QLabel *m_counts;
    QHash<QString, TileWidget *> m_tiles;
    QStringList m_shown;
    int m_columns = 0;
    // The age a stale tile tells grows while nothing else changes.
    QTimer m_ageTimer;
};
