#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

// What happened to the amplifier and its clients: one JSON object per line in the events
// file (time, event, details), and a short line on standard error.
class Journal
{
public:
    // Appends to `path`; false with `error` set if it cannot be opened.
    bool open(const QString &path, QString *error);
    void record(const QString &event, const QJsonObject &details = {});

    // The object as it goes into the file, without the line end.
    static QByteArray line(const QString &time, const QString &event, const QJsonObject &details);

private:
    QFile m_file;
};
