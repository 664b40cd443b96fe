#pragma once

#include "faultoptions.h"
#include "pseudoterminal.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class AmplifierModel;
class QSocketNotifier;
class SimConnection;

// A pseudo-terminal whose slave end stands in for the amplifier's serial port.
class PtyEndpoint : public QObject
{
    Q_OBJECT

public:
    // Replies nobody reads pile up in the terminal; beyond this they are dropped.
    static constexpr int MaxPendingBytes = 64 * 1024;

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

    QByteArray m_pending;
    QElapsedTimer m_sinceWrite;
    QElapsedTimer m_sinceHangUp;
    QTimer m_hangUpTimer;
};
