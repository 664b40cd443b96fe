#include "output.h"

#include <QJsonDocument>
#include <QVector>

#include <cstdio>

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

} // namespace

QString modelNumber(const QByteArray &frame)
{
    QString model = Reply::modelText(frame);
    model.remove(QChar::ReplacementCharacter);
    model.remove(QLatin1Char('\r'));
    model.remove(QLatin1Char('\n'));
    return model.trimmed();
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
    return table + tableRow(QStringLiteral("status"), statusCharacter(meas));
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
    return line + QStringLiteral("  ") + statusCharacter(meas) + QLatin1Char('\n');
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
    row += QLatin1Char(',') + csvField(statusCharacter(meas)) + QLatin1Char('\n');
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
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void printError(const QString &message)
{
    std::fprintf(stderr, "korvane-ctl: %s\n", message.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace Output
