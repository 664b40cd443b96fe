#include "amplifiermodel.h"

#include "models.h"

#include <algorithm>
#include <cmath>

namespace {

// Where a channel's output levels off, for each model of the table.
struct Saturation
{
    const char *model;
    double watts;
};
const Saturation Saturations[] = {{"700115A", 15.0}, {"700122A", 22.0}, {"700136A", 36.0}};

// Each channel is driven with this much; its gain does the rest.
constexpr double DriveW = 0.1;
// Bias current heats the transistors whenever RF is on, even without output.
constexpr double QuiescentW = 3.0;
// Efficiency falls as the linearity setting pushes the stages towards class A.
constexpr double EfficiencyAtZeroLinearity = 0.5;
constexpr double EfficiencyLossPerPercent = 0.003;
// Temperature rise per watt dissipated and how fast each sensor follows it. The two
// cells sit at different distances from the transistors, so they read differently.
constexpr double CellRiseCPerW[2] = {0.9, 0.8};
constexpr double DriverRiseCPerW = 0.6;
constexpr double CellTimeConstantS = 5.0;
constexpr double DriverTimeConstantS = 3.0;

constexpr char CellFault = '1';
constexpr char DriverFault = '2';

constexpr int MaxGainHalfDb = 63;
constexpr int MaxPowerLimitTenths = 500;
constexpr int MaxTempLimitC = 255;

int tenths(double value)
{
    return qRound(value * 10);
}

QString channelName(int channel)
{
    return QString(QChar('A' + channel));
}

QString printable(const QByteArray &line)
{
    return QString::fromLatin1(line.left(60).toPercentEncoding(" "));
}

} // namespace

QStringList AmplifierModel::modelNames()
{
    QStringList names;
    for (const Reply::ModelInfo &info : Reply::Models)
        names.append(QLatin1String(info.number));
    return names;
}

bool AmplifierModel::isKnownModel(const QByteArray &model)
{
    return std::any_of(std::begin(Reply::Models),
                       std::end(Reply::Models),
                       [&model](const Reply::ModelInfo &info) { return model == info.number; });
}

