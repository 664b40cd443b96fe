#pragma once

#include "fleetmodel.h"

#include <QFrame>
#include <QString>

class QLabel;
class QPushButton;

// One amplifier's tile, read across the room: a headline in the colours alarm displays use
// (MINOR amber, MAJOR red, INVALID or not live magenta, the frame then dashed), every state
// also in words, and the whole in its accessible name. It takes the focus; the arrow keys
// ask the window for a neighbour.
class TileWidget : public QFrame
{
    Q_OBJECT

public:
    explicit TileWidget(const QString &name, QWidget *parent = nullptr);

    QString name() const { return m_name; }
    void show(const FleetModel::Tile &tile, qint64 nowMs);
    // The outcome of a command sent from this tile.
    void showResult(const QString &text);
    Alarm::Severity severity() const { return m_severity; }
    bool isDashed() const { return m_dashed; }
    static QColor colour(Alarm::Severity severity);

signals:
    void openPanel(const QString &name);
    void acknowledge(const QString &name);
    void shelve(const QString &name);
    // An arrow key pressed on the tile: Qt::Key_Left, Right, Up or Down.
    void moveFocus(TileWidget *from, int key);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    QLabel *addLine(bool large = false);

    QString m_name;
    Alarm::Severity m_severity = Alarm::Severity::Invalid;
    bool m_dashed = true;
    QLabel *m_title;
    QLabel *m_headline;
    QLabel *m_stale;
    QLabel *m_agent;
    QLabel *m_amplifier;
    QLabel *m_powers;
    QLabel *m_temperatures;
    QLabel *m_alarms;
    QLabel *m_lease;
    QLabel *m_result;
    QPushButton *m_open;
    QPushButton *m_ack;
    QPushButton *m_shelve;
};
