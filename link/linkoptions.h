#pragma once

#include "amplifierlink.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

class QCommandLineParser;

// The command-line options that say where an amplifier is and how long to wait for its
// replies: --host ADDRESS [--port PORT] or --serial PATH, and --timeout MS. Read here, with
// one range each, by every program that opens a link to an amplifier (korvane-ctl, the
// agent towards its amplifier); each program words their help lines for its own list.
namespace LinkOptions {

enum class Option { Host, Port, Serial, Timeout };

constexpr int DefaultTimeoutMs = 1000;
// Below a reply's own time on the serial line no question could be answered; beyond a
// minute an amplifier that answers in milliseconds is gone, not slow.
constexpr int MinTimeoutMs = 10;
constexpr int MaxTimeoutMs = 60000;

QCommandLineOption option(Option which, const QString &description);
// The option names, without their dashes, in the order of Option.
QStringList names();
QString name(Option which);

// Reads the link into `target` (its TLS excepted: TlsClientOptions) and --timeout into
// `timeoutMs`, each left as it was where not given; false with `error` set on a mistake.
bool read(const QCommandLineParser &parser,
          AmplifierLink::Target *target,
          int *timeoutMs,
          QString *error);

} // namespace LinkOptions
