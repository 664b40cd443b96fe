#pragma once

#include "pseudoterminal.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// A pseudo-terminal whose master end a test scripts byte for byte, standing in for the
// amplifier behind a serial port: the panel opens the slave path, the test reads every line
// it sends and writes the replies.
class ScriptedPty : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 5000;

    explicit ScriptedPty(QObject *parent = nullptr);
    bool open();
    QString slavePath() const { return m_terminal.slavePath(); }
    void send(const QByteArray &bytes);
    // Closes the master: the slave side sees the device hang up.
    void hangUp();

    QByteArray received() const { return m_received; }
    int count(const QByteArray &line) const;
    bool waitForLine(const QByteArray &line, int times = 1);

signals:
    void bytesReceived();

private:
    void readMaster();

    PseudoTerminal m_terminal;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;
};
