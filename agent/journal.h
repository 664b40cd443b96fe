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
    // Writes what is still counted, then `event` as the last row: nothing is taken after it,
    // so that a reader (or a subscriber) who sees it knows the journal is whole.
    void recordLast(Event event, const QJsonObject &details = {});
    // `listener` is not called once `context` is gone.
    void addListener(QObject *context, const Listener &listener)
    {
        m_listeners.append({context, listener});
    }
    // `writeCounts` is called before the last row, while `context` lives: those who hold
    // back repeats of an event write their counts then.
    void addCountHolder(QObject *context, const std::function<void()> &writeCounts)
    {
        m_countHolders.append({context, writeCounts});
    }

    // Local time with milliseconds and offset, as the rows are stamped.
    static QString now();
    // The object as it goes into the file, without the line end.
    static QByteArray line(const QString &time, Event event, const QJsonObject &details);

private:
    RowFile m_file;
    bool m_writeFailed = false;
    bool m_closed = false;
    struct Subscription
    {
        QPointer<QObject> context;
        Listener listener;
    };
    QVector<Subscription> m_listeners;
    struct CountHolder
    {
        QPointer<QObject> context;
        std::function<void()> writeCounts;
    };
    QVector<CountHolder> m_countHolders;
};
