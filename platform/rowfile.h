#pragma once

#include <QByteArray>
#include <QString>

// A log file of rows (korvane-ctl's --csv, the agent's journal): each row is appended whole or
// not at all, so that a killed run, a full disk or several tools logging to one file never
// leave part of a row or a second header.
class RowFile
{
public:
    RowFile() = default;
    RowFile(const RowFile &) = delete;
    RowFile &operator=(const RowFile &) = delete;
    ~RowFile();

    // Opens for appending; writes the header (if any) when the file is new or empty.
    bool open(const QString &path, const QByteArray &header);
    bool isOpen() const { return m_fd >= 0; }
    bool append(const QByteArray &row);
    // The file's name and the system's reason for the last failure.
    QString errorString() const;

private:
    bool appendLocked(const QByteArray &bytes, bool onlyIfEmpty);
    bool fail(int error);

    int m_fd = -1;
    QString m_path;
    int m_error = 0;
};
