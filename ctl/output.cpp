#include "output.h"

#include "exitstatus.h"
#include "frameassembler.h"
#include "readingformat.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Output {

namespace {

constexpr int LabelWidth = 16;
constexpr int ValueWidth = 6;
constexpr int TimeWidth = 29;
constexpr int ColumnWidth = 14;

using ReadingFormat::timeText;

QString tableRow(const QString &label, const QString &value, const QString &unit = QString())
{
    QString row = label.leftJustified(LabelWidth) + value.rightJustified(ValueWidth);
    if (!unit.isEmpty())
        row += QLatin1Char(' ') + unit;
    return row + QLatin1Char('\n');
}

QString statusCharacter(const Reply::Measurement &meas)
{
    return QString(QChar::fromLatin1(char(meas.statusChar)));
}

// For a table or a CSV file: the status character as text that cannot steer a terminal.
QString shownStatusCharacter(const Reply::Measurement &meas)
{
    return printable(QByteArray(1, char(meas.statusChar)));
}

// Nobody takes what is printed any more (a pager quit, `| head -1`): going on would only
// keep the amplifier busy. Qt ignores SIGPIPE once it has a socket, so the write fails
// with EPIPE instead of ending the program; end it the way the signal would have, which
// is what a shell expects of a pipeline's writer.
[[noreturn]] void endOnOutputFailure(int error)
{
    if (error == EPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    std::fprintf(stderr,
                 "korvane-ctl: cannot write standard output: %s\n",
                 std::strerror(error != 0 ? error : EIO));
    std::fflush(stderr);
    std::_Exit(ExitStatus::Failure);
}

} // namespace

QString modelNumber(const QByteArray &frame)
{
    QString model = Reply::modelText(frame);
    model.remove(QChar::ReplacementCharacter);
    model.remove(QLatin1Char('\r'));
    model.remove(QLatin1Char('\n'));
    return model.trimmed();
}

QString shownModelNumber(const QByteArray &frame)
{
    QByteArray model = frame.mid(Reply::ModelOffset, Reply::ModelTextLength);
    model.truncate(model.indexOf('\0') < 0 ? model.size() : model.indexOf('\0'));
    // A short frame brings its line ends and its closing byte along; they are no part of it.
    if (model.endsWith(FrameAssembler::End))
        model.chop(1);
    model.replace('\r', QByteArray()).replace('\n', QByteArray());
    return printable(model.trimmed());
}

QString statusTable(const Reply::Status &status)
{
    QString table;
    for (const Reply::SettingInfo &setting : Reply::Settings) {
        const double value = status.value(setting.field);
        const QString text = setting.field == Reply::StatusField::Rf
                                 ? QLatin1String(value != 0 ? "on" : "off")
                                 : QString::number(value, 'f', setting.decimals);
        table += tableRow(QLatin1String(setting.label), text, QString::fromUtf8(setting.unit));
    }
    return table;
}

QJsonObject statusObject(const Reply::Status &status)
{
    QJsonObject object;
    for (const Reply::SettingInfo &setting : Reply::Settings)
        object.insert(QLatin1String(setting.ctlKey), status.jsonValue(setting.field));
    return object;
}

QString measTable(const Reply::Measurement &meas)
{
    QString table;
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        table += tableRow(QLatin1String(reading.label),
                          Reply::displayTenths(meas.tenths(reading.field)),
                          QString::fromUtf8(reading.unit));
    return table + tableRow(QStringLiteral("status"), shownStatusCharacter(meas));
}

QJsonObject measObject(const Reply::Measurement &meas)
{
    QJsonObject object;
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        object.insert(QLatin1String(reading.ctlKey), meas.value(reading.field));
    object.insert(QStringLiteral("status"), statusCharacter(meas));
    object.insert(QStringLiteral("fault"), meas.statusChar != Reply::NoFault);
    return object;
}

QString watchHeader()
{
    QString header = QStringLiteral("time").leftJustified(TimeWidth);
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        header += QString::fromLatin1(reading.ctlKey).rightJustified(ColumnWidth);
    return header + QStringLiteral("  status\n");
}

QString watchLine(const QDateTime &time, const Reply::Measurement &meas)
{
    QString line = timeText(time).leftJustified(TimeWidth);
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        line += Reply::displayTenths(meas.tenths(reading.field)).rightJustified(ColumnWidth);
    return line + QStringLiteral("  ") + shownStatusCharacter(meas) + QLatin1Char('\n');
}

QJsonObject watchObject(const QDateTime &time, const Reply::Measurement &meas)
{
    QJsonObject object = measObject(meas);
    object.insert(QStringLiteral("time"), timeText(time));
    return object;
}

namespace {

// A value of the agent's as text a terminal shows as it is: strings escaped, numbers and
// truth values plain.
QString agentText(const QJsonValue &value)
{
    if (value.isString())
        return printable(value.toString().toUtf8());
    if (value.isBool())
        return QLatin1String(value.toBool() ? "yes" : "no");
    if (value.isDouble())
        return QString::number(value.toDouble());
    return QString();
}

// Columns as wide as their widest cell, two blanks apart; "-" for an empty cell.
QString textTable(const QList<QStringList> &rows)
{
    QVector<int> widths;
    for (const QStringList &row : rows) {
        widths.resize(qMax(widths.size(), row.size()));
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], qMax(1, row[i].size()));
    }
    QString table;
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i < row.size(); ++i) {
            const QString cell = row[i].isEmpty() ? QStringLiteral("-") : row[i];
            line += i + 1 < row.size() ? cell.leftJustified(widths[i] + 2) : cell;
        }
        table += line + QLatin1Char('\n');
    }
    return table;
}

} // namespace

