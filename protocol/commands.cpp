#include "commands.h"

#include <QList>

namespace Command {

namespace {

// The gain command's text names the channel, one format per channel.
const char *const GainFormats[ChannelCount] = {"SetGain 0 %0.0f",
                                               "SetGain 1 %0.0f",
                                               "SetGain 2 %0.0f"};
const char *const CalibrateTexts[ChannelCount] = {"Calibrate 0", "Calibrate 1", "Calibrate 2"};

// The command lines as the amplifier reads them: name, then its arguments.
struct Entry
{
    const char *name;
    Parsed::Kind kind;
    int args; // arguments after the name
    bool channelFirst;
};
const Entry Table[] = {
    {Identify, Parsed::Identify, 0, false},
    {Status, Parsed::Status, 0, false},
    {Meas, Parsed::Meas, 0, false},
    {Reset, Parsed::Reset, 0, false},
    {"SetRF", Parsed::SetRf, 1, false},
    {"SetGain", Parsed::SetGain, 2, true},
    {"SetLin", Parsed::SetLinearity, 1, false},
    {"SetMaxP", Parsed::SetMaxPower, 1, false},
    {"SetMaxCellT", Parsed::SetMaxCellTemp, 1, false},
    {"SetMaxDrvT", Parsed::SetMaxDrvTemp, 1, false},
    {"Calibrate", Parsed::Calibrate, 1, true},
};

bool validChannel(int channel)
{
    return channel >= 0 && channel < ChannelCount;
}

bool toNumber(const QByteArray &text, long *value)
{
    bool ok = false;
    const long v = text.toLong(&ok);
    if (!ok || v < 0)
        return false;
    *value = v;
    return true;
}

} // namespace

QString setRf(bool on)
{
    return on ? QStringLiteral("SetRF 1") : QStringLiteral("SetRF 0");
}

QString setGain(int channel, double dB)
{
    if (!validChannel(channel))
        return QString();
    return QString::asprintf(GainFormats[channel], dB * GainScale);
}

QString setLinearity(unsigned percent)
{
    return QString::asprintf("SetLin %u", percent);
}

QString setMaxPower(double watts)
{
    return QString::asprintf("SetMaxP %0.0f", watts * PowerLimitScale);
}

QString setMaxCellTemp(unsigned celsius)
{
    return QString::asprintf("SetMaxCellT %u", celsius);
}

QString setMaxDrvTemp(unsigned celsius)
{
    return QString::asprintf("SetMaxDrvT %u", celsius);
}

QString calibrate(int channel)
{
    if (!validChannel(channel))
        return QString();
    return QString::fromLatin1(CalibrateTexts[channel]);
}

QString setSetting(Reply::StatusField field, double value)
{
    switch (field) {
    case Reply::StatusField::MaxPower:
        return setMaxPower(value);
    case Reply::StatusField::MaxCellTemp:
        return setMaxCellTemp(unsigned(value));
    case Reply::StatusField::MaxDriverTemp:
        return setMaxDrvTemp(unsigned(value));
    case Reply::StatusField::Rf:
        return setRf(value != 0);
    case Reply::StatusField::Linearity:
        return setLinearity(unsigned(value));
    case Reply::StatusField::GainA:
    case Reply::StatusField::GainB:
    case Reply::StatusField::GainC:
        return setGain(Reply::channelOf(field), value);
    }
    return QString();
}

QByteArray toWire(const QString &buffer)
{
    QByteArray bytes = buffer.toUtf8();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

Parsed parse(const QByteArray &line, ErrorText errorText)
{
    Parsed result;
    const bool explain = errorText == ErrorText::Built;
    // A NUL is no part of any command: a line holding one is not what it seems to say.
    if (line.contains('\0')) {
        if (explain)
            result.error = QStringLiteral("NUL byte in the line");
        return result;
    }
    const QList<QByteArray> words = line.simplified().split(' ');
    const QByteArray &name = words.first();
    const int argCount = words.size() - 1;

    for (const Entry &entry : Table) {
        if (name != entry.name)
            continue;
        if (argCount != entry.args) {
            if (explain)
                result.error = QStringLiteral("%1 takes %2 argument(s), got %3")
                                   .arg(QLatin1String(entry.name))
                                   .arg(entry.args)
                                   .arg(argCount);
            return result;
        }
        long numbers[2] = {0, 0};
        for (int i = 0; i < argCount; ++i) {
            if (!toNumber(words.at(i + 1), &numbers[i])) {
                if (explain)
                    result.error = QStringLiteral("%1: '%2' is not a number")
                                       .arg(QLatin1String(entry.name),
                                            QString::fromLatin1(
                                                words.at(i + 1).toPercentEncoding()));
                return result;
            }
        }
        if (entry.channelFirst) {
            if (!validChannel(int(qMin(numbers[0], long(ChannelCount))))) {
                if (explain)
                    result.error = QStringLiteral("%1: no channel %2")
                                       .arg(QLatin1String(entry.name))
                                       .arg(numbers[0]);
                return result;
            }
            result.channel = int(numbers[0]);
            result.value = numbers[1];
        } else {
            result.value = numbers[0];
        }
        result.kind = entry.kind;
        return result;
    }
    if (explain)
        result.error = name.isEmpty()
                           ? QStringLiteral("empty line")
                           : QStringLiteral("unknown command '%1'")
                                 .arg(QString::fromLatin1(name.left(40).toPercentEncoding()));
    return result;
}

QString format(const Parsed &command)
{
    for (const Entry &entry : Table) {
        if (entry.kind != command.kind)
            continue;
        QString text = QLatin1String(entry.name);
        if (entry.channelFirst)
            text += QLatin1Char(' ') + QString::number(command.channel);
        if (entry.args > (entry.channelFirst ? 1 : 0))
            text += QLatin1Char(' ') + QString::number(command.value);
        return text;
    }
    return QString();
}

} // namespace Command
