#include "mqttclientoptions.h"

#include "secretfile.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

QList<QCommandLineOption> MqttClientOptions::options()
{
    return {
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
    };
}

QStringList MqttClientOptions::names()
{
    QStringList names;
    for (const QCommandLineOption &option : options())
        names.append(option.names().first());
    return names;
}

bool MqttClientOptions::read(const QCommandLineParser &parser, bool broker, QString *error)
{
    for (const QString &option : names()) {
        if (parser.values(option).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(option);
            return false;
        }
        if (parser.isSet(option) && parser.value(option).isEmpty()) {
            *error = QStringLiteral("--%1 is empty").arg(option);
            return false;
        }
        if (parser.isSet(option) && !broker) {
            *error = QStringLiteral("--%1 goes with --mqtt").arg(option);
            return false;
        }
    }
    user = parser.value(QStringLiteral("mqtt-user"));
    passwordFile = parser.value(QStringLiteral("mqtt-password-file"));
    tls.caFile = parser.value(QStringLiteral("mqtt-cafile"));
    tls.certFile = parser.value(QStringLiteral("mqtt-cert"));
    tls.keyFile = parser.value(QStringLiteral("mqtt-key"));
    if (!passwordFile.isEmpty() && user.isEmpty()) {
        *error = QStringLiteral("--mqtt-password-file goes with --mqtt-user");
        return false;
    }
    if (tls.certFile.isEmpty() != tls.keyFile.isEmpty()) {
        *error = QStringLiteral("--mqtt-cert and --mqtt-key go together");
        return false;
    }
    if (!tls.certFile.isEmpty() && !usesTls()) {
        *error = QStringLiteral("--mqtt-cert goes with --mqtt-cafile, which turns TLS on");
        return false;
    }
    return true;
}

bool MqttClientOptions::loadFiles(QString *error)
{
    if (!passwordFile.isEmpty() && !SecretFile::readPassword(passwordFile, &password, error))
        return false;
    return tls.load(error);
}

void MqttClientOptions::describe(QTextStream &out) const
{
    if (!user.isEmpty()) {
        out << "mqtt-user " << user;
        if (!passwordFile.isEmpty())
            out << " (password from " << passwordFile << ')';
        out << '\n';
    }
    if (usesTls()) {
        out << "mqtt-tls verify with " << tls.caFile;
        if (!tls.certFile.isEmpty())
            out << ", certificate " << tls.certFile;
        out << '\n';
    }
}

void MqttClientOptions::applyTo(MqttConnection::Settings *settings) const
{
    settings->user = user;
    settings->password = password;
    settings->caFile = tls.caFile;
    settings->certFile = tls.certFile;
    settings->keyFile = tls.keyFile;
}
