#include "output.h"

#include "exitstatus.h"
#include "frameassembler.h"
#include "timestamp.h"

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

QString csvField(const QString &text)
{
    for (const char reserved : {',', '"', '\r', '\n'}) {
        if (text.contains(QLatin1Char(reserved)))
            return QLatin1Char('"')
                   + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\""))
                   + QLatin1Char('"');
    }
    return text;
}

QString timeText(const QDateTime &time)
{
    return timestampText(time);
}

// How many bytes the UTF-8 character at `pos` takes; 0 when the bytes there are not one.
int utf8SequenceLength(const char *pos, const char *end)
{
    const uchar lead = uchar(*pos);
    int length = 0;
    uint code = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (end - pos < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        const uchar next = uchar(pos[i]);
        if ((next & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and code points past Unicode are not text either.
    const uint smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return 0;
    return length;
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

QString printable(const QByteArray &bytes)
{
    QString text;
    const char *pos = bytes.constData();
    const char *const end = pos + bytes.size();
    while (pos < end) {
        const int length = utf8SequenceLength(pos, end);
        const QString character = QString::fromUtf8(pos, length);
        const uint code = character.toUcs4().value(0);
        const bool control = code < 0x20 || (code >= 0x7f && code < 0xa0);
        if (length > 0 && !control && code != '\\') {
            text += character;
            pos += length;
            continue;
        }
        if (code == '\\') {
            text += QStringLiteral("\\\\");
            ++pos;
            continue;
        }
        // Each byte of a control character's sequence, so that none is lost.
        for (const char *last = pos + qMax(length, 1); pos < last; ++pos)
            text += QStringLiteral("\\x%1").arg(uchar(*pos), 2, 16, QLatin1Char('0'));
    }
    return text;
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

QByteArray csvHeader()
{
    QByteArray header("time");
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        header += QByteArray(",") + reading.ctlKey;
    return header + ",status\n";
}

QByteArray csvRow(const QDateTime &time, const Reply::Measurement &meas)
{
    QString row = timeText(time);
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        row += QLatin1Char(',') + Reply::displayTenths(meas.tenths(reading.field));
    row += QLatin1Char(',') + csvField(shownStatusCharacter(meas)) + QLatin1Char('\n');
    return row.toUtf8();
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
