#pragma once

#include "replies.h"

#include <QObject>
#include <QString>
#include <QStringList>

class DeviceSession;
class Journal;

// Turns what the device session sees into journal events: the link going up and down, the
// model, fault changes, settings changed on another path than the agent and temperatures
// crossing the limits of the last Status.
class EventWatch : public QObject
{
    Q_OBJECT

public:
    EventWatch(DeviceSession *device, Journal *journal, QObject *parent = nullptr);

signals:
    // The amplifier latched a fault it did not have before.
    void faultSet();

private:
    void onIdentified(const QString &model);
    void onSettingsRead(const Reply::Status &status, const QStringList &ownSettings);
    void onMeasured(const Reply::Measurement &meas);
    void onStatusCharacter(char status);

    DeviceSession *m_device = nullptr;
    Journal *m_journal = nullptr;
    QString m_model;
    Reply::Status m_settings; // the last Status read, kept across a link loss
    int m_cellLimitC = -1;    // -1 until a Status has said
    int m_driverLimitC = -1;
    char m_status = 0; // 0 until the first reading, kept across a link loss
    bool m_over[Reply::ReadingCount] = {};
    bool m_failureReported = false;
};
