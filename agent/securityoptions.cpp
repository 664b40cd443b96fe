#include "securityoptions.h"

#include "secretfile.h"
#include "tlsclientoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

namespace {

// The options given once at most, and never empty.
const char *const SingleOptions[] = {"mqtt-user",
                                     "mqtt-password-file",
                                     "mqtt-cafile",
                                     "mqtt-cert",
                                     "mqtt-key",
                                     "web-config",
                                     "tls-cert",
                                     "tls-key",
                                     "tls-client-ca"};

} // namespace

void SecurityOptions::addOptions(QCommandLineParser *parser) const
{
    parser->addOptions({
        {QStringLiteral("mqtt-user"),
         QStringLiteral("Log in to the MQTT broker as <name>."),
         QStringLiteral("name")},
        {QStringLiteral("mqtt-password-file"),
         QStringLiteral("The MQTT password is the first line of <file> (readable by its owner "
                        "alone)."),
         QStringLiteral("file")},
        {QStringLiteral("mqtt-cafile"),
         QStringLiteral("Speak TLS to the broker and verify it against the authorities in "
                        "<file> (port 8883 by default then)."),
         QStringLiteral("file")},
        {QStringLiteral("mqtt-cert"),
         QStringLiteral("Show the broker the client certificate in <file>."),
         QStringLiteral("file")},
        {QStringLiteral("mqtt-key"),
         QStringLiteral("The private key of --mqtt-cert, in <file> (readable by its owner "
                        "alone)."),
         QStringLiteral("file")},
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
    const QCommandLineParser &parser, bool mqtt, bool metrics, bool tcp, QString *error)
{
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
        const bool web = option == QLatin1String("web-config");
        if (option.startsWith(QLatin1String("tls-")))
            continue;
        if (parser.isSet(option) && !(web ? metrics : mqtt)) {
            *error = QStringLiteral("--%1 goes with --%2")
                         .arg(option, QLatin1String(web ? "metrics" : "mqtt"));
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
    mqttUser = parser.value(QStringLiteral("mqtt-user"));
    mqttPasswordFile = parser.value(QStringLiteral("mqtt-password-file"));
    mqttTls.caFile = parser.value(QStringLiteral("mqtt-cafile"));
    mqttTls.certFile = parser.value(QStringLiteral("mqtt-cert"));
    mqttTls.keyFile = parser.value(QStringLiteral("mqtt-key"));
    if (!mqttPasswordFile.isEmpty() && mqttUser.isEmpty()) {
        *error = QStringLiteral("--mqtt-password-file goes with --mqtt-user");
        return false;
    }
    if (mqttTls.certFile.isEmpty() != mqttTls.keyFile.isEmpty()) {
        *error = QStringLiteral("--mqtt-cert and --mqtt-key go together");
        return false;
    }
    if (!mqttTls.certFile.isEmpty() && !mqttUsesTls()) {
        *error = QStringLiteral("--mqtt-cert goes with --mqtt-cafile, which turns TLS on");
        return false;
    }
    return true;
}

bool SecurityOptions::loadFiles(QString *error)
{
    if (!mqttPasswordFile.isEmpty()
        && !SecretFile::readPassword(mqttPasswordFile, &mqttPassword, error))
        return false;
    if (!webConfigFile.isEmpty() && !webConfig.load(webConfigFile, error))
        return false;
    if ((servesTls() || hostTls) && !TlsFiles::available(error))
        return false;
    return mqttTls.load(error) && serverTls.load(error) && (!hostTls || hostTlsFiles.load(error));
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
    if (!mqttUser.isEmpty()) {
        out << "mqtt-user " << mqttUser;
        if (!mqttPasswordFile.isEmpty())
            out << " (password from " << mqttPasswordFile << ')';
        out << '\n';
    }
    if (mqttUsesTls()) {
        out << "mqtt-tls verify with " << mqttTls.caFile;
        if (!mqttTls.certFile.isEmpty())
            out << ", certificate " << mqttTls.certFile;
        out << '\n';
    }
}

void SecurityOptions::applyTo(MqttConnection::Settings *settings) const
{
    settings->user = mqttUser;
    settings->password = mqttPassword;
    settings->caFile = mqttTls.caFile;
    settings->certFile = mqttTls.certFile;
    settings->keyFile = mqttTls.keyFile;
}

void SecurityOptions::applyTo(AmplifierLink::Target *device) const
{
    device->tls = hostTls;
    device->tlsFiles = hostTlsFiles;
}
