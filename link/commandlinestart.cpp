#include "commandlinestart.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLineStart {

bool parse(QCommandLineParser *parser,
           const QStringList &arguments,
           const QCommandLineOption &help,
           const QCommandLineOption &version,
           bool *done,
           QString *error)
{
    *done = false;
    if (!parser->parse(arguments)) {
        *error = parser->errorText();
        return false;
    }
    if (parser->isSet(help)) {
        std::fputs(qPrintable(parser->helpText()), stdout);
        *done = true;
        return false;
    }
    if (parser->isSet(version)) {
        std::printf("%s %s\n",
                    qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        *done = true;
        return false;
    }
    if (!parser->positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'")
                     .arg(parser->positionalArguments().first());
        return false;
    }
    return true;
}

} // namespace CommandLineStart
