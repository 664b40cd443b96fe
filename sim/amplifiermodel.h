#pragma once

#include "commands.h"
#include "replies.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

// The amplifier itself: settings, output powers, temperatures and fault latch; no I/O.
class AmplifierModel : public QObject
{
    Q_OBJECT

public:
    static constexpr char DefaultModel[] = "700136A";
    static constexpr double DefaultAmbientC = 25.0;
    // How often the device looks at its sensors on its own, between commands.
    static constexpr int SensorPeriodMs = 100;

    static QStringList modelNames();
    static bool isKnownModel(const QByteArray &model);

    explicit AmplifierModel(const QByteArray &model = DefaultModel,
                            double ambientC = DefaultAmbientC,
                            QObject *parent = nullptr);

    // Carries out one command line (without its line end); returns the reply frame, or
    // nothing for commands without a reply and for lines it refuses.
    QByteArray handleLine(const QByteArray &line);

    QByteArray model() const { return m_model; }

signals:
    // Out-of-range values, refused lines, faults: what a device log would say.
    void report(const QString &message);

private:
    void update();
    void latchFault();
    void apply(const Command::Parsed &command, const QByteArray &line);
    int clamped(const Command::Parsed &command, const QByteArray &line, int low, int high);
    int powerTenths(int channel) const;
    double dissipationW() const;
    Reply::MeasValues measurement() const;

    QByteArray m_model;
    double m_saturationW = 36.0;
    double m_ambientC = DefaultAmbientC;
    // Only some models switch RF by command; on the others RF is on while no fault is
    // latched.
    bool m_switchableRf = false;
    // The 700136A's linearity is fixed: it reports it and takes no other.
    bool m_hasLinearity = true;

    // The panel's controls start at these values, so a fresh panel sees no change.
    Reply::StatusValues m_settings = {65, 55, 60, true, 10, {21, 21, 21}};
    bool m_calibrated[Command::ChannelCount] = {false, false, false};
    char m_fault = Reply::NoFault;

    double m_cellC[2] = {DefaultAmbientC, DefaultAmbientC};
    double m_driverC = DefaultAmbientC;
    QElapsedTimer m_clock;
    qint64 m_lastUpdateMs = 0;
    QTimer m_sensorTimer;
};
