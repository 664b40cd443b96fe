#include "ranges.h"

#include <cmath>

namespace Range {

namespace {

// Tolerates the rounding of decimal text such as "12.3", which no double holds exactly.
constexpr double StepTolerance = 1e-6;

// Reads a number from low to high that is a whole multiple of step; returns it as the
// nearest multiple, so that the wire formatters see no rounding noise.
bool stepped(const QString &text, const Reply::SettingRange &range, double *value)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    const double step = range.step;
    const double steps = std::round(number / step);
    if (std::fabs(number / step - steps) > StepTolerance)
        return false;
    if (steps < std::round(range.low / step) || steps > std::round(range.high / step))
        return false;
    *value = steps * step;
    return true;
}

bool refuse(QString *error, const QString &message, const QString &text)
{
    *error = QStringLiteral("%1, not '%2'").arg(message, text);
    return false;
}

// What the setting takes, in korvane-ctl's words, which call every gain "gain".
QString rangeMessage(const Reply::SettingInfo &setting)
{
    const QString what = QString::fromLatin1(setting.setName)
                             .replace(QLatin1Char('-'), QLatin1Char(' '));
    if (setting.field == Reply::StatusField::Rf)
        return QStringLiteral("%1 must be on or off").arg(what);
    const Reply::SettingRange &range = setting.range;
    const QString unit = QString::fromUtf8(setting.unit);
    if (range.step == 1)
        return QStringLiteral("%1 must be a whole number from %2 to %3 %4")
            .arg(what, QString::number(range.low), QString::number(range.high), unit);
    if (std::lround(1 / range.step) == 10)
        return QStringLiteral("%1 must be %2 to %3 %4 with at most one decimal")
            .arg(what, QString::number(range.low), QString::number(range.high, 'f', 1), unit);
    return QStringLiteral("%1 must be %2 to %3 %4 in steps of %5")
        .arg(what,
             QString::number(range.low),
             QString::number(range.high),
             unit,
             QString::number(range.step));
}

} // namespace

bool channel(const QString &text, int *channel, QString *error)
{
    const QString name = text.trimmed().toUpper();
    if (name.size() != 1 || name.at(0) < QLatin1Char('A') || name.at(0) > QLatin1Char('C'))
        return refuse(error, QStringLiteral("channel must be A, B or C"), text);
    *channel = name.at(0).unicode() - 'A';
    return true;
}

bool value(const Reply::SettingInfo &setting, const QString &text, double *value, QString *error)
{
    if (setting.field == Reply::StatusField::Rf) {
        const QString word = text.trimmed().toLower();
        if (word == QLatin1String("on") || word == QLatin1String("off")) {
            *value = word == QLatin1String("on") ? 1 : 0;
            return true;
        }
    } else if (stepped(text, setting.range, value)) {
        return true;
    }
    return refuse(error, rangeMessage(setting), text);
}

} // namespace Range
