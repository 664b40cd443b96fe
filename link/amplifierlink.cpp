#include "amplifierlink.h"

#include "commands.h"
#include "readysocket.h"
#include "serialports.h"

#include <QSslSocket>

QString AmplifierLink::Target::text() const
{
    return isSerial() ? serialPath : QStringLiteral("%1:%2").arg(host).arg(port);
}

AmplifierLink::AmplifierLink(const Target &target, QObject *parent)
    : QObject(parent)
    , m_target(target)
    , m_socket(ReadySocket::create(target.tls))
{
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(ConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, &AmplifierLink::onConnectTimeout);

    ReadySocket::whenReady(
        m_socket.get(), this, [this] { onConnected(); }, &m_tlsErrors);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &AmplifierLink::onSocketError);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, [this] {
        lose(tr("the amplifier closed the connection"));
    });
    connect(&m_serial, &QSerialPort::errorOccurred, this, &AmplifierLink::onSerialError);

    QIODevice *const link = device();
    connect(link, &QIODevice::readyRead, this, &AmplifierLink::readFrames);
    connect(link, &QIODevice::bytesWritten, this, &AmplifierLink::onBytesWritten);
}

QIODevice *AmplifierLink::device()
{
    if (m_target.isSerial())
        return &m_serial;
    return m_socket.get();
}

void AmplifierLink::open()
{
    m_assembler.clear();
    m_waitingForWrite = false;
    if (m_target.isSerial()) {
        openSerial();
        return;
    }
    // A socket still closing from an earlier link would refuse to connect.
    m_socket->abort();
    m_connectTimer.start();
    m_tlsErrors.clear();
    if (m_target.tls) {
        auto *secure = static_cast<QSslSocket *>(m_socket.get());
        secure->setSslConfiguration(m_target.tlsFiles.configuration());
        secure->connectToHostEncrypted(m_target.host, m_target.port);
        return;
    }
    m_socket->connectToHost(m_target.host, m_target.port);
}

void AmplifierLink::openSerial()
{
    m_serial.setPortName(m_target.serialPath);
    m_serial.setBaudRate(QSerialPort::Baud9600);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_serial.open(QIODevice::ReadWrite)) {
        // Qt says "permission error" for a port another program has locked, which sends
        // people to the dialout group; say who holds it instead.
        const QString holder = m_serial.error() == QSerialPort::PermissionError
                                   ? Platform::serialPortHolder(m_target.serialPath)
                                   : QString();
        const QString reason = holder.isEmpty()
                                   ? m_serial.errorString()
                                   : tr("%1 is in use by %2").arg(m_target.serialPath, holder);
        QMetaObject::invokeMethod(
            this, [this, reason] { emit openFailed(reason); }, Qt::QueuedConnection);
        return;
    }
    m_open = true;
    // Callers wait for the signal as they would for a socket; it must not come before that.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_open)
                emit opened();
        },
        Qt::QueuedConnection);
}

void AmplifierLink::close()
{
    m_connectTimer.stop();
    m_open = false;
    m_waitingForWrite = false;
    if (m_target.isSerial())
        m_serial.close();
    else
        m_socket->disconnectFromHost();
}

void AmplifierLink::sendLine(const QString &command)
{
    if (m_open)
        device()->write(Command::toWire(command + QLatin1String(Command::LineEnd)));
}

void AmplifierLink::discardInput()
{
    m_assembler.clear();
    if (!m_open)
        return;
    // A serial line keeps what nobody read, also from before this program opened it: the
    // replies to an earlier client, a device that talked on its own.
    if (m_target.isSerial())
        m_serial.clear(QSerialPort::Input);
    device()->readAll();
}

void AmplifierLink::notifyWhenWritten()
{
    if (m_open && device()->bytesToWrite() > 0) {
        m_waitingForWrite = true;
        return;
    }
    QMetaObject::invokeMethod(this, &AmplifierLink::allWritten, Qt::QueuedConnection);
}

void AmplifierLink::onConnected()
{
    m_connectTimer.stop();
    m_open = true;
    emit opened();
}

void AmplifierLink::onSocketError()
{
    if (m_open) {
        lose(m_socket->errorString());
    } else if (m_connectTimer.isActive()) {
        m_connectTimer.stop();
        emit openFailed(ReadySocket::withTlsErrors(m_socket->errorString(), m_tlsErrors));
    }
}

void AmplifierLink::onSerialError(QSerialPort::SerialPortError error)
{
    // A hung-up port (an unplugged adapter, a pseudo-terminal whose far end closed) reports
    // read errors over and over rather than a resource error; both are the device gone.
    if (error == QSerialPort::ReadError && Platform::serialPortHungUp(m_serial.handle()))
        lose(tr("the device hung up"));
    else if (error == QSerialPort::ResourceError || error == QSerialPort::WriteError)
        lose(m_serial.errorString());
}

void AmplifierLink::onConnectTimeout()
{
    m_socket->abort();
    emit openFailed(tr("no connection within %1 ms").arg(ConnectTimeoutMs));
}

void AmplifierLink::onBytesWritten()
{
    if (m_waitingForWrite && device()->bytesToWrite() == 0) {
        m_waitingForWrite = false;
        emit allWritten();
    }
}

void AmplifierLink::readFrames()
{
    const QByteArray bytes = device()->readAll();
    for (const char byte : bytes) {
        if (m_assembler.push(byte))
            emit frameReceived(m_assembler.frame());
    }
}

void AmplifierLink::lose(const QString &reason)
{
    if (!m_open)
        return;
    m_open = false;
    m_waitingForWrite = false;
    if (m_target.isSerial())
        m_serial.close();
    else
        m_socket->abort();
    emit linkLost(reason);
}
