#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The --csv file: each row appended whole with one write, so a killed run leaves no part row.
class CsvLog
{
public:
    // Opens for appending; writes the header when the file is new or empty.
    bool open(const QString &path, const QByteArray &header);
    bool isOpen() const { return m_file.isOpen(); }
    bool append(const QByteArray &row);
    QString errorString() const;

private:
    bool writeWhole(const QByteArray &bytes);

    QFile m_file;
};
