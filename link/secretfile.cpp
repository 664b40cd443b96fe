#include "secretfile.h"

#include "smallfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace SecretFile {

bool checkPrivate(const QString &path, QString *error)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("%1 is not a regular file").arg(path);
        return false;
    }
    const unsigned mode = info.st_mode & 07777;
    if (mode & (S_IRGRP | S_IROTH)) {
        *error = QStringLiteral("%1 holds a secret but other users may read it (mode %2); "
                                "make it readable by its owner alone (chmod 600)")
                     .arg(path)
                     .arg(mode, 4, 8, QLatin1Char('0'));
        return false;
    }
    return true;
}

bool read(const QString &path, QByteArray *contents, QString *error)
{
    return checkPrivate(path, error) && SmallFile::read(path, contents, error);
}

bool readPassword(const QString &path, QByteArray *password, QString *error)
{
    QByteArray contents;
    if (!read(path, &contents, error))
        return false;
    const int end = contents.indexOf('\n');
    *password = end < 0 ? contents : contents.left(end);
    if (password->endsWith('\r'))
        password->chop(1);
    if (password->isEmpty()) {
        *error = QStringLiteral("%1 holds no password on its first line").arg(path);
        return false;
    }
    return true;
}

} // namespace SecretFile
