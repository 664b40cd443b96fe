#pragma once

#include "reconnectbackoff.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class AmplifierLink;
class RowFile;
class Requester;

// meas --watch: steady readings, printed and logged, outlasting a lost link by reconnecting.
class MeasWatch : public QObject
{
    Q_OBJECT

public:
    // The log may be null: then readings are only printed.
    MeasWatch(AmplifierLink *link, Requester *requester, RowFile *log, QObject *parent = nullptr);

    void setInterval(int ms) { m_pollTimer.setInterval(ms); }
    // 0 reads until stopped.
    void setCount(int count) { m_wanted = count; }
    void setJson(bool json) { m_json = json; }

    void start();
    // Ends the watch between two readings: the log holds every reading taken so far.
    void stop();

signals:
    void finished(int exitStatus);

private:
    void onOpened();
    void onOpenFailed(const QString &reason);
    void onLinkLost(const QString &reason);
    void onTimedOut(const QString &command);
    void onAnswered(const QByteArray &frame);
    void poll();
    void reconnectLater(const QString &why);
    bool record(const QByteArray &frame);
    void finish(int exitStatus);

    AmplifierLink *m_link = nullptr;
    Requester *m_requester = nullptr;
    RowFile *m_log = nullptr;
    QTimer m_pollTimer;
    QTimer m_retryTimer;
    ReconnectBackoff m_backoff;
    int m_wanted = 0;
    int m_readings = 0;
    bool m_json = false;
    bool m_wasOpen = false;
    bool m_reconnecting = false;
    bool m_finished = false;
};
