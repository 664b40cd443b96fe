#include "optionnumber.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

namespace OptionNumber {

bool read(const QCommandLineParser &parser,
          const QString &name,
          int low,
          int high,
          int *value,
          QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const QString text = parser.value(name);
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high) {
        *error = QStringLiteral("--%1 must be a whole number from %2 to %3, not '%4'")
                     .arg(name)
                     .arg(low)
                     .arg(high)
                     .arg(text);
        return false;
    }
    *value = number;
    return true;
}

bool read(const QCommandLineParser &parser,
          const QCommandLineOption &option,
          int low,
          int high,
          int *value,
          QString *error)
{
    return read(parser, option.names().constLast(), low, high, value, error);
}

} // namespace OptionNumber
