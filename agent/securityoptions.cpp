#include "securityoptions.h"

#include "tlsclientoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

namespace {

// The options given once at most, and never empty.
const char *const SingleOptions[] = {"web-config", "tls-cert", "tls-key", "tls-client-ca"};

} // namespace

void SecurityOptions::addOptions(QCommandLineParser *parser) const
{
    parser->addOptions(MqttClientOptions::options());
    parser->addOptions({
        {QStringLiteral("tls-cert"),
         QStringLiteral("Serve TLS on --listen with the certificate in <file>."),
         QStringLiteral("file")},
        {QStringLiteral("tls-key"),
         QStringLiteral("The private key of --tls-cert, in <file> (readable by its owner alone)."),
         QStringLiteral("file")},
        {QStringLiteral("tls-client-ca"),
         QStringLiteral("Require a client certificate signed by an authority in <file>."),
         QStringLiteral("file")},
        {QStringLiteral("control-cn"),
         QStringLiteral("With --tls-client-ca: certificates with the common name <name> may "
                        "change settings, others observe (repeatable)."),
         QStringLiteral("name")},
        {QStringLiteral("web-config"),
         QStringLiteral("Serve the metrics as the web configuration in <file> says: TLS and "
                        "basic auth, as Prometheus's exporters read their --web.config.file."),
         QStringLiteral("file")},
    });
    parser->addOptions(TlsClientOptions::options(QStringLiteral("host-")));
}

bool SecurityOptions::read(
    const QCommandLineParser &parser, bool broker, bool metrics, bool tcp, QString *error)
{
    if (!mqtt.read(parser, broker, error))
        return false;
    for (const char *name : SingleOptions) {
        const QString option = QLatin1String(name);
        if (parser.values(option).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(option);
            return false;
        }
        if (parser.isSet(option) && parser.value(option).isEmpty()) {
            *error = QStringLiteral("--%1 is empty").arg(option);
            return false;
        }
        if (option == QLatin1String("web-config") && parser.isSet(option) && !metrics) {
            *error = QStringLiteral("--web-config goes with --metrics");
            return false;
        }
    }
    webConfigFile = parser.value(QStringLiteral("web-config"));
    serverTls.certFile = parser.value(QStringLiteral("tls-cert"));
    serverTls.keyFile = parser.value(QStringLiteral("tls-key"));
    serverTls.caFile = parser.value(QStringLiteral("tls-client-ca"));
    controlNames = parser.values(QStringLiteral("control-cn"));
    if (serverTls.certFile.isEmpty() != serverTls.keyFile.isEmpty()) {
        *error = QStringLiteral("--tls-cert and --tls-key go together");
        return false;
    }
    if (verifiesClients() && !servesTls()) {
        *error = QStringLiteral("--tls-client-ca goes with --tls-cert and --tls-key");
        return false;
    }
    if (!controlNames.isEmpty() && !verifiesClients()) {
        *error = QStringLiteral("--control-cn goes with --tls-client-ca");
        return false;
    }
    if (controlNames.contains(QString())) {
        *error = QStringLiteral("--control-cn is empty");
        return false;
    }
    if (!TlsClientOptions::read(parser, QStringLiteral("host-"), tcp, &hostTls, &hostTlsFiles, error))
        return false;
    return true;
}

bool SecurityOptions::loadFiles(QString *error)
{
    if (!mqtt.loadFiles(error))
        return false;
    if (!webConfigFile.isEmpty() && !webConfig.load(webConfigFile, error))
        return false;
    if ((servesTls() || hostTls) && !TlsFiles::available(error))
        return false;
    return serverTls.load(error) && (!hostTls || hostTlsFiles.load(error));
}

void SecurityOptions::describe(QTextStream &out) const
{
    if (servesTls()) {
        out << "tls " << serverTls.certFile;
        if (verifiesClients())
            out << ", clients verified with " << serverTls.caFile << ", control-cn "
                << (controlNames.isEmpty() ? QStringLiteral("-")
                                           : controlNames.join(QLatin1Char(',')));
        out << '\n';
    }
    if (hostTls)
        out << "host-tls verify with "
            << (hostTlsFiles.caFile.isEmpty() ? QStringLiteral("the system's authorities")
                                              : hostTlsFiles.caFile)
            << (hostTlsFiles.certFile.isEmpty()
                    ? QString()
                    : QLatin1String(", certificate ") + hostTlsFiles.certFile)
            << '\n';
    if (!webConfigFile.isEmpty())
        out << "web-config " << webConfigFile << ": " << webConfig.summary() << '\n';
    mqtt.describe(out);
}

void SecurityOptions::applyTo(MqttConnection::Settings *settings) const
{
    mqtt.applyTo(settings);
}

void SecurityOptions::applyTo(AmplifierLink::Target *device) const
{
    device->tls = hostTls;
    device->tlsFiles = hostTlsFiles;
}
