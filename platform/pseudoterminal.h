#pragma once

#include <QString>

// A pseudo-terminal pair standing in for a serial port: whoever plays the device reads and
// writes the master end, the serial side opens slavePath(). The slave is in raw mode and
// held open here as well, so that the serial side closing its port is no hang-up for the
// master; close() is the hang-up.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;
    ~PseudoTerminal();

    // Opens the pair; the master is non-blocking. False with errorString() if not.
    bool open();
    void close();

    bool isOpen() const { return m_master >= 0; }
    int master() const { return m_master; }
    // The slave's own descriptor, e.g. to ask how much input the serial side left unread.
    int slave() const { return m_slave; }
    QString slavePath() const { return m_slavePath; }
    // Whether a program still has the serial side open, this one's own descriptor aside.
    // Processes of other users are not seen.
    bool isSlaveInUse() const;
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &what);

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
};