QString alarmsTable(const QJsonObject &answer)
{
    QList<QStringList> rows{{QStringLiteral("alarm"),
                             QStringLiteral("severity"),
                             QStringLiteral("unacknowledged"),
                             QStringLiteral("since"),
                             QStringLiteral("shelved"),
                             QStringLiteral("acknowledged by")}};
    const QJsonArray alarms = answer.value(QStringLiteral("alarms")).toArray();
    for (const QJsonValue &value : alarms) {
        const QJsonObject alarm = value.toObject();
        const auto text = [&alarm](const char *key) {
            return agentText(alarm.value(QLatin1String(key)));
        };
        QString shelved = text("shelved_until");
        if (shelved == QLatin1String("until_clear"))
            shelved = QStringLiteral("until clear");
        else if (!shelved.isEmpty())
            shelved = QStringLiteral("until ") + shelved;
        rows.append({text("name"),
                     text("severity"),
                     text("unacknowledged"),
                     text("since"),
                     shelved,
                     text("acknowledged_by")});
    }
    QString table = textTable(rows);
    const QString worst = agentText(answer.value(QStringLiteral("worst_severity")));
    if (!worst.isEmpty())
        table += QStringLiteral("worst severity: ") + worst + QLatin1Char('\n');
    return table;
}

QString leaseTable(const QJsonObject &lease)
{
    if (!lease.value(QStringLiteral("held")).toBool())
        return textTable({{QStringLiteral("held"), QStringLiteral("no")}});
    QList<QStringList> rows;
    const struct
    {
        const char *key;
        const char *label;
    } fields[] = {{"holder", "holder"},
                  {"note", "note"},
                  {"until", "until"},
                  {"seconds_left", "seconds left"},
                  {"yours", "yours"}};
    rows.append({QStringLiteral("held"), QStringLiteral("yes")});
    for (const auto &field : fields)
        rows.append({QLatin1String(field.label), agentText(lease.value(QLatin1String(field.key)))});
    return textTable(rows);
}

QString agentAnswer(Invocation::Command command, const QJsonObject &answer)
{
    const auto text = [&answer](const char *key) {
        return agentText(answer.value(QLatin1String(key)));
    };
    // "acknowledged: fault, power_a": the alarms the agent names in its answer.
    const auto done = [&answer](const char *what, const char *key) {
        QStringList names;
        const QJsonArray alarms = answer.value(QLatin1String(key)).toArray();
        for (const QJsonValue &name : alarms)
            names << agentText(name);
        return QLatin1String(what) + (names.isEmpty() ? QString() : QStringLiteral(": "))
               + names.join(QLatin1String(", ")) + QLatin1Char('\n');
    };
    switch (command) {
    case Invocation::Alarms:
        return alarmsTable(answer);
    case Invocation::LeaseShow:
        return leaseTable(answer);
    case Invocation::Ack:
        return answer.value(QStringLiteral("acknowledged")).toArray().isEmpty()
                   ? QStringLiteral("nothing to acknowledge\n")
                   : done("acknowledged", "acknowledged");
    case Invocation::Shelve:
        return done("shelved", "alarms");
    case Invocation::Unshelve:
        return done("unshelved", "alarms");
    case Invocation::LeaseTake:
        // The token alone on the last line, for `| tail -n1`.
        return QStringLiteral("lease held until %1\n%2\n").arg(text("until"), text("token"));
    case Invocation::LeaseRenew:
        return QStringLiteral("lease held until %1\n").arg(text("until"));
    case Invocation::LeaseRelease:
        return QStringLiteral("lease released\n");
    case Invocation::LeaseBreak:
        return QStringLiteral("lease broken\n");
    default:
        return QString();
    }
}

QByteArray json(const QJsonObject &object, bool compact)
{
    QByteArray text = QJsonDocument(object).toJson(compact ? QJsonDocument::Compact
                                                           : QJsonDocument::Indented);
    if (!text.endsWith('\n'))
        text += '\n';
    return text;
}

void print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout)
                             == size_t(bytes.size())
                         && std::fflush(stdout) == 0;
    if (!written)
        endOnOutputFailure(errno);
}

void printError(const QString &message)
{
    std::fprintf(stderr, "korvane-ctl: %s\n", message.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace Output