AmplifierModel::AmplifierModel(const QByteArray &model, double ambientC, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_ambientC(ambientC)
    , m_cellC{ambientC, ambientC}
    , m_driverC(ambientC)
{
    for (const Saturation &saturation : Saturations) {
        if (model == saturation.model)
            m_saturationW = saturation.watts;
    }
    const Reply::ModelInfo *info = Reply::findModel(QString::fromLatin1(model));
    m_switchableRf = info && info->rfByCommand;
    m_hasLinearity = !info || info->hasLinearity;
    m_clock.start();
    // Without it, a fault would only latch when someone asks, and the device would heat
    // on for as long as nobody did.
    connect(&m_sensorTimer, &QTimer::timeout, this, &AmplifierModel::update);
    m_sensorTimer.start(SensorPeriodMs);
}

QByteArray AmplifierModel::handleLine(const QByteArray &line)
{
    const Command::Parsed command = Command::parse(line);
    if (command.kind == Command::Parsed::Invalid) {
        emit report(QStringLiteral("ignored '%1': %2").arg(printable(line), command.error));
        return {};
    }
    update();
    switch (command.kind) {
    case Command::Parsed::Identify:
        return Reply::identificationFrame(m_model);
    case Command::Parsed::Status:
        return Reply::statusFrame(m_settings);
    case Command::Parsed::Meas:
        return Reply::measFrame(measurement());
    default:
        apply(command, line);
        return {};
    }
}

void AmplifierModel::apply(const Command::Parsed &command, const QByteArray &line)
{
    switch (command.kind) {
    case Command::Parsed::Reset:
        if (m_fault != Reply::NoFault)
            emit report(QStringLiteral("Reset: fault %1 cleared").arg(QLatin1Char(m_fault)));
        m_fault = Reply::NoFault;
        if (!m_switchableRf)
            m_settings.rfOn = true;
        break;
    case Command::Parsed::SetRf: {
        const bool on = clamped(command, line, 0, 1) != 0;
        if (!m_switchableRf) {
            emit report(QStringLiteral("'%1' changes nothing: the %2's RF follows its fault state")
                            .arg(printable(line), QString::fromLatin1(m_model)));
            break;
        }
        if (on && m_fault != Reply::NoFault) {
            emit report(QStringLiteral("SetRF 1 refused: fault %1 latched, send Reset first")
                            .arg(QLatin1Char(m_fault)));
            break;
        }
        m_settings.rfOn = on;
        break;
    }
    case Command::Parsed::SetGain:
        m_settings.gainHalfDb[command.channel] = clamped(command, line, 0, MaxGainHalfDb);
        break;
    case Command::Parsed::SetLinearity:
        if (!m_hasLinearity) {
            emit report(QStringLiteral("'%1' changes nothing: the %2 has no linearity setting")
                            .arg(printable(line), QString::fromLatin1(m_model)));
            break;
        }
        m_settings.linearityPct = clamped(command, line, 1, 100);
        break;
    case Command::Parsed::SetMaxPower:
        m_settings.maxPowerTenths = clamped(command, line, 0, MaxPowerLimitTenths);
        break;
    case Command::Parsed::SetMaxCellTemp:
        m_settings.maxCellTempC = clamped(command, line, 0, MaxTempLimitC);
        break;
    case Command::Parsed::SetMaxDrvTemp:
        m_settings.maxDrvTempC = clamped(command, line, 0, MaxTempLimitC);
        break;
    case Command::Parsed::Calibrate:
        m_calibrated[command.channel] = true;
        emit report(QStringLiteral("channel %1 calibrated").arg(channelName(command.channel)));
        break;
    default:
        break;
    }
}

int AmplifierModel::clamped(const Command::Parsed &command,
                            const QByteArray &line,
                            int low,
                            int high)
{
    if (command.value >= low && command.value <= high)
        return int(command.value);
    const int value = command.value < low ? low : high;
    emit report(QStringLiteral("'%1': %2 is out of range %3..%4, clamped to %5")
                    .arg(printable(line))
                    .arg(command.value)
                    .arg(low)
                    .arg(high)
                    .arg(value));
    return value;
}

// Temperatures follow their steady state as first-order lags. Between two updates the
// dissipation is taken as constant, which makes the step exact however long it was.
void AmplifierModel::update()
{
    const qint64 now = m_clock.elapsed();
    const double seconds = (now - m_lastUpdateMs) / 1000.0;
    m_lastUpdateMs = now;

    const double heatW = dissipationW();
    const double cellDecay = std::exp(-seconds / CellTimeConstantS);
    for (int i = 0; i < 2; ++i) {
        const double target = m_ambientC + CellRiseCPerW[i] * heatW;
        m_cellC[i] = target + (m_cellC[i] - target) * cellDecay;
    }
    const double driverTarget = m_ambientC + DriverRiseCPerW * heatW;
    m_driverC = driverTarget
                + (m_driverC - driverTarget) * std::exp(-seconds / DriverTimeConstantS);

    latchFault();
}

void AmplifierModel::latchFault()
{
    if (m_fault != Reply::NoFault)
        return;
    QString what;
    double celsius = 0;
    int limit = 0;
    for (int i = 0; i < 2 && m_fault == Reply::NoFault; ++i) {
        if (Reply::overLimit(tenths(m_cellC[i]), m_settings.maxCellTempC)) {
            m_fault = CellFault;
            what = QStringLiteral("cell %1").arg(i + 1);
            celsius = m_cellC[i];
            limit = m_settings.maxCellTempC;
        }
    }
    if (m_fault == Reply::NoFault && Reply::overLimit(tenths(m_driverC), m_settings.maxDrvTempC)) {
        m_fault = DriverFault;
        what = QStringLiteral("driver");
        celsius = m_driverC;
        limit = m_settings.maxDrvTempC;
    }
    if (m_fault == Reply::NoFault)
        return;
    m_settings.rfOn = false;
    emit report(QStringLiteral("fault %1: %2 at %3 C is over its limit of %4 C; RF switched off")
                    .arg(QLatin1Char(m_fault))
                    .arg(what)
                    .arg(celsius, 0, 'f', 1)
                    .arg(limit));
}

// Output rises with gain, levels off smoothly at the model's saturation power and is then
// held at the power limit.
int AmplifierModel::powerTenths(int channel) const
{
    if (!m_settings.rfOn)
        return 0;
    const double gainDb = m_settings.gainHalfDb[channel] / Command::GainScale;
    const double linearW = DriveW * std::pow(10.0, gainDb / 10.0);
    const double outputW = m_saturationW * std::tanh(linearW / m_saturationW);
    return std::min(tenths(outputW), m_settings.maxPowerTenths);
}

double AmplifierModel::dissipationW() const
{
    if (!m_settings.rfOn)
        return 0;
    double outputW = 0;
    for (int channel = 0; channel < Command::ChannelCount; ++channel)
        outputW += powerTenths(channel) / 10.0;
    const double efficiency = EfficiencyAtZeroLinearity
                              - EfficiencyLossPerPercent * m_settings.linearityPct;
    return QuiescentW + outputW * (1.0 / efficiency - 1.0);
}

Reply::MeasValues AmplifierModel::measurement() const
{
    Reply::MeasValues values;
    values.statusChar = m_fault;
    values.cellTenths[0] = tenths(m_cellC[0]);
    values.cellTenths[1] = tenths(m_cellC[1]);
    values.driverTenths = tenths(m_driverC);
    for (int channel = 0; channel < Command::ChannelCount; ++channel)
        values.powerTenths[channel] = powerTenths(channel);
    return values;
}
