#pragma once

#include <QString>

class QCommandLineOption;
class QCommandLineParser;

// A whole number given to a command-line option, checked against its range the same way, and
// refused in the same words, by every program.
namespace OptionNumber {

// Leaves `value` as it was when --`name` is not given; false with `error` set when its
// text is not a whole number from `low` to `high`.
bool read(const QCommandLineParser &parser,
          const QString &name,
          int low,
          int high,
          int *value,
          QString *error);

bool read(const QCommandLineParser &parser,
          const QCommandLineOption &option,
          int low,
          int high,
          int *value,
          QString *error);

} // namespace OptionNumber
