#pragma once

// The amplifier's readings and settings: where each one sits in its reply, how it is scaled
// on the wire and what every output calls it. The console tool, the journal, the metrics and
// the MQTT telemetry all take their names from here, so that one value has one name.
namespace Reply {

// The fields of a measurement reply, in the order the frame carries them.
enum class MeasField { StatusChar, Cell1Temp, Cell2Temp, DriverTemp, PowerA, PowerB, PowerC };
// The fields of a status reply, in the order the frame carries them.
enum class StatusField { MaxPower, MaxCellTemp, MaxDriverTemp, Rf, Linearity, GainA, GainB, GainC };

// Readings travel in tenths of their unit.
constexpr double ReadingScale = 10.0;

struct ReadingInfo
{
    MeasField field;
    const char *unit;        // "W" or "°C", in UTF-8
    const char *label;       // for people: "power A", "cell 1 temp"
    const char *name;        // the journal's sensor or channel, the metrics label's value
    const char *metric;      // the Prometheus metric
    const char *metricLabel; // the label that tells the samples apart: "channel" or "sensor"
    const char *ctlKey;      // korvane-ctl's JSON key and CSV column
    const char *stateKey;    // the key in the MQTT state's "readings"
    bool hasLimit;           // temperatures are held against a limit of the last Status
    StatusField limit;
};

// What a setting takes, in its unit: from low to high in whole steps. The RF switch takes
// 0 (off) or 1 (on).
struct SettingRange
{
    double low;
    double high;
    double step;
};

struct SettingInfo
{
    StatusField field;
    double scale;                 // wire units per unit: tenths of a watt, half dB steps, else 1
    int decimals;                 // shown with this many decimals
    const char *unit;             // "W", "°C", "%", "dB"; none for the RF switch
    const char *label;            // for people: "max power", "gain A"
    const char *ctlKey;           // korvane-ctl's JSON key
    const char *stateKey;         // the key in the MQTT state's "settings" and in the journal
    const char *metric;           // the Prometheus metric
    const char *metricLabel;      // the label's name, or null for a metric of one sample
    const char *metricLabelValue; // the label's value
    double metricScale;           // units per metric unit: linearity goes out as a ratio
    const char *setName;          // korvane-ctl's `set` word; the gains share one, with a channel
    SettingRange range;           // what the panel's control and korvane-ctl accept
};

// A Prometheus metric family the readings and settings go into, with its help text.
struct MetricFamily
{
    const char *metric;
    const char *help;
};

// The six readings in the order every output lists them: powers, then temperatures.
constexpr int ReadingCount = 6;
extern const ReadingInfo Readings[ReadingCount];
// The eight settings in the order of the status reply.
constexpr int SettingCount = 8;
extern const SettingInfo Settings[SettingCount];

// The metric families of the readings and settings, in the order the metrics list them.
constexpr int MetricFamilyCount = 7;
extern const MetricFamily MetricFamilies[MetricFamilyCount];

const ReadingInfo &readingInfo(MeasField field);
const SettingInfo &settingInfo(StatusField field);
// The help text of a family of the table; empty for any other metric.
const char *metricHelp(const char *metric);
// The channel, 0 to 2, a setting belongs to; -1 for one of the whole amplifier.
int channelOf(StatusField field);

// The channels A, B and C, as the readings and settings of each are named.
constexpr MeasField PowerFields[] = {MeasField::PowerA, MeasField::PowerB, MeasField::PowerC};
constexpr StatusField GainFields[] = {StatusField::GainA, StatusField::GainB, StatusField::GainC};

} // namespace Reply
