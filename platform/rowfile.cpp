#include "rowfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Holds the file's exclusive lock for as long as it lives. Other tools appending to the
// same file wait here, so that the check for an empty file and the header that follows
// it, or a row and its undoing, are one step for all of them.
class FileLock
{
public:
    explicit FileLock(int fd)
        : m_fd(fd)
    {
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() { ::flock(m_fd, LOCK_UN); }

private:
    int m_fd;
};

} // namespace

RowFile::~RowFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RowFile::open(const QString &path, const QByteArray &header)
{
    m_path = path;
    m_fd = ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0666);
    if (m_fd < 0)
        return fail(errno);
    if (appendLocked(header, true))
        return true;
    ::close(m_fd);
    m_fd = -1;
    return false;
}

bool RowFile::append(const QByteArray &row)
{
    return appendLocked(row, false);
}

QString RowFile::errorString() const
{
    return QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(m_error)));
}

bool RowFile::appendLocked(const QByteArray &bytes, bool onlyIfEmpty)
{
    const FileLock lock(m_fd);
    struct stat status = {};
    if (::fstat(m_fd, &status) != 0)
        return fail(errno);
    if (onlyIfEmpty && status.st_size > 0)
        return true;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (count > 0) {
            done += count;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        const int error = count < 0 ? errno : ENOSPC;
        // Cut off the part row: the file ends with the last whole one, as before. (Not
        // every file can be cut, /dev/full for one; those took nothing anyway.) Only if the
        // part row still ends the file: a program that empties it without taking the lock
        // (logrotate's copytruncate) must not see it grow back, padded with zeros.
        struct stat now = {};
        if (done > 0 && S_ISREG(status.st_mode) && ::fstat(m_fd, &now) == 0
            && now.st_size == status.st_size + done) {
            [[maybe_unused]] const int cut = ::ftruncate(m_fd, status.st_size);
        }
        return fail(error);
    }
    return true;
}

bool RowFile::fail(int error)
{
    m_error = error;
    return false;
}
