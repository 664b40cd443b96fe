#include "fields.h"

#include "commands.h"

#include <cstring>

namespace Reply {

namespace {

constexpr char Watts[] = "W";
constexpr char Degrees[] = "\u00b0C";
constexpr char PowerMetric[] = "korvane_output_power_watts";
constexpr char TemperatureMetric[] = "korvane_temperature_celsius";
constexpr char GainMetric[] = "korvane_gain_decibels";
constexpr char LimitMetric[] = "korvane_temperature_limit_celsius";
constexpr char PowerLimitMetric[] = "korvane_power_limit_watts";
constexpr char RfMetric[] = "korvane_rf_enabled";
constexpr char LinearityMetric[] = "korvane_linearity_ratio";

using namespace Command::Limits;
constexpr SettingRange PowerLimitRange = {0, MaxPowerLimitW, PowerLimitStepW};
constexpr SettingRange TemperatureLimitRange = {0, MaxTempLimitC, 1};
constexpr SettingRange SwitchRange = {0, 1, 1};
constexpr SettingRange LinearityRange = {MinLinearityPct, MaxLinearityPct, 1};
constexpr SettingRange GainRange = {0, MaxGainDb, GainStepDb};

} // namespace

const ReadingInfo Readings[ReadingCount] = {
    {MeasField::PowerA,
     Watts,
     "power A",
     "A",
     PowerMetric,
     "channel",
     "power_a_w",
     "power_a_w",
     false,
     StatusField::MaxPower},
    {MeasField::PowerB,
     Watts,
     "power B",
     "B",
     PowerMetric,
     "channel",
     "power_b_w",
     "power_b_w",
     false,
     StatusField::MaxPower},
    {MeasField::PowerC,
     Watts,
     "power C",
     "C",
     PowerMetric,
     "channel",
     "power_c_w",
     "power_c_w",
     false,
     StatusField::MaxPower},
    {MeasField::Cell1Temp,
     Degrees,
     "cell 1 temp",
     "cell1",
     TemperatureMetric,
     "sensor",
     "cell1_temp_c",
     "cell1_c",
     true,
     StatusField::MaxCellTemp},
    {MeasField::Cell2Temp,
     Degrees,
     "cell 2 temp",
     "cell2",
     TemperatureMetric,
     "sensor",
     "cell2_temp_c",
     "cell2_c",
     true,
     StatusField::MaxCellTemp},
    {MeasField::DriverTemp,
     Degrees,
     "driver temp",
     "driver",
     TemperatureMetric,
     "sensor",
     "driver_temp_c",
     "driver_c",
     true,
     StatusField::MaxDriverTemp},
};

const SettingInfo Settings[SettingCount] = {
    {StatusField::MaxPower,
     Command::PowerLimitScale,
     1,
     Watts,
     "max power",
     "max_power_w",
     "power_limit_w",
     PowerLimitMetric,
     nullptr,
     nullptr,
     1,
     "max-power",
     PowerLimitRange},
    {StatusField::MaxCellTemp,
     1,
     0,
     Degrees,
     "max cell temp",
     "max_cell_temp_c",
     "cell_limit_c",
     LimitMetric,
     "sensor",
     "cell",
     1,
     "max-cell-temp",
     TemperatureLimitRange},
    {StatusField::MaxDriverTemp,
     1,
     0,
     Degrees,
     "max driver temp",
     "max_driver_temp_c",
     "driver_limit_c",
     LimitMetric,
     "sensor",
     "driver",
     1,
     "max-driver-temp",
     TemperatureLimitRange},
    {StatusField::Rf,
     1,
     0,
     "",
     "rf",
     "rf_on",
     "rf_enabled",
     RfMetric,
     nullptr,
     nullptr,
     1,
     "rf",
     SwitchRange},
    {StatusField::Linearity,
     1,
     0,
     "%",
     "linearity",
     "linearity_pct",
     "linearity_pct",
     LinearityMetric,
     nullptr,
     nullptr,
     100,
     "linearity",
     LinearityRange},
    {StatusField::GainA,
     Command::GainScale,
     1,
     "dB",
     "gain A",
     "gain_a_db",
     "gain_a_db",
     GainMetric,
     "channel",
     "A",
     1,
     "gain",
     GainRange},
    {StatusField::GainB,
     Command::GainScale,
     1,
     "dB",
     "gain B",
     "gain_b_db",
     "gain_b_db",
     GainMetric,
     "channel",
     "B",
     1,
     "gain",
     GainRange},
    {StatusField::GainC,
     Command::GainScale,
     1,
     "dB",
     "gain C",
     "gain_c_db",
     "gain_c_db",
     GainMetric,
     "channel",
     "C",
     1,
     "gain",
     GainRange},
};

const MetricFamily MetricFamilies[MetricFamilyCount] = {
    {PowerMetric, "Output power of each channel."},
    {TemperatureMetric, "Temperature of each sensor."},
    {PowerLimitMetric, "Output power limit."},
    {LimitMetric, "Temperature limits."},
    {RfMetric, "1 while the RF output is switched on."},
    {LinearityMetric, "Linearity setting, 0 to 1."},
    {GainMetric, "Gain of each channel."},
};

const ReadingInfo &readingInfo(MeasField field)
{
    for (const ReadingInfo &info : Readings) {
        if (info.field == field)
            return info;
    }
    // The status character is the one field that is not a reading.
    Q_UNREACHABLE();
    return Readings[0];
}

const SettingInfo &settingInfo(StatusField field)
{
    return Settings[int(field)];
}

const char *metricHelp(const char *metric)
{
    for (const MetricFamily &family : MetricFamilies) {
        if (std::strcmp(family.metric, metric) == 0)
            return family.help;
    }
    return "";
}

int channelOf(StatusField field)
{
    for (int channel = 0; channel < Command::ChannelCount; ++channel) {
        if (GainFields[channel] == field)
            return channel;
    }
    return -1;
}

} // namespace Reply
