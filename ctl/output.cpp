#include "output.h"

#include "exitstatus.h"
#include "frameassembler.h"
#include "readingformat.h"

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
