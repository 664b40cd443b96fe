#include "linkoptions.h"

#include "ipv4address.h"
#include "optionnumber.h"

#include <QCommandLineParser>

namespace LinkOptions {

namespace {

const char *const Names[] = {"host", "port", "serial", "timeout"};
const char *const ValueNames[] = {"address", "port", "path", "ms"};

} // namespace

QString name(Option which)
{
    return QLatin1String(Names[int(which)]);
}

QStringList names()
{
    QStringList all;
    for (const char *name : Names)
        all.append(QLatin1String(name));
    return all;
}

QCommandLineOption option(Option which, const QString &description)
{
    return QCommandLineOption(name(which), description, QLatin1String(ValueNames[int(which)]));
}

bool read(const QCommandLineParser &parser,
          AmplifierLink::Target *target,
          int *timeoutMs,
          QString *error)
{
    for (const QString &name : names()) {
        if (parser.values(name).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(name);
            return false;
        }
    }
    const bool tcp = parser.isSet(name(Option::Host));
    const bool serial = parser.isSet(name(Option::Serial));
    if (tcp == serial) {
        *error = tcp ? QStringLiteral("--host and --serial exclude each other; give one")
                     : QStringLiteral("no link: give --host ADDRESS or --serial PATH");
        return false;
    }
    if (serial && parser.isSet(name(Option::Port))) {
        *error = QStringLiteral("--port goes with --host, not --serial");
        return false;
    }
    const QString host = parser.value(name(Option::Host));
    const QString serialPath = parser.value(name(Option::Serial));
    if ((tcp && host.isEmpty()) || (serial && serialPath.isEmpty())) {
        *error = QStringLiteral("empty --%1").arg(name(tcp ? Option::Host : Option::Serial));
        return false;
    }
    target->host = host;
    target->serialPath = serialPath;
    // The system's resolver reads a leading zero as octal: 192.168.001.010 would be .1.8.
    QString why;
    if (tcp && !Ipv4::normalizeHost(&target->host, &why)) {
        *error = QStringLiteral("--host ") + why;
        return false;
    }
    int port = target->port;
    if (!OptionNumber::read(parser, name(Option::Port), 1, 65535, &port, error)
        || !OptionNumber::read(parser,
                               name(Option::Timeout),
                               MinTimeoutMs,
                               MaxTimeoutMs,
                               timeoutMs,
                               error))
        return false;
    target->port = quint16(port);
    return true;
}

} // namespace LinkOptions
