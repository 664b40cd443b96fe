#include "ranges.h"

#include <cmath>

namespace Range {

namespace {

// Tolerates the rounding of decimal text such as "12.3", which no double holds exactly.
constexpr double StepTolerance = 1e-6;

// Reads a number from low to high that is a whole multiple of step; returns it as the
// nearest multiple, so that the wire formatters see no rounding noise.
bool stepped(const QString &text, double low, double high, double step, double *value)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    const double steps = std::round(number / step);
    if (std::fabs(number / step - steps) > StepTolerance)
        return false;
    if (steps < std::round(low / step) || steps > std::round(high / step))
        return false;
    *value = steps * step;
    return true;
}

bool refuse(QString *error, const QString &message, const QString &text)
{
    *error = QStringLiteral("%1, not '%2'").arg(message, text);
    return false;
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

bool gain(const QString &text, double *dB, QString *error)
{
    if (stepped(text, 0, MaxGainDb, GainStepDb, dB))
        return true;
    return refuse(error, QStringLiteral("gain must be 0 to 31.5 dB in steps of 0.5"), text);
}

bool rf(const QString &text, bool *on, QString *error)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("on") || word == QLatin1String("off")) {
        *on = word == QLatin1String("on");
        return true;
    }
    return refuse(error, QStringLiteral("rf must be on or off"), text);
}

bool linearity(const QString &text, unsigned *percent, QString *error)
{
    double value = 0;
    if (stepped(text, MinLinearityPct, MaxLinearityPct, 1, &value)) {
        *percent = unsigned(value);
        return true;
    }
    return refuse(error, QStringLiteral("linearity must be a whole number from 1 to 100 %"), text);
}

bool powerLimit(const QString &text, double *watts, QString *error)
{
    if (stepped(text, 0, MaxPowerLimitW, PowerLimitStepW, watts))
        return true;
    return refuse(error,
                  QStringLiteral("max power must be 0 to 50.0 W with at most one decimal"),
                  text);
}

bool temperatureLimit(const QString &what, const QString &text, unsigned *celsius, QString *error)
{
    double value = 0;
    if (stepped(text, 0, MaxTempLimitC, 1, &value)) {
        *celsius = unsigned(value);
        return true;
    }
    return refuse(error,
                  QStringLiteral("%1 must be a whole number from 0 to 255 \u00b0C").arg(what),
                  text);
}

} // namespace Range
