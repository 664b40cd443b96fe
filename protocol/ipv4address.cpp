#include "ipv4address.h"

#include <QStringList>

#include <algorithm>

namespace Ipv4 {

namespace {

Parsed invalid(const QString &why)
{
    Parsed parsed;
    parsed.error = why;
    return parsed;
}

bool isDecimal(const QString &group)
{
    for (const QChar c : group) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

Parsed parseDecimal(const QString &text)
{
    const QStringList groups = text.split(QLatin1Char('.'));
    if (groups.size() != 4)
        return invalid(QStringLiteral("four numbers separated by dots are needed"));
    Parsed parsed;
    for (const QString &group : groups) {
        if (group.isEmpty())
            return invalid(QStringLiteral("a number is missing"));
        if (!isDecimal(group))
            return invalid(QStringLiteral("\"%1\" is not a decimal number").arg(group));
        int first = 0;
        while (first + 1 < group.size() && group.at(first) == QLatin1Char('0'))
            ++first;
        const QStringRef digits = group.midRef(first);
        if (digits.size() > 3 || digits.toUInt() > 255)
            return invalid(QStringLiteral("%1 is above 255").arg(group));
        parsed.address = (parsed.address << 8) | digits.toUInt();
    }
    return parsed;
}

bool normalizeHost(QString *host, QString *error)
{
    const bool dotted = !host->isEmpty() && std::all_of(host->begin(), host->end(), [](QChar c) {
        return c == QLatin1Char('.') || c.isDigit();
    });
    if (!dotted)
        return true;
    const Parsed parsed = parseDecimal(*host);
    if (!parsed.isValid()) {
        *error = QStringLiteral("%1: %2").arg(*host, parsed.error);
        return false;
    }
    const quint32 a = parsed.address;
    *host = QStringLiteral("%1.%2.%3.%4")
                .arg(a >> 24)
                .arg((a >> 16) & 0xff)
                .arg((a >> 8) & 0xff)
                .arg(a & 0xff);
    return true;
}

} // namespace Ipv4
