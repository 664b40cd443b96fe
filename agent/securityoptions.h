#pragma once

#include "tlsfiles.h"
#include "webconfig.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include "amplifierlink.h"
#include "mqttclientoptions.h"
#include "mqttconnection.h"

class QCommandLineParser;
class QTextStream;

// The options that secure the agent's transports: the MQTT broker's login and TLS (as every
// program that speaks to the broker reads them), the metrics' web configuration, TLS on the
// client port and to the amplifier. Secrets come from files (a command line is for everyone
// to see in `ps`), and those files are read, and refused when other users may read them,
// before anything starts.
struct SecurityOptions
{
    MqttClientOptions mqtt;

    QString webConfigFile;
    WebConfig webConfig; // read from webConfigFile by loadFiles()

    // TLS on the client port: its certificate and key, and with an authority for clients
    // (caFile) a client certificate required; the common names that may change settings.
    TlsFiles serverTls;
    QStringList controlNames;
    // TLS towards the amplifier at --host (another agent's port, most often).
    bool hostTls = false;
    TlsFiles hostTlsFiles;

    bool servesTls() const { return !serverTls.certFile.isEmpty(); }
    bool verifiesClients() const { return !serverTls.caFile.isEmpty(); }
    QSslConfiguration serverConfiguration() const
    {
        return serverTls.configuration(verifiesClients() ? QSslSocket::VerifyPeer
                                                         : QSslSocket::VerifyNone);
    }

    quint16 defaultMqttPort(quint16 plainPort) const { return mqtt.defaultPort(plainPort); }

    void addOptions(QCommandLineParser *parser) const;
    // Takes the options from a parsed command line; false with `error` set on a mistake.
    // `broker`, `metrics` and `tcp` tell whether a broker, a metrics address and an amplifier
    // on TCP are given.
    bool read(const QCommandLineParser &parser, bool broker, bool metrics, bool tcp, QString *error);
    // Reads and checks the files named; false with `error` naming the file.
    bool loadFiles(QString *error);
    void describe(QTextStream &out) const;
    void applyTo(MqttConnection::Settings *settings) const;
    void applyTo(AmplifierLink::Target *device) const;
};
