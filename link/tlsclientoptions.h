#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;
struct TlsFiles;

// The command-line options of TLS towards an amplifier's TCP port (an agent's, most often):
// --tls, --tls-ca FILE, --tls-cert FILE, --tls-key FILE, under a prefix where a program has
// other TLS options too ("host-" for the agent's --host-tls ...).
namespace TlsClientOptions {

QList<QCommandLineOption> options(const QString &prefix = QString());
// Reads them into `enabled` and `files` (names only; TlsFiles::load() reads the files);
// false with `error` set on a mistake. `tcp` tells whether the link is a TCP one.
bool read(const QCommandLineParser &parser,
          const QString &prefix,
          bool tcp,
          bool *enabled,
          TlsFiles *files,
          QString *error);
// The option names, without their dashes.
QStringList names(const QString &prefix = QString());

} // namespace TlsClientOptions
