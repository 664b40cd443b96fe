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

// The six readings in the order every output lists them: powers, then temperatures.
constexpr int ReadingCount = 6;
const char *const ReadingKeys[ReadingCount]
    = {"power_a_w", "power_b_w", "power_c_w", "cell1_temp_c", "cell2_temp_c", "driver_temp_c"};
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

QVector<double> readingTenths(const Reply::Measurement &meas)
{
    return {meas.powerTenths[0],
            meas.powerTenths[1],
            meas.powerTenths[2],
            meas.cellTenths[0],
            meas.cellTenths[1],
            meas.driverTenths};
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
    return time.toString(Qt::ISODateWithMs);
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

QByteArray csvHeader()
{
    QByteArray header("time");
    for (const char *key : ReadingKeys)
        header += QByteArray(",") + key;
    return header + ",status\n";
}

QByteArray csvRow(const QDateTime &time, const Reply::Measurement &meas)
{
    QString row = timeText(time);
    for (const double tenths : readingTenths(meas))
        row += QLatin1Char(',') + Reply::displayTenths(tenths);
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
