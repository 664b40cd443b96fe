#include "tlsclientoptions.h"

#include "tlsfiles.h"

#include <QCommandLineParser>
#include <QStringList>

namespace TlsClientOptions {

QList<QCommandLineOption> options(const QString &prefix)
{
    return {
        {prefix + QLatin1String("tls"),
         QStringLiteral("Speak TLS on the TCP link and verify the far end's certificate and "
                        "name.")},
        {prefix + QLatin1String("tls-ca"),
         QStringLiteral("With --%1tls: trust the authorities in <file> (default the "
                        "system's).")
             .arg(prefix),
         QStringLiteral("file")},
        {prefix + QLatin1String("tls-cert"),
         QStringLiteral("With --%1tls: show the client certificate in <file>.").arg(prefix),
         QStringLiteral("file")},
        {prefix + QLatin1String("tls-key"),
         QStringLiteral("The private key of --%1tls-cert, in <file> (readable by its owner "
                        "alone).")
             .arg(prefix),
         QStringLiteral("file")},
    };
}

QStringList names(const QString &prefix)
{
    QStringList found;
    for (const QCommandLineOption &option : options(prefix))
        found.append(option.names().constFirst());
    return found;
}

bool read(const QCommandLineParser &parser,
          const QString &prefix,
          bool tcp,
          bool *enabled,
          TlsFiles *files,
          QString *error)
{
    const QStringList all = names(prefix);
    for (const QString &name : all) {
        if (parser.values(name).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(name);
            return false;
        }
        if (parser.isSet(name) && name != all.first() && parser.value(name).isEmpty()) {
            *error = QStringLiteral("--%1 is empty").arg(name);
            return false;
        }
    }
    *enabled = parser.isSet(all.at(0));
    files->caFile = parser.value(all.at(1));
    files->certFile = parser.value(all.at(2));
    files->keyFile = parser.value(all.at(3));
    if (*enabled && !tcp) {
        *error = QStringLiteral("--%1 goes with a TCP link").arg(all.at(0));
        return false;
    }
    for (const QString &name : all.mid(1)) {
        if (parser.isSet(name) && !*enabled) {
            *error = QStringLiteral("--%1 goes with --%2").arg(name, all.at(0));
            return false;
        }
    }
    if (files->certFile.isEmpty() != files->keyFile.isEmpty()) {
        *error = QStringLiteral("--%1 and --%2 go together").arg(all.at(2), all.at(3));
        return false;
    }
    return true;
}

} // namespace TlsClientOptions
