#include "output.h"

#include "exitstatus.h"
#include "frameassembler.h"

#include <QJsonDocument>
#include <QVector>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Output {

namespace {

constexpr int LabelWidth = 16;
constexpr int ValueWidth = 6;
constexpr int TimeWidth = 23;
constexpr int ColumnWidth = 14;

using ReadingFormat::ReadingCount;
using ReadingFormat::ReadingKeys;
using ReadingFormat::readingTenths;
using ReadingFormat::timeText;

const char *const ReadingLabels[ReadingCount]
    = {"power A", "power B", "power C", "cell 1 temp", "cell 2 temp", "driver temp"};

const QString &degrees()
{
    static const QString text = QStringLiteral("\u00b0C");
    return text;
}

QString tableRow(const QString &label, const QString &value, const QString &unit = QString())
{
    QString row = label.leftJustified(LabelWidth) + value.rightJustified(ValueWidth);
    if (!unit.isEmpty())
        row += QLatin1Char(' ') + unit;
    return row + QLatin1Char('\n');
}

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}

QString channelName(int channel)
{
    return QString(QChar('A' + channel));
}

QString statusCharacter(const Reply::Measurement &meas)
{
    return QString(QChar::fromLatin1(char(meas.statusChar)));
}

// For a table: the status character as text that cannot steer a terminal.
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
    QString table = tableRow(QStringLiteral("max power"), oneDecimal(status.maxPowerW), "W")
                    + tableRow(QStringLiteral("max cell temp"),
                               QString::number(status.maxCellTempC),
                               degrees())
                    + tableRow(QStringLiteral("max driver temp"),
                               QString::number(status.maxDrvTempC),
                               degrees())
                    + tableRow(QStringLiteral("rf"), status.rfOn ? "on" : "off")
                    + tableRow(QStringLiteral("linearity"),
                               QString::number(status.linearityPct),
                               QStringLiteral("%"));
    for (int channel = 0; channel < 3; ++channel)
        table += tableRow(QStringLiteral("gain ") + channelName(channel),
                          oneDecimal(status.gainDb[channel]),
                          QStringLiteral("dB"));
    return table;
}

QJsonObject statusObject(const Reply::Status &status)
{
    return {{"max_power_w", status.maxPowerW},
            {"max_cell_temp_c", status.maxCellTempC},
            {"max_driver_temp_c", status.maxDrvTempC},
            {"rf_on", status.rfOn},
            {"linearity_pct", status.linearityPct},
            {"gain_a_db", status.gainDb[0]},
            {"gain_b_db", status.gainDb[1]},
            {"gain_c_db", status.gainDb[2]}};
}

QString measTable(const Reply::Measurement &meas)
{
    const QVector<double> tenths = readingTenths(meas);
    QString table;
    for (int i = 0; i < ReadingCount; ++i)
        table += tableRow(QLatin1String(ReadingLabels[i]),
                          Reply::displayTenths(tenths[i]),
                          i < 3 ? QStringLiteral("W") : degrees());
    return table + tableRow(QStringLiteral("status"), shownStatusCharacter(meas));
}

QJsonObject measObject(const Reply::Measurement &meas)
{
    const QVector<double> tenths = readingTenths(meas);
    QJsonObject object;
    for (int i = 0; i < ReadingCount; ++i)
        object.insert(QLatin1String(ReadingKeys[i]), tenths[i] / 10);
    object.insert(QStringLiteral("status"), statusCharacter(meas));
    object.insert(QStringLiteral("fault"), meas.statusChar != Reply::NoFault);
    return object;
}

QString watchHeader()
{
    QString header = QStringLiteral("time").leftJustified(TimeWidth);
    for (const char *key : ReadingKeys)
        header += QString::fromLatin1(key).rightJustified(ColumnWidth);
    return header + QStringLiteral("  status\n");
}

QString watchLine(const QDateTime &time, const Reply::Measurement &meas)
{
    QString line = timeText(time).leftJustified(TimeWidth);
    for (const double tenths : readingTenths(meas))
        line += Reply::displayTenths(tenths).rightJustified(ColumnWidth);
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
