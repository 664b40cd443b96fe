#pragma once

#include <QString>
#include <QStringList>

class QCommandLineOption;
class QCommandLineParser;

// The first steps of reading a program's command line, alike in every program: parse,
// answer --help and --version, refuse stray arguments.
namespace CommandLineStart {

// Parses `arguments` (program name first). Prints the help or "PROGRAM VERSION" and sets
// `done` for --help and --version; false with `error` set for a mistake. True when the
// options are there to be read.
bool parse(QCommandLineParser *parser,
           const QStringList &arguments,
           const QCommandLineOption &help,
           const QCommandLineOption &version,
           bool *done,
           QString *error);

} // namespace CommandLineStart
