#pragma once

#include "mqttconnection.h"
#include "tlsfiles.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;
class QTextStream;

// How a program logs in to the MQTT broker and verifies it, as every program that speaks to
// the lab's broker is told on its command line: --mqtt-user, --mqtt-password-file,
// --mqtt-cafile, --mqtt-cert and --mqtt-key. The password comes from a file (a command line
// is for everyone to see in `ps`), read, and refused when other users may read it, before
// anything starts.
struct MqttClientOptions
{
    static constexpr quint16 DefaultTlsPort = 8883;

    QString user;
    QString passwordFile;
    QByteArray password; // read from passwordFile by loadFiles()
    TlsFiles tls;        // the broker's authority turns TLS on

    static QList<QCommandLineOption> options();
    // The names of options(), each given once at most and never empty.
    static QStringList names();

    bool usesTls() const { return !tls.caFile.isEmpty(); }
    quint16 defaultPort(quint16 plainPort) const { return usesTls() ? DefaultTlsPort : plainPort; }

    // Takes the options from a parsed command line; `broker` tells whether a broker is given
    // (--mqtt), which each of them goes with. False with `error` set on a mistake.
    bool read(const QCommandLineParser &parser, bool broker, QString *error);
    // Reads and checks the files named; false with `error` naming the file.
    bool loadFiles(QString *error);
    void describe(QTextStream &out) const;
    void applyTo(MqttConnection::Settings *settings) const;
};
