#pragma once

#include "event.h"
#include "rowfile.h"

#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>

// What happened to the amplifier and its clients: one JSON object per line in the events
// file (time, event, details), and a short line on standard error.
class Journal
{
public:
    // Called with each event as it is recorded, for those who pass the journal on.
    using Listener
        = std::function<void(const QString &time, Event event, const QJsonObject &details)>;

    // Appends to `path`; false with `error` set if it cannot be opened.
    bool open(const QString &path, QString *error);
    // Every event gets a `level` (info, warning or error): its own, unless `details` says.
    void record(Event event, const QJsonObject &details = {});
    // `listener` is not called once `context` is gone.
    void addListener(QObject *context, const Listener &listener)
    {
        m_listeners.append({context, listener});
    }
    // Local time with milliseconds and offset, as the rows are stamped.
    static QString now();
    // The object as it goes into the file, without the line end.
    static QByteArray line(const QString &time, Event event, const QJsonObject &details);

private:
    RowFile m_file;
    bool m_writeFailed = false;
    struct Subscription
    {
        QPointer<QObject> context;
        Listener listener;
    };
    QVector<Subscription> m_listeners;
};
