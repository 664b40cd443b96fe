#include "hostport.h"

namespace HostPort {

bool parse(const QString &text, QString *host, quint16 *port)
{
    QString hostPart = text;
    QString portPart;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        hostPart = text.mid(1, close - 1);
        const QString after = text.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return false;
        if (!after.isEmpty())
            portPart = after.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const int colon = text.indexOf(QLatin1Char(':'));
        hostPart = text.left(colon);
        portPart = text.mid(colon + 1);
    }
    if (!portPart.isNull()) {
        bool ok = false;
        const uint number = portPart.toUInt(&ok);
        if (!ok || number == 0 || number > 65535)
            return false;
        *port = quint16(number);
    }
    *host = hostPart;
    return !hostPart.isEmpty() && !hostPart.contains(QLatin1Char(' '));
}

} // namespace HostPort
