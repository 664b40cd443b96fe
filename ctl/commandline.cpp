#include "commandline.h"

#include "commands.h"
#include "duration.h"
#include "exitstatus.h"
#include "extension.h"
#include "linesplitter.h"
#include "linkoptions.h"
#include "optionnumber.h"
#include "output.h"
#include "ranges.h"
#include "tlsclientoptions.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QRegularExpression>

#include <climits>
#include <iterator>
#include <cstdio>

namespace {

// Marks a negative number while the option parser reads the command line; a character
// from the private use area, which no argument typed at a shell holds at its start.
const QChar NumberMask(0xe000);

struct CommandInfo
{
    const char *name;
    Invocation::Command command;
    const char *synopsis;
    const char *details;
};

const CommandInfo Commands[] = {
    {"identify",
     Invocation::Identify,
     "identify",
     "Prints the amplifier's model number, such as 700136A.\n"
     "--json prints {\"model\": \"...\"}."},
    {"status",
     Invocation::Status,
     "status",
     "Prints the eight settings: max power (W), max cell temp and max driver temp (\u00b0C),\n"
     "rf on/off, linearity (%) and the gain of channels A, B and C (dB), as a table.\n"
     "--json prints one object with the keys max_power_w, max_cell_temp_c,\n"
     "max_driver_temp_c, rf_on, linearity_pct, gain_a_db, gain_b_db and gain_c_db."},
    {"meas",
     Invocation::Meas,
     "meas [--json] [--csv FILE] [--watch [--interval MS] [--count N]]",
     "Prints one reading: the output power of channels A, B and C (W), the temperature\n"
     "of cell 1, cell 2 and the driver (\u00b0C) and the status character (0: no fault).\n"
     "--json prints it as an object with the keys power_a_w, power_b_w, power_c_w,\n"
     "cell1_temp_c, cell2_temp_c, driver_temp_c, status and fault.\n"
     "--csv FILE appends the reading to FILE as a row: time (ISO 8601, local, with\n"
     "milliseconds), the six values, the status. A new or empty file gets a header row.\n"
     "--watch reads every --interval ms (default 100), one line per reading (one JSON\n"
     "object per line with --json), until --count readings, Ctrl-C or SIGTERM, which end\n"
     "it with status 0 and only whole rows in the file. A lost link, or a reading that\n"
     "does not come within --timeout, is reported on standard error and the link opened\n"
     "again after 0.5 s, 1 s, 2 s ... up to 10 s; readings go on once it is back. A link\n"
     "that cannot be opened at the start ends the watch with status 1."},
    {"set",
     Invocation::Set,
     "set gain A|B|C DB\n"
     "set rf on|off\n"
     "set linearity PCT\n"
     "set max-power W\n"
     "set max-cell-temp C\n"
     "set max-driver-temp C",
     "Changes one setting with the panel's command. Values are checked first against the\n"
     "panel's ranges: gain 0 to 31.5 dB in steps of 0.5; linearity 1 to 100 %, whole;\n"
     "max-power 0 to 50.0 W with one decimal; max-cell-temp and max-driver-temp 0 to\n"
     "255 \u00b0C, whole; channels A, B or C. A bad value ends with status 2 before the link\n"
     "is opened.\n"
     "Afterwards Status is read back. If it does not show the new value (the amplifier\n"
     "refused it, for one, rf on while a fault is latched), that is reported and the status\n"
     "is 1. --no-confirm sends the line only and ends once it has left.\n"
     "Only the 700115A switches RF by command. On the 700122A and 700136A RF follows the\n"
     "fault state (on while no fault is latched): set rf asks the model first and there\n"
     "sends nothing and ends with status 1. So does set linearity on the 700136A, whose\n"
     "linearity is fixed."},
    {"calibrate",
     Invocation::Calibrate,
     "calibrate A|B|C",
     "Calibrates a channel. Status is read back afterwards, as a sign that the amplifier\n"
     "took the line; --no-confirm sends the line only."},
    {"reset",
     Invocation::Reset,
     "reset",
     "Clears a latched fault. Status is read back afterwards, as a sign that the amplifier\n"
     "took the line; --no-confirm sends the line only."},
    {"scan",
     Invocation::Scan,
     "scan [--probe PATH[=DESCRIPTION]]...",
     "Probes the serial ports as the panel does. Each port whose description names one of\n"
     "the amplifier's USB adapters is asked \"?\" seven times; one line per port reads\n"
     "\"PORT: Error\" (not an adapter, or it would not open), \"PORT: OK, NoMatch\" or\n"
     "\"PORT: OK, Match: MODEL\". --probe scans the ports given, each with the description\n"
     "given (none if left out), instead of the system's: a pseudo-terminal, for instance.\n"
     "Status 0 when an amplifier was found, 1 when none was."},
    {"alarms",
     Invocation::Alarms,
     "alarms [--json]",
     "Prints korvane-agent's alarms as a table: each alarm's name, its severity now\n"
     "(NO_ALARM, MINOR, MAJOR or INVALID), the highest severity not yet acknowledged,\n"
     "since when, whether it is shelved and who acknowledged it last.\n"
     "--json prints the agent's answer as it came: one object with the keys\n"
     "worst_severity and alarms."},
    {"ack",
     Invocation::Ack,
     "ack ALARM|all [--comment TEXT]",
     "Acknowledges an alarm, or every one with 'all', with an optional comment kept\n"
     "beside it. ALARM is one of cell1_temperature, cell2_temperature,\n"
     "driver_temperature, power_a, power_b, power_c, fault or link.\n"
     "Observers may not acknowledge; the agent's refusal ends with status 1."},
    {"shelve",
     Invocation::Shelve,
     "shelve ALARM --for DURATION|--until-clear --reason TEXT",
     "Shelves an alarm for DURATION (90s, 30m, 8h, 1h30m; a bare number is seconds)\n"
     "or until it next clears. The agent keeps the reason; it refuses a shelf longer\n"
     "than its --max-shelve, and the fault alarm cannot be shelved at all."},
    {"unshelve", Invocation::Unshelve, "unshelve ALARM", "Ends an alarm's shelf."},
    {"lease",
     Invocation::LeaseShow,
     "lease take --for DURATION [--note TEXT]\n"
     "lease renew --for DURATION\n"
     "lease release\n"
     "lease show [--json]\n"
     "lease break --reason TEXT",
     "The exclusive control lease: while a controller holds it, every other client's\n"
     "settings are refused, except switching RF off.\n"
     "take prints the lease's end and, as its last line alone, the token:\n"
     "  TOKEN=$(korvane-ctl --host H lease take --for 10m | tail -n1)\n"
     "Give it with --lease TOKEN to any later command, set and this one's renew and\n"
     "release too: a new connection holds the lease only with its token.\n"
     "renew makes it end DURATION from now; release ends it.\n"
     "show prints who holds it and until when (--json: the agent's answer as it came).\n"
     "break ends another's lease; only the agent's admins may."},
};

// The alarms korvane-agent keeps, by the names it gives them.
const char *const AlarmNames[] = {"cell1_temperature",
                                  "cell2_temperature",
                                  "driver_temperature",
                                  "power_a",
                                  "power_b",
                                  "power_c",
                                  "fault",
                                  "link"};

const char *const LeaseActions[] = {"take", "renew", "release", "show", "break"};

QString joined(const char *const *names, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QLatin1String(names[i]);
    return list.join(QLatin1String(", "));
}

const CommandInfo *commandNamed(const QString &name)
{
    for (const CommandInfo &info : Commands) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

QStringList synopses(const CommandInfo &info)
{
    return QString::fromUtf8(info.synopsis).split(QLatin1Char('\n'));
}

QString overview()
{
    return QStringLiteral(
        "Reads, sets and logs a Korvane Amplifier over TCP (--host) or a serial port\n"
        "(--serial), from scripts and test benches.\n\n"
        "Commands:\n"
        "  identify             print the model number\n"
        "  status               print the eight settings (--json: as JSON)\n"
        "  meas                 print a reading; --watch keeps reading, --csv logs\n"
        "  set SETTING VALUE    gain A|B|C DB, rf on|off, linearity PCT, max-power W,\n"
        "                       max-cell-temp C or max-driver-temp C\n"
        "  calibrate A|B|C      calibrate a channel\n"
        "  reset                clear a latched fault\n"
        "  scan                 probe the serial ports as the panel does\n"
        "  help [COMMAND]       help on a command, with its ranges and output\n\n"
        "Through korvane-agent only (--host):\n"
        "  alarms               print the alarms (--json: as the agent sent them)\n"
        "  ack ALARM|all        acknowledge an alarm, or all\n"
        "  shelve ALARM         shelve an alarm --for a while or --until-clear\n"
        "  unshelve ALARM       end an alarm's shelf\n"
        "  lease ACTION         take, renew, release, show or break the control lease\n"
        "--lease TOKEN presents a lease taken before, for any command.\n\n"
        "Exit status: 0 success; 1 link could not be opened or was lost, no reply,\n"
        "the far end is no korvane-agent, the agent refused, or a setting did not take;\n"
        "2 bad command line or value (nothing sent).");
}

QString commandHelp(const CommandInfo &info)
{
    const bool needsLink = info.command != Invocation::Scan;
    const bool agent = info.command >= Invocation::Alarms;
    const QString prefix = needsLink ? QStringLiteral("korvane-ctl LINK [options] ")
                                     : QStringLiteral("korvane-ctl [options] ");
    QString text;
    for (const QString &synopsis : synopses(info))
        text += (text.isEmpty() ? QStringLiteral("Usage: ") : QStringLiteral("       ")) + prefix
                + synopsis + QLatin1Char('\n');
    if (needsLink)
        text += QStringLiteral("LINK: --host ADDRESS [--port PORT] [--tls [--tls-ca FILE] "
                               "[--tls-cert FILE --tls-key FILE]]\n")
                + (agent ? QStringLiteral("      to korvane-agent; [--lease TOKEN]\n")
                         : QStringLiteral("      or --serial PATH; [--lease TOKEN] through "
                                          "korvane-agent\n"));
    text += QLatin1Char('\n') + QString::fromUtf8(info.details) + QLatin1Char('\n');
    if (needsLink)
        text += QStringLiteral("\nEach reply is waited for --timeout ms (default 1000). "
                               "'korvane-ctl --help' lists all options.\n");
    return text;
}

} // namespace

CommandLine::CommandLine()
{
    m_parser.setApplicationDescription(overview());
    m_parser.addOptions({m_help,
                         m_version,
                         m_host,
                         m_port,
                         m_serial,
                         m_timeout,
                         m_json,
                         m_watch,
                         m_interval,
                         m_count,
                         m_csv,
                         m_noConfirm,
                         m_probe,
                         m_lease,
                         m_for,
                         m_untilClear,
                         m_reason,
                         m_comment,
                         m_note});
    m_parser.addOptions(TlsClientOptions::options());
    m_parser.addPositionalArgument(QStringLiteral("command"),
                                   QStringLiteral("One of the commands above, with its "
                                                  "arguments."),
                                   QStringLiteral("command [arguments]"));
}

bool CommandLine::parse(const QStringList &arguments, int *exitStatus)
{
    *exitStatus = ExitStatus::Usage;
    if (!m_parser.parse(keepNegativeNumbers(arguments))) {
        usageError(m_parser.errorText());
        return false;
    }
    const QStringList words = positionalWords();
    if (m_parser.isSet(m_version)) {
        Output::print(
            QStringLiteral("korvane-ctl %1\n").arg(QCoreApplication::applicationVersion()));
        *exitStatus = ExitStatus::Success;
        return false;
    }
    if (m_parser.isSet(m_help) || words.value(0) == QLatin1String("help"))
        return showHelp(words, exitStatus);
    if (words.isEmpty()) {
        usageError(QStringLiteral("no command given"));
        return false;
    }
    QString error;
    if (!checkNotRepeated(&error) || !readCommand(words, &error)
        || !checkOptionsApply(m_commandKey, &error) || !readLink(&error) || !readOptions(&error)
        || !readAgentRequest(&error)) {
        usageError(error);
        return false;
    }
    return true;
}

bool CommandLine::showHelp(const QStringList &words, int *exitStatus)
{
    const QStringList topic = words.value(0) == QLatin1String("help") ? QStringList(words.mid(1))
                                                                      : words;
    if (topic.isEmpty()) {
        // The parser names the program by the path it was started with.
        QString text = m_parser.helpText();
        text.replace(0,
                     text.indexOf(QStringLiteral(" [options]")),
                     QStringLiteral("Usage: korvane-ctl"));
        Output::print(text);
        *exitStatus = ExitStatus::Success;
        return false;
    }
    const CommandInfo *info = commandNamed(topic.first());
    if (!info) {
        *exitStatus = usageError(QStringLiteral("no command '%1'").arg(topic.first()));
        return false;
    }
    Output::print(commandHelp(*info));
    *exitStatus = ExitStatus::Success;
    return false;
}

bool CommandLine::readCommand(const QStringList &words, QString *error)
{
    const CommandInfo *info = commandNamed(words.first());
    if (!info) {
        *error = QStringLiteral("no command '%1'").arg(words.first());
        return false;
    }
    m_invocation.command = info->command;
    m_commandKey = words.first();
    QStringList arguments = words.mid(1);
    if (info->command == Invocation::LeaseShow) {
        const QString action = arguments.value(0);
        const int count = int(std::size(LeaseActions));
        int i = 0;
        while (i < count && action != QLatin1String(LeaseActions[i]))
            ++i;
        if (i == count) {
            *error = action.isEmpty()
                         ? QStringLiteral("lease takes one of %1").arg(joined(LeaseActions, count))
                         : QStringLiteral("no lease %1: lease takes one of %2")
                               .arg(action, joined(LeaseActions, count));
            return false;
        }
        const Invocation::Command actions[] = {Invocation::LeaseTake,
                                               Invocation::LeaseRenew,
                                               Invocation::LeaseRelease,
                                               Invocation::LeaseShow,
                                               Invocation::LeaseBreak};
        m_invocation.command = actions[i];
        m_commandKey = QStringLiteral("lease ") + action;
        arguments.removeFirst();
    }
    switch (info->command) {
    case Invocation::Set:
        if (!Setting::parse(arguments, &m_invocation.setting, error))
            return false;
        m_invocation.line = m_invocation.setting.commandText();
        return true;
    case Invocation::Calibrate: {
        int channel = 0;
        if (arguments.size() != 1) {
            *error = QStringLiteral("calibrate takes one channel: A, B or C");
            return false;
        }
        if (!Range::channel(arguments.first(), &channel, error))
            return false;
        m_invocation.line = Command::calibrate(channel);
        return true;
    }
    case Invocation::Reset:
        m_invocation.line = QLatin1String(Command::Reset);
        break;
    case Invocation::Ack:
        return readAlarmName(arguments, true, error);
    case Invocation::Shelve:
    case Invocation::Unshelve:
        return readAlarmName(arguments, false, error);
    default:
        break;
    }
    if (!arguments.isEmpty()) {
        *error = QStringLiteral("%1 takes no arguments, got '%2'")
                     .arg(m_commandKey, arguments.join(QLatin1Char(' ')));
        return false;
    }
    return true;
}

bool CommandLine::readAlarmName(const QStringList &arguments, bool allowAll, QString *error)
{
    const int count = int(std::size(AlarmNames));
    const QString names = joined(AlarmNames, count)
                          + (allowAll ? QStringLiteral(" or all") : QString());
    if (arguments.size() != 1) {
        *error = QStringLiteral("%1 takes one alarm: %2").arg(m_commandKey, names);
        return false;
    }
    m_alarm = arguments.first();
    for (const char *name : AlarmNames) {
        if (m_alarm == QLatin1String(name))
            return true;
    }
    if (allowAll && m_alarm == QLatin1String("all"))
        return true;
    *error = QStringLiteral("no alarm '%1': %2 takes %3").arg(m_alarm, m_commandKey, names);
    return false;
}

bool CommandLine::readDuration(int *seconds, QString *error) const
{
    if (!Duration::parse(m_parser.value(m_for), seconds, error)) {
        *error = QStringLiteral("--for: ") + *error;
        return false;
    }
    return true;
}

// The agent's line for the command, checked as the agent will read it: options that the
// command needs are there, and the line fits the agent's bound.
bool CommandLine::readAgentRequest(QString *error)
{
    m_invocation.leaseToken = m_parser.value(m_lease);
    if (m_parser.isSet(m_lease) && m_invocation.leaseToken.isEmpty()) {
        *error = QStringLiteral("empty --lease");
        return false;
    }
    if (!m_invocation.leaseToken.isEmpty() && m_invocation.watch) {
        *error = QStringLiteral("--lease does not go with meas --watch");
        return false;
    }
    const auto needs = [&](const QCommandLineOption &option) {
        if (m_parser.isSet(option) && !m_parser.value(option).isEmpty())
            return true;
        *error = QStringLiteral("%1 needs --%2").arg(m_commandKey, option.names().constLast());
        return false;
    };
    const auto optional = [&](QJsonObject *body, const char *key, const QCommandLineOption &option) {
        if (!m_parser.value(option).isEmpty())
            body->insert(QLatin1String(key), m_parser.value(option));
    };
    QString verb;
    QJsonObject body;
    int seconds = 0;
    switch (m_invocation.command) {
    case Invocation::Alarms:
        verb = QLatin1String(Extension::Verb::Alarms);
        break;
    case Invocation::Ack:
        verb = QLatin1String(Extension::Verb::Ack);
        body.insert(QStringLiteral("alarm"), m_alarm);
        optional(&body, "comment", m_comment);
        break;
    case Invocation::Shelve:
        verb = QLatin1String(Extension::Verb::Shelve);
        if (m_parser.isSet(m_for) == m_parser.isSet(m_untilClear)) {
            *error = QStringLiteral("shelve takes either --for DURATION or --until-clear");
            return false;
        }
        if (!needs(m_reason) || (m_parser.isSet(m_for) && !readDuration(&seconds, error)))
            return false;
        body.insert(QStringLiteral("alarm"), m_alarm);
        if (m_parser.isSet(m_for))
            body.insert(QStringLiteral("for"), seconds);
        else
            body.insert(QStringLiteral("until_clear"), true);
        body.insert(QStringLiteral("reason"), m_parser.value(m_reason));
        break;
    case Invocation::Unshelve:
        verb = QLatin1String(Extension::Verb::Unshelve);
        body.insert(QStringLiteral("alarm"), m_alarm);
        break;
    case Invocation::LeaseTake:
    case Invocation::LeaseRenew: {
        const bool take = m_invocation.command == Invocation::LeaseTake;
        verb = QLatin1String(take ? Extension::Verb::LeaseTake : Extension::Verb::LeaseRenew);
        if (!needs(m_for) || !readDuration(&seconds, error))
            return false;
        body.insert(QStringLiteral("for"), seconds);
        if (take)
            optional(&body, "note", m_note);
        break;
    }
    case Invocation::LeaseRelease:
        verb = QLatin1String(Extension::Verb::LeaseRelease);
        break;
    case Invocation::LeaseShow:
        verb = QLatin1String(Extension::Verb::Lease);
        break;
    case Invocation::LeaseBreak:
        verb = QLatin1String(Extension::Verb::LeaseBreak);
        if (!needs(m_reason))
            return false;
        body.insert(QStringLiteral("reason"), m_parser.value(m_reason));
        break;
    default:
        break;
    }
    // A new connection is the holder only with the token.
    if ((m_invocation.command == Invocation::LeaseRenew
         || m_invocation.command == Invocation::LeaseRelease)
        && m_invocation.leaseToken.isEmpty()) {
        *error = QStringLiteral("%1 needs --lease TOKEN: only the lease's holder may %2 it")
                     .arg(m_commandKey, m_commandKey.section(QLatin1Char(' '), 1));
        return false;
    }
    if (!verb.isEmpty())
        m_invocation.agentLine = Extension::line(verb, body);
    const QByteArray tokenLine = Extension::line(QLatin1String(Extension::Verb::LeaseUse),
                                                 {{QStringLiteral("token"),
                                                   m_invocation.leaseToken}});
    if (m_invocation.agentLine.size() > LineSplitter::MaxLineLength
        || tokenLine.size() > LineSplitter::MaxLineLength) {
        *error = QStringLiteral("korvane-agent takes lines of at most %1 bytes; this one "
                                "would be %2: shorten the text given")
                     .arg(LineSplitter::MaxLineLength)
                     .arg(qMax(m_invocation.agentLine.size(), tokenLine.size()));
        return false;
    }
    return true;
}

bool CommandLine::checkOptionsApply(const QString &command, QString *error) const
{
    struct Rule
    {
        const QCommandLineOption *option;
        QStringList commands;
    };
    const QStringList amplifier{"identify", "status", "meas", "set", "calibrate", "reset"};
    const QStringList agent{"alarms",
                            "ack",
                            "shelve",
                            "unshelve",
                            "lease take",
                            "lease renew",
                            "lease release",
                            "lease show",
                            "lease break"};
    const QStringList linked = amplifier + agent;
    const Rule rules[] = {
        {&m_host, linked},
        {&m_port, linked},
        {&m_serial, amplifier},
        {&m_timeout, linked},
        {&m_lease, linked},
        {&m_json, {"identify", "status", "meas", "alarms", "lease show"}},
        {&m_comment, {"ack"}},
        {&m_for, {"shelve", "lease take", "lease renew"}},
        {&m_untilClear, {"shelve"}},
        {&m_reason, {"shelve", "lease break"}},
        {&m_note, {"lease take"}},
        {&m_watch, {"meas"}},
        {&m_csv, {"meas"}},
        {&m_interval, {"meas"}},
        {&m_count, {"meas"}},
        {&m_noConfirm, {"set", "calibrate", "reset"}},
        {&m_probe, {"scan"}},
    };
    for (const Rule &rule : rules) {
        if (m_parser.isSet(*rule.option) && !rule.commands.contains(command)) {
            *error = QStringLiteral("--%1 does not go with %2")
                         .arg(rule.option->names().constLast(), command);
            return false;
        }
    }
    for (const QString &name : TlsClientOptions::names()) {
        if (m_parser.isSet(name) && !linked.contains(command)) {
            *error = QStringLiteral("--%1 does not go with %2").arg(name, command);
            return false;
        }
    }
    for (const QCommandLineOption *option : {&m_interval, &m_count}) {
        if (m_parser.isSet(*option) && !m_parser.isSet(m_watch)) {
            *error = QStringLiteral("--%1 needs --watch").arg(option->names().constLast());
            return false;
        }
    }
    return true;
}

bool CommandLine::readLink(QString *error)
{
    if (m_invocation.command == Invocation::Scan)
        return true;
    const bool tcp = m_parser.isSet(m_host);
    // korvane-agent serves over TCP only: what is at the end of a serial line is an
    // amplifier, to which the agent's lines are junk.
    if (m_parser.isSet(m_lease) && !tcp) {
        *error = QStringLiteral("--lease needs --host: only korvane-agent takes a lease, "
                                "over TCP");
        return false;
    }
    AmplifierLink::Target &target = m_invocation.target;
    if (!LinkOptions::read(m_parser, &target, &m_invocation.timeoutMs, error))
        return false;
    return TlsClientOptions::read(m_parser, QString(), tcp, &target.tls, &target.tlsFiles, error)
           && (!target.tls || (TlsFiles::available(error) && target.tlsFiles.load(error)));
}

bool CommandLine::readOptions(QString *error)
{
    m_invocation.json = m_parser.isSet(m_json);
    m_invocation.watch = m_parser.isSet(m_watch);
    m_invocation.confirm = !m_parser.isSet(m_noConfirm);
    m_invocation.csvPath = m_parser.value(m_csv);
    if (m_parser.isSet(m_csv) && m_invocation.csvPath.isEmpty()) {
        *error = QStringLiteral("empty --csv");
        return false;
    }
    constexpr int Hour = 3600 * 1000;
    return OptionNumber::read(m_parser, m_interval, 10, Hour, &m_invocation.intervalMs, error)
           && OptionNumber::read(m_parser, m_count, 1, INT_MAX, &m_invocation.count, error)
           && readProbes(error);
}

bool CommandLine::readProbes(QString *error)
{
    const QStringList probes = m_parser.values(m_probe);
    for (const QString &probe : probes) {
        const int equals = probe.indexOf(QLatin1Char('='));
        Platform::SerialPortEntry entry;
        entry.name = equals < 0 ? probe : probe.left(equals);
        entry.description = equals < 0 ? QString() : probe.mid(equals + 1);
        if (entry.name.isEmpty()) {
            *error = QStringLiteral("--probe wants a port path, not '%1'").arg(probe);
            return false;
        }
        m_invocation.probePorts.append(entry);
    }
    return true;
}

// A value such as "-1" would be read as an option. Masked it passes the option parser as
// a word in its place, so that the range check, not the option parser, explains what is
// wrong with it, and a value in the wrong place stays in the wrong place.
QStringList CommandLine::keepNegativeNumbers(const QStringList &arguments) const
{
    if (arguments.contains(QStringLiteral("--")))
        return arguments;
    static const QRegularExpression negative(QStringLiteral("^-(\\d+\\.?\\d*|\\.\\d+)$"));
    QStringList result;
    bool optionValue = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (i > 0 && !optionValue && negative.match(argument).hasMatch()) {
            result.append(NumberMask + argument);
            continue;
        }
        result.append(argument);
        optionValue = false;
        for (const QCommandLineOption *option : {&m_host,
                                                 &m_port,
                                                 &m_serial,
                                                 &m_timeout,
                                                 &m_interval,
                                                 &m_count,
                                                 &m_csv,
                                                 &m_probe,
                                                 &m_lease,
                                                 &m_for,
                                                 &m_reason,
                                                 &m_comment,
                                                 &m_note}) {
            if (argument == QLatin1String("--") + option->names().constLast())
                optionValue = true;
        }
    }
    return result;
}

QStringList CommandLine::positionalWords() const
{
    QStringList words = m_parser.positionalArguments();
    for (QString &word : words) {
        if (word.startsWith(NumberMask))
            word.remove(0, 1);
    }
    return words;
}

bool CommandLine::checkNotRepeated(QString *error) const
{
    // The link's options are checked where they are read.
    for (const QCommandLineOption *option :
         {&m_interval, &m_count, &m_csv, &m_lease, &m_for, &m_reason, &m_comment, &m_note}) {
        if (m_parser.values(*option).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(option->names().constLast());
            return false;
        }
    }
    return true;
}

int CommandLine::usageError(const QString &message) const
{
    Output::printError(message);
    std::fprintf(stderr, "Try 'korvane-ctl --help'.\n");
    return ExitStatus::Usage;
}
