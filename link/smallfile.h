#pragma once

#include <QByteArray>
#include <QString>

// The small files a program is configured with: certificates, keys, passwords, settings.
// A device, a pipe or a folder named by mistake would block the read or never end it, and a
// huge file would fill the memory: they are refused, with the reason.
namespace SmallFile {

constexpr qint64 MaxBytes = 1024 * 1024;

// Reads a regular file of at most MaxBytes; false with `error` naming the file and why not.
bool read(const QString &path, QByteArray *contents, QString *error);

} // namespace SmallFile
