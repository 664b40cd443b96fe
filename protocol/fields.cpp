#include "fields.h"

#include "commands.h"

namespace Reply {

namespace {

constexpr char Watts[] = "W";
constexpr char Degrees[] = "\u00b0C";
constexpr char PowerMetric[] = "korvane_output_power_watts";
constexpr char TemperatureMetric[] = "korvane_temperature_celsius";
constexpr char GainMetric[] = "korvane_gain_decibels";
constexpr char LimitMetric[] = "korvane_temperature_limit_celsius";

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
     "korvane_power_limit_watts",
     nullptr,
     nullptr,
     1},
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
     1},
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
     1},
    {StatusField::Rf, 1, 0, "", "rf", "rf_on", "rf_enabled", "korvane_rf_enabled", nullptr, nullptr, 1},
    {StatusField::Linearity,
     1,
     0,
     "%",
     "linearity",
     "linearity_pct",
     "linearity_pct",
     "korvane_linearity_ratio",
     nullptr,
     nullptr,
     100},
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
     1},
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
     1},
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
     1},
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

} // namespace Reply
