#include "duration.h"

#include <QRegularExpression>

namespace Duration {

bool parse(const QString &text, int *seconds, QString *error)
{
    // Hours, minutes and seconds, each at most once and in that order.
    static const QRegularExpression pattern(
        QStringLiteral("^(?:(\\d{1,7})h)?(?:(\\d{1,7})m)?(?:(\\d{1,9})s?)?$"));
    const QRegularExpressionMatch match = pattern.match(text);
    // "1h30" could mean minutes or seconds: after a unit, seconds need theirs.
    const bool unitless = match.hasMatch() && !match.captured(3).isEmpty()
                          && (!match.captured(1).isEmpty() || !match.captured(2).isEmpty())
                          && !text.endsWith(QLatin1Char('s'));
    if (text.isEmpty() || !match.hasMatch() || unitless) {
        *error = QStringLiteral("'%1' is no duration: give it as 90s, 30m, 8h, 1h30m or a "
                                "number of seconds")
                     .arg(text);
        return false;
    }
    const qint64 total = match.captured(1).toLongLong() * 3600 + match.captured(2).toLongLong() * 60
                         + match.captured(3).toLongLong();
    if (total < 1 || total > MaxSeconds) {
        *error = QStringLiteral("duration '%1' must be from 1 s to %2 days")
                     .arg(text)
                     .arg(MaxSeconds / (24 * 3600));
        return false;
    }
    *seconds = int(total);
    return true;
}

} // namespace Duration
