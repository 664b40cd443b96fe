#include "smallfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SmallFile {

bool read(const QString &path, QByteArray *contents, QString *error)
{
    const auto failed = [&](const QString &why) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return false;
    };
    const auto systemError = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    // Opened without blocking, so that a FIFO with no writer does not hold the program, and
    // checked on the descriptor, so that the file read is the one checked.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return failed(systemError());
    struct stat info = {};
    QString problem;
    if (::fstat(descriptor, &info) != 0)
        problem = systemError();
    else if (!S_ISREG(info.st_mode))
        problem = QStringLiteral("not a regular file");
    else if (info.st_size > MaxBytes)
        problem = QStringLiteral("larger than %1 KiB").arg(MaxBytes / 1024);
    QByteArray data;
    while (problem.isEmpty()) {
        char buffer[16 * 1024];
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            problem = systemError();
        else if (got == 0)
            break;
        else if (data.size() + got > MaxBytes)
            problem = QStringLiteral("larger than %1 KiB").arg(MaxBytes / 1024);
        else
            data.append(buffer, int(got));
    }
    ::close(descriptor);
    if (!problem.isEmpty())
        return failed(problem);
    *contents = data;
    return true;
}

} // namespace SmallFile
