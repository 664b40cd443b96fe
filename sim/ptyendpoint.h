#pragma once

#include "faultoptions.h"
#include "pseudoterminal.h"
#include "simconnection.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class AmplifierModel;
class QSocketNotifier;

// A pseudo-terminal whose slave end stands in for the amplifier's serial port.
class PtyEndpoint : public QObject
{
    Q_OBJECT

public:
    // Replies nobody reads pile up in the terminal; beyond this they are dropped.
    static constexpr int MaxPendingBytes = SimConnection::MaxUnsentBytes;

    PtyEndpoint(AmplifierModel *model, const FaultOptions &faults, QObject *parent = nullptr);
    ~PtyEndpoint() override;

    bool open();
    bool isOpen() const { return m_terminal.isOpen(); }
    QString slavePath() const { return m_terminal.slavePath(); }
    QString errorString() const { return m_terminal.errorString(); }

signals:
    void report(const QString &message);

private:
    void readMaster();
    void watchForCloses();
    void forgetUnreadIfClosed();
    // Reads the open and close events that came; `reopened`: an open after the last close.
    void readOpensAndCloses(bool *closed, bool *reopened);
    void write(const QByteArray &bytes);
    void flush();
    void startHangUp();
    void hangUpWhenRead();
    void closeTerminal();

    AmplifierModel *m_model = nullptr;
    FaultOptions m_faults;
    SimConnection *m_connection = nullptr;

    PseudoTerminal m_terminal;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    // Tells when a program opens the serial side or closes it.
    int m_closeWatch = -1;
    QSocketNotifier *m_closeNotifier = nullptr;

    QByteArray m_pending;
    QElapsedTimer m_sinceWrite;
    QElapsedTimer m_sinceHangUp;
    QTimer m_hangUpTimer;
};
