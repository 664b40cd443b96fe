#pragma once

#include <QByteArray>
#include <QString>

// Files that hold a secret (a password, a private key). One that other users may read is
// refused: whoever can read it can log in as this program.
namespace SecretFile {

// True if `path` is a regular file that neither its group nor others may read; false with
// `error` naming the file and its mode (or why it cannot be checked) otherwise.
bool checkPrivate(const QString &path, QString *error);
// Reads the whole file after checkPrivate(); false with `error` set if it cannot.
bool read(const QString &path, QByteArray *contents, QString *error);
// The first line of a password file, without its line end; an empty one is an error.
bool readPassword(const QString &path, QByteArray *password, QString *error);

} // namespace SecretFile
