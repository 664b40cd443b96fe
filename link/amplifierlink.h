#pragma once

#include "frameassembler.h"
#include "tlsfiles.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

// The one connection to the amplifier, TCP or serial: command lines out, reply frames in.
class AmplifierLink : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultTcpPort = 2101;
    // A host that neither accepts nor refuses within this long is taken as unreachable.
    static constexpr int ConnectTimeoutMs = 5000;

    // Where the amplifier is: a TCP host and port, or a serial device path.
    struct Target
    {
        QString host;
        quint16 port = DefaultTcpPort;
        QString serialPath;
        // TLS on the TCP link: the far end's certificate and name verified against
        // the authorities in `tlsFiles` (or the system's), with a client certificate if it
        // has one.
        bool tls = false;
        TlsFiles tlsFiles;

        bool isSerial() const { return !serialPath.isEmpty(); }
        QString text() const;
    };

    explicit AmplifierLink(const Target &target, QObject *parent = nullptr);

    const Target &target() const { return m_target; }
    bool isOpen() const { return m_open; }

    // Starts opening; ends in opened() or openFailed(), always from the event loop.
    void open();
    void close();
    // Sends one command line; the line end is added here.
    void sendLine(const QString &command);
    // Throws away every reply byte received so far, on the link and in this program, and
    // any part frame: what comes after is an answer to what is sent next.
    void discardInput();
    // Emits allWritten() once everything sent so far has left the program.
    void notifyWhenWritten();
    // Frames may be this long: korvane-agent's own are longer than the amplifier's.
    void setMaxFrameSize(int bytes) { m_assembler = FrameAssembler(bytes); }

signals:
    void opened();
    void openFailed(const QString &reason);
    void frameReceived(const QByteArray &frame);
    // Once per loss, whatever the transport reported and however often.
    void linkLost(const QString &reason);
    void allWritten();

private:
    QIODevice *device();
    void openSerial();
    void onConnected();
    void onSocketError();
    void onSerialError(QSerialPort::SerialPortError error);
    void onConnectTimeout();
    void onBytesWritten();
    void readFrames();
    void lose(const QString &reason);

    Target m_target;
    std::unique_ptr<QTcpSocket> m_socket;
    QSerialPort m_serial;
    QTimer m_connectTimer;
    FrameAssembler m_assembler;
    bool m_open = false;
    bool m_waitingForWrite = false;
    QString m_tlsErrors; // why the last handshake's certificate checks failed
};
