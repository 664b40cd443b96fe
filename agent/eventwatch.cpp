#include "eventwatch.h"

#include "devicesession.h"
#include "journal.h"
#include "replies.h"

#include <QJsonObject>

namespace {

const char *const Sensors[] = {"cell 1", "cell 2", "driver"};

} // namespace

EventWatch::EventWatch(DeviceSession *device, Journal *journal, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_journal(journal)
{
    const QString deviceKey = QStringLiteral("device");
    connect(device, &DeviceSession::up, this, [this, deviceKey] {
        m_failureReported = false;
        m_journal->record(QStringLiteral("link_up"), {{deviceKey, m_device->deviceText()}});
    });
    connect(device, &DeviceSession::down, this, [this, deviceKey](const QString &reason) {
        m_status = 0;
        m_journal->record(QStringLiteral("link_down"),
                          {{deviceKey, m_device->deviceText()}, {QStringLiteral("reason"), reason}});
    });
    // A device that stays away is said once, not at every try to open it again.
    connect(device, &DeviceSession::openFailed, this, [this, deviceKey](const QString &reason) {
        if (m_failureReported)
            return;
        m_failureReported = true;
        m_journal->record(QStringLiteral("link_failed"),
                          {{deviceKey, m_device->deviceText()}, {QStringLiteral("reason"), reason}});
    });
    connect(device, &DeviceSession::noReply, this, [this](const QString &command) {
        m_journal->record(QStringLiteral("no_reply"), {{QStringLiteral("command"), command}});
    });
    connect(device, &DeviceSession::frameReceived, this, &EventWatch::onFrame);
}

void EventWatch::onFrame(const QByteArray &frame)
{
    switch (Reply::kindOf(frame)) {
    case Reply::Kind::Identification:
        onIdentification(frame);
        break;
    case Reply::Kind::Status: {
        const Reply::Status status = Reply::decodeStatus(frame);
        if (status.fieldCount >= 3) {
            m_cellLimitC = status.maxCellTempC;
            m_driverLimitC = status.maxDrvTempC;
        }
        break;
    }
    case Reply::Kind::Measurement:
        onMeasurement(frame);
        break;
    case Reply::Kind::Unknown:
        break;
    }
}

void EventWatch::onIdentification(const QByteArray &frame)
{
    const QString model = Reply::probeModelText(FrameAssembler::Start + frame);
    if (!m_model.isEmpty() && model != m_model) {
        m_journal->record(QStringLiteral("model_changed"),
                          {{QStringLiteral("model"), model},
                           {QStringLiteral("previous"), m_model},
                           {QStringLiteral("level"), QStringLiteral("warning")}});
    } else {
        m_journal->record(QStringLiteral("model_identified"), {{QStringLiteral("model"), model}});
    }
    m_model = model;
}

void EventWatch::onMeasurement(const QByteArray &frame)
{
    const Reply::Measurement meas = Reply::decodeMeasurement(frame);
    if (meas.fieldCount < 1)
        return;
    onStatusCharacter(char(meas.statusChar));
    const int limits[] = {m_cellLimitC, m_cellLimitC, m_driverLimitC};
    for (int i = 0; i < 3 && i < meas.readingCount(); ++i) {
        if (limits[i] < 0)
            continue;
        const bool over = Reply::overLimit(meas.reading(i), limits[i]);
        if (over == m_over[i])
            continue;
        m_over[i] = over;
        m_journal->record(over ? QStringLiteral("temperature_over")
                               : QStringLiteral("temperature_back"),
                          {{QStringLiteral("sensor"), QLatin1String(Sensors[i])},
                           {QStringLiteral("celsius"), meas.reading(i) / 10.0},
                           {QStringLiteral("limit_c"), limits[i]}});
    }
}

void EventWatch::onStatusCharacter(char status)
{
    if (status == m_status)
        return;
    const bool wasFault = m_status != 0 && m_status != Reply::NoFault;
    const bool isFault = status != Reply::NoFault;
    m_status = status;
    const QJsonObject details{{QStringLiteral("status"), QString(QLatin1Char(status))}};
    if (isFault && !wasFault)
        m_journal->record(QStringLiteral("fault_set"), details);
    else if (!isFault && wasFault)
        m_journal->record(QStringLiteral("fault_cleared"), details);
    else if (isFault)
        m_journal->record(QStringLiteral("status_changed"), details);
}
