#pragma once

#include "invocation.h"
#include "linkoptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// Reads korvane-ctl's arguments into a checked Invocation, before any link is opened.
class CommandLine
{
public:
    CommandLine();

    // True when the invocation is ready to run; otherwise the program is to end with
    // *exitStatus (0 after help or version, 2 after a usage error, already reported).
    bool parse(const QStringList &arguments, int *exitStatus);
    const Invocation &invocation() const { return m_invocation; }

private:
    bool showHelp(const QStringList &words, int *exitStatus);
    bool readCommand(const QStringList &words, QString *error);
    bool readAlarmName(const QStringList &arguments, bool allowAll, QString *error);
    bool readAgentRequest(QString *error);
    bool readDuration(int *seconds, QString *error) const;
    bool readLink(QString *error);
    bool readOptions(QString *error);
    bool checkOptionsApply(const QString &command, QString *error) const;
    bool readProbes(QString *error);
    QStringList keepNegativeNumbers(const QStringList &arguments) const;
    QStringList positionalWords() const;
    bool checkNotRepeated(QString *error) const;
    int usageError(const QString &message) const;

    QCommandLineParser m_parser;
    QCommandLineOption m_help{{QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Help on the program, or on the command given.")};
    QCommandLineOption m_version{{QStringLiteral("v"), QStringLiteral("version")},
                                 QStringLiteral("Print the version.")};
    QCommandLineOption m_host = LinkOptions::option(LinkOptions::Option::Host,
                                                    QStringLiteral("The amplifier on TCP at "
                                                                   "<address>."));
    QCommandLineOption m_port = LinkOptions::option(LinkOptions::Option::Port,
                                                    QStringLiteral("Its TCP port (default %1).")
                                                        .arg(AmplifierLink::DefaultTcpPort));
    QCommandLineOption m_serial
        = LinkOptions::option(LinkOptions::Option::Serial,
                              QStringLiteral(
                                  "The amplifier on the serial port <path> (any device path, a "
                                  "pseudo-terminal too; 9600 baud, 8N1, no flow control)."));
    QCommandLineOption m_timeout
        = LinkOptions::option(LinkOptions::Option::Timeout,
                              QStringLiteral("How long to wait for each reply (default %1).")
                                  .arg(LinkOptions::DefaultTimeoutMs));
    QCommandLineOption m_json{QStringLiteral("json"),
                              QStringLiteral(
                                  "identify, status, meas, alarms, lease show: print JSON.")};
    QCommandLineOption m_watch{QStringLiteral("watch"),
                               QStringLiteral("meas: keep reading until interrupted.")};
    QCommandLineOption m_interval{QStringLiteral("interval"),
                                  QStringLiteral("meas --watch: time between readings "
                                                 "(default %1).")
                                      .arg(Invocation::DefaultIntervalMs),
                                  QStringLiteral("ms")};
    QCommandLineOption m_count{QStringLiteral("count"),
                               QStringLiteral("meas --watch: stop after <n> readings."),
                               QStringLiteral("n")};
    QCommandLineOption m_csv{QStringLiteral("csv"),
                             QStringLiteral("meas: append each reading to <file> as a CSV row."),
                             QStringLiteral("file")};
    QCommandLineOption m_noConfirm{QStringLiteral("no-confirm"),
                                   QStringLiteral("set, calibrate, reset: send the line only, "
                                                  "without reading Status back.")};
    QCommandLineOption m_lease{QStringLiteral("lease"),
                               QStringLiteral("Present the control lease's <token> to "
                                              "korvane-agent before the command (--host only)."),
                               QStringLiteral("token")};
    QCommandLineOption m_for{QStringLiteral("for"),
                             QStringLiteral("shelve, lease take, lease renew: for <duration> "
                                            "(90s, 30m, 8h, 1h30m; a bare number is seconds)."),
                             QStringLiteral("duration")};
    QCommandLineOption m_untilClear{QStringLiteral("until-clear"),
                                    QStringLiteral("shelve: until the alarm next clears.")};
    QCommandLineOption m_reason{QStringLiteral("reason"),
                                QStringLiteral("shelve, lease break: why, for the journal."),
                                QStringLiteral("text")};
    QCommandLineOption m_comment{QStringLiteral("comment"),
                                 QStringLiteral("ack: a comment kept with the acknowledgement."),
                                 QStringLiteral("text")};
    QCommandLineOption m_note{QStringLiteral("note"),
                              QStringLiteral("lease take: what the lease is for, shown to "
                                             "others."),
                              QStringLiteral("text")};
    QCommandLineOption m_probe{QStringLiteral("probe"),
                               QStringLiteral("scan: probe <path> instead of the system's ports, "
                                              "taking <description> as its description "
                                              "(repeatable)."),
                               QStringLiteral("path[=description]")};

    Invocation m_invocation;
    // The command as the option rules name it: "lease take" for the lease's.
    QString m_commandKey;
    QString m_alarm;
};
