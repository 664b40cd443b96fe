#include "telemetrystate.h"

#include "devicesession.h"
#include "frameassembler.h"
#include "journal.h"

TelemetryState::TelemetryState(DeviceSession *device, Journal *journal, QObject *parent)
    : QObject(parent)
{
    // Up only once the device answers on the new link: an open port is not yet an amplifier.
    connect(device, &DeviceSession::up, this, [this] {
        forgetReadings();
        m_snapshot.settings = Reply::Status();
        emit changed();
    });
    connect(device, &DeviceSession::down, this, [this] {
        forgetReadings();
        m_snapshot.settings = Reply::Status();
        emit changed();
    });
    // A reading the device no longer confirms must not be shown as live.
    connect(device, &DeviceSession::noReply, this, [this] {
        forgetReadings();
        emit changed();
    });
    connect(device, &DeviceSession::frameReceived, this, &TelemetryState::onFrame);
    journal->addListener(this, [this](const QString &, const QString &event, const QJsonObject &) {
        onEvent(event);
    });
}

void TelemetryState::onFrame(const QByteArray &frame)
{
    m_snapshot.up = true;
    switch (Reply::kindOf(frame)) {
    case Reply::Kind::Identification:
        m_snapshot.model = Reply::probeModelText(FrameAssembler::Start + frame);
        break;
    case Reply::Kind::Status:
        m_snapshot.settings = Reply::decodeStatus(frame);
        break;
    case Reply::Kind::Measurement:
        m_snapshot.readings = Reply::decodeMeasurement(frame);
        break;
    case Reply::Kind::Unknown:
        break;
    }
    emit changed();
}

void TelemetryState::onEvent(const QString &event)
{
    if (event == QLatin1String("link_down"))
        ++m_snapshot.linkLosses;
    else if (event == QLatin1String("fault_set"))
        ++m_snapshot.faultEvents;
    else if (event == QLatin1String("client_dropped"))
        ++m_snapshot.droppedClients;
    else
        return;
    emit changed();
}

void TelemetryState::forgetReadings()
{
    m_snapshot.up = false;
    m_snapshot.readings = Reply::Measurement();
}
