#pragma once

#include <QProcess>

// A program a test starts. It dies with the test process, also when that is killed
// (SIGKILL leaves no chance to clean up), and at the latest when this object goes.
class ChildProcess : public QProcess
{
public:
    explicit ChildProcess(QObject *parent = nullptr);
    ~ChildProcess() override;

    // Lets the program write files of at most this many bytes; a write past that fails
    // (EFBIG) as on a full disk, without the signal that would kill it.
    void setFileSizeLimit(qint64 bytes) { m_fileSizeLimit = bytes; }
    // Gives the program a standard output whose reader is gone, as `| head -1` leaves it
    // once head has ended.
    void setReaderGone() { m_readerGone = true; }

protected:
    void setupChildProcess() override;

private:
    qint64 m_parentPid = 0;
    qint64 m_fileSizeLimit = -1;
    bool m_readerGone = false;
};
