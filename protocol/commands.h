#pragma once

#include "fields.h"

#include <QByteArray>
#include <QString>

// The amplifier's command lines: their texts, their scalings and how they go on the wire.
// Shared by the panel, the simulator and the console tool, so that every program sends
// exactly the same bytes for the same setting.
namespace Command {

// Channels A, B and C travel as 0, 1 and 2.
constexpr int ChannelCount = 3;

// Wire units: the power limit travels in tenths of a watt, gains in half-dB steps.
constexpr double PowerLimitScale = 10.0;
constexpr double GainScale = 2.0;

// What the panel's controls accept, and so what every program sends: gains in half-dB
// steps up to 31.5 dB, the power limit in tenths of a watt up to 50 W, whole percent and
// whole degrees. The table of settings (fields.h) carries them per setting as its range.
namespace Limits {
constexpr double MaxGainDb = 31.5;
constexpr double GainStepDb = 1.0 / GainScale;
constexpr int MinLinearityPct = 1;
constexpr int MaxLinearityPct = 100;
constexpr double MaxPowerLimitW = 50.0;
constexpr double PowerLimitStepW = 1.0 / PowerLimitScale;
constexpr int MaxTempLimitC = 255;
} // namespace Limits

constexpr char Identify[] = "?";
constexpr char Status[] = "Status";
constexpr char Meas[] = "Meas";
constexpr char Reset[] = "Reset";

// Every line ends with CR LF.
constexpr char LineEnd[] = "\r\n";

QString setRf(bool on);
QString setGain(int channel, double dB);
QString setLinearity(unsigned percent);
QString setMaxPower(double watts);
QString setMaxCellTemp(unsigned celsius);
QString setMaxDrvTemp(unsigned celsius);
QString calibrate(int channel);
// The command line that changes a setting of the Status reply to a value in its unit (the
// RF switch: 0 or 1), for programs that go by the table of settings (fields.h).
QString setSetting(Reply::StatusField field, double value);

// The bytes that go out for a command buffer: its text in UTF-8, cut at the first NUL.
QByteArray toWire(const QString &buffer);

// A command line as the amplifier reads it. Values are the integers on the wire
// (half-dB steps, tenths of a watt, whole degrees, percent).
struct Parsed
{
    enum Kind {
        Invalid,
        Identify,
        Status,
        Meas,
        Reset,
        SetRf,
        SetGain,
        SetLinearity,
        SetMaxPower,
        SetMaxCellTemp,
        SetMaxDrvTemp,
        Calibrate,
    };
    Kind kind = Invalid;
    int channel = -1;
    long value = 0;
    QString error; // why an Invalid line was refused
};

// Reads one line without its line end. Runs of blanks and tabs count as one blank, leading
// and trailing ones are ignored; a line with a NUL byte, a wrong argument count, a
// non-numeric or negative value or a channel other than 0 to 2 is Invalid. Range checks
// against the device's limits are the device's business.
// Why a line is Invalid is put into words only if asked: a flood of junk lines nobody will
// read costs no text.
enum class ErrorText { Built, Skipped };
Parsed parse(const QByteArray &line, ErrorText errorText = ErrorText::Built);

// A parsed command as this library writes it, single blanks and plain decimal numbers: for
// every value the panel can send, the very text its control sends. Empty for Invalid.
QString format(const Parsed &command);

} // namespace Command
