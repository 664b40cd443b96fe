#include "commands.h"
#include "fields.h"
#include "setting.h"

#include <QTest>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// What every output calls one reading or setting. Readings come first, then settings: the
// order the metrics list them in.
struct Names
{
    QByteArray label;
    QByteArray ctlKey;
    QByteArray stateKey;
    QByteArray metric;
    QByteArray sample; // the metric with its label, as one sample of the exposition
};

QByteArray sample(const char *metric, const char *labelName, const char *labelValue)
{
    return labelName ? QByteArray(metric) + '{' + labelName + "=\"" + labelValue + "\"}"
                     : QByteArray(metric);
}

QVector<Names> tableNames()
{
    QVector<Names> names;
    for (const Reply::ReadingInfo &reading : Reply::Readings)
        names.append({reading.label,
                      reading.ctlKey,
                      reading.stateKey,
                      reading.metric,
                      sample(reading.metric, reading.metricLabel, reading.name)});
    for (const Reply::SettingInfo &setting : Reply::Settings)
        names.append({setting.label,
                      setting.ctlKey,
                      setting.stateKey,
                      setting.metric,
                      sample(setting.metric, setting.metricLabel, setting.metricLabelValue)});
    return names;
}

template<typename Key>
int countOf(const QVector<Names> &names, Key Names::*key, const QByteArray &value)
{
    return int(std::count_if(names.cbegin(), names.cend(), [&](const Names &entry) {
        return entry.*key == value;
    }));
}

} // namespace

// Command texts and scalings as they go on the wire, how the amplifier reads them, and the
// table of readings and settings every program takes its names and ranges from.
class tst_Commands : public QObject
{
    Q_OBJECT

private slots:
    void formatting_data();
    void formatting();
    void wireStopsAtNul();
    void parsing_data();
    void parsing();
    void formattedCommandsParseBack();
    void fieldsTable_data();
    void fieldsTable();
    void setNamesInTableOrder();
};

void tst_Commands::formatting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("gain A 10.5 dB") << Command::setGain(0, 10.5) << "SetGain 0 21";
    QTest::newRow("gain B 0 dB") << Command::setGain(1, 0.0) << "SetGain 1 0";
    QTest::newRow("gain C at top") << Command::setGain(2, 31.5) << "SetGain 2 63";
    QTest::newRow("gain channel out of range") << Command::setGain(3, 1.0) << QString();
    QTest::newRow("power limit 6.5 W") << Command::setMaxPower(6.5) << "SetMaxP 65";
    QTest::newRow("power limit at top") << Command::setMaxPower(50.0) << "SetMaxP 500";
    QTest::newRow("power limit 0.3 W") << Command::setMaxPower(0.3) << "SetMaxP 3";
    QTest::newRow("cell limit") << Command::setMaxCellTemp(55) << "SetMaxCellT 55";
    QTest::newRow("driver limit") << Command::setMaxDrvTemp(255) << "SetMaxDrvT 255";
    QTest::newRow("linearity") << Command::setLinearity(100) << "SetLin 100";
    QTest::newRow("rf on") << Command::setRf(true) << "SetRF 1";
    QTest::newRow("rf off") << Command::setRf(false) << "SetRF 0";
    QTest::newRow("calibrate C") << Command::calibrate(2) << "Calibrate 2";
    QTest::newRow("calibrate out of range") << Command::calibrate(-1) << QString();
}

void tst_Commands::formatting()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void tst_Commands::wireStopsAtNul()
{
    QCOMPARE(Command::toWire(QStringLiteral("Meas\r\n")), QByteArray("Meas\r\n"));
    QCOMPARE(Command::toWire(QString::fromLatin1("Me\0as\r\n", 7)), QByteArray("Me"));
    QCOMPARE(Command::toWire(QStringLiteral("°")), QByteArray("\xc2\xb0"));
}

void tst_Commands::parsing_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("value");
    using P = Command::Parsed;
    QTest::newRow("identify") << QByteArray("?") << int(P::Identify) << -1 << 0;
    QTest::newRow("status, blanks") << QByteArray("  Status ") << int(P::Status) << -1 << 0;
    QTest::newRow("meas") << QByteArray("Meas") << int(P::Meas) << -1 << 0;
    QTest::newRow("gain") << QByteArray("SetGain 2 63") << int(P::SetGain) << 2 << 63;
    QTest::newRow("calibrate") << QByteArray("Calibrate 1") << int(P::Calibrate) << 1 << 0;
    QTest::newRow("power limit") << QByteArray("SetMaxP 500") << int(P::SetMaxPower) << -1 << 500;
    QTest::newRow("empty") << QByteArray() << int(P::Invalid) << -1 << 0;
    QTest::newRow("unknown") << QByteArray("Launch") << int(P::Invalid) << -1 << 0;
    QTest::newRow("case matters") << QByteArray("meas") << int(P::Invalid) << -1 << 0;
    QTest::newRow("missing value") << QByteArray("SetLin") << int(P::Invalid) << -1 << 0;
    QTest::newRow("extra value") << QByteArray("Reset 1") << int(P::Invalid) << -1 << 0;
    QTest::newRow("not a number") << QByteArray("SetLin ten") << int(P::Invalid) << -1 << 0;
    QTest::newRow("negative") << QByteArray("SetMaxP -5") << int(P::Invalid) << -1 << 0;
    QTest::newRow("no channel 3") << QByteArray("SetGain 3 10") << int(P::Invalid) << -1 << 0;
    QTest::newRow("tabs and runs of blanks")
        << QByteArray("SetGain\t0  \t 20") << int(P::SetGain) << 0 << 20;
    QTest::newRow("leading zeros") << QByteArray("SetMaxP 0065") << int(P::SetMaxPower) << -1 << 65;
    QTest::newRow("NUL byte") << QByteArray("Meas\0", 5) << int(P::Invalid) << -1 << 0;
    QTest::newRow("NUL byte in a value")
        << QByteArray("SetLin 1\0 9", 10) << int(P::Invalid) << -1 << 0;
    QTest::newRow("lower case setting") << QByteArray("setgain 0 20") << int(P::Invalid) << -1 << 0;
    QTest::newRow("binary junk") << QByteArray("\x01\xfe\x80 \x7f", 5) << int(P::Invalid) << -1
                                 << 0;
}

void tst_Commands::parsing()
{
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(int, channel);
    QFETCH(int, value);
    const Command::Parsed parsed = Command::parse(line);
    QCOMPARE(int(parsed.kind), kind);
    // Read as well without the words of an error.
    const Command::Parsed quiet = Command::parse(line, Command::ErrorText::Skipped);
    QCOMPARE(int(quiet.kind), kind);
    QVERIFY(quiet.error.isEmpty());
    if (kind == Command::Parsed::Invalid) {
        QVERIFY(!parsed.error.isEmpty());
        return;
    }
    QCOMPARE(quiet.channel, parsed.channel);
    QCOMPARE(quiet.value, parsed.value);
    QCOMPARE(parsed.channel, channel);
    QCOMPARE(parsed.value, long(value));
    // What is passed on is the command in its one written form.
    const QString canonical = Command::format(parsed);
    QVERIFY(!canonical.contains(QLatin1String("  ")) && !canonical.contains(QLatin1Char('\t')));
    QCOMPARE(Command::parse(canonical.toLatin1()).value, parsed.value);
}

void tst_Commands::formattedCommandsParseBack()
{
    for (int channel = 0; channel < Command::ChannelCount; ++channel) {
        for (int steps = 0; steps <= 63; ++steps) {
            const Command::Parsed parsed = Command::parse(
                Command::setGain(channel, steps / 2.0).toLatin1());
            QCOMPARE(parsed.kind, Command::Parsed::SetGain);
            QCOMPARE(parsed.channel, channel);
            QCOMPARE(parsed.value, long(steps));
        }
    }
    for (int tenths = 0; tenths <= 500; ++tenths) {
        const Command::Parsed parsed = Command::parse(
            Command::setMaxPower(tenths / 10.0).toLatin1());
        QCOMPARE(parsed.value, long(tenths));
    }
    // The text passed on for a parsed command is the one the panel's control sends.
    QStringList panelLines = {Command::setRf(true),
                              Command::setRf(false),
                              QLatin1String(Command::Reset),
                              QLatin1String(Command::Meas)};
    for (int channel = 0; channel < Command::ChannelCount; ++channel) {
        panelLines << Command::calibrate(channel);
        for (int steps = 0; steps <= 63; ++steps)
            panelLines << Command::setGain(channel, steps / 2.0);
    }
    for (int tenths = 0; tenths <= 500; ++tenths)
        panelLines << Command::setMaxPower(tenths / 10.0);
    for (unsigned value = 0; value <= 255; ++value)
        panelLines << Command::setLinearity(value) << Command::setMaxCellTemp(value)
                   << Command::setMaxDrvTemp(value);
    for (const QString &line : panelLines)
        QCOMPARE(Command::format(Command::parse(line.toLatin1())), line);
}

void tst_Commands::fieldsTable_data()
{
    using Reply::MeasField;
    using Reply::StatusField;
    using Kind = Command::Parsed::Kind;
    QTest::addColumn<bool>("isSetting");
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("field");
    QTest::addColumn<QStringList>("setWords"); // what korvane-ctl's `set` calls it
    QTest::addColumn<int>("command");          // the command that changes it

    // Readings in the order every output lists them: powers, then temperatures.
    const MeasField readings[] = {MeasField::PowerA,
                                  MeasField::PowerB,
                                  MeasField::PowerC,
                                  MeasField::Cell1Temp,
                                  MeasField::Cell2Temp,
                                  MeasField::DriverTemp};
    static_assert(std::size(readings) == Reply::ReadingCount, "a row for every reading");
    for (int slot = 0; slot < Reply::ReadingCount; ++slot)
        QTest::addRow("reading %d: %s", slot, Reply::readingInfo(readings[slot]).label)
            << false << slot << int(readings[slot]) << QStringList() << int(Kind::Invalid);

    // Settings in the order of the status reply.
    QTest::newRow("setting 0: max power") << true << 0 << int(StatusField::MaxPower)
                                          << QStringList{"max-power"} << int(Kind::SetMaxPower);
    QTest::newRow("setting 1: max cell temp")
        << true << 1 << int(StatusField::MaxCellTemp) << QStringList{"max-cell-temp"}
        << int(Kind::SetMaxCellTemp);
    QTest::newRow("setting 2: max driver temp")
        << true << 2 << int(StatusField::MaxDriverTemp) << QStringList{"max-driver-temp"}
        << int(Kind::SetMaxDrvTemp);
    QTest::newRow("setting 3: rf")
        << true << 3 << int(StatusField::Rf) << QStringList{"rf"} << int(Kind::SetRf);
    QTest::newRow("setting 4: linearity") << true << 4 << int(StatusField::Linearity)
                                          << QStringList{"linearity"} << int(Kind::SetLinearity);
    QTest::newRow("setting 5: gain A")
        << true << 5 << int(StatusField::GainA) << QStringList{"gain", "A"} << int(Kind::SetGain);
    QTest::newRow("setting 6: gain B")
        << true << 6 << int(StatusField::GainB) << QStringList{"Gain", "b"} << int(Kind::SetGain);
    QTest::newRow("setting 7: gain C")
        << true << 7 << int(StatusField::GainC) << QStringList{"gain", "C"} << int(Kind::SetGain);
    static_assert(Reply::SettingCount == 8, "a row for every setting");
}

void tst_Commands::fieldsTable()
{
    QFETCH(bool, isSetting);
    QFETCH(int, slot);
    QFETCH(int, field);
    QFETCH(QStringList, setWords);
    QFETCH(int, command);

    // In its slot, and found there by its field.
    if (isSetting) {
        QCOMPARE(slot, field);
        QCOMPARE(int(Reply::Settings[slot].field), field);
        QCOMPARE(&Reply::settingInfo(Reply::StatusField(field)), &Reply::Settings[slot]);
    } else {
        QCOMPARE(int(Reply::Readings[slot].field), field);
        QCOMPARE(&Reply::readingInfo(Reply::MeasField(field)), &Reply::Readings[slot]);
    }

    // One value, one name: no other reading or setting shares any of its names.
    const QVector<Names> names = tableNames();
    const int index = isSetting ? Reply::ReadingCount + slot : slot;
    const Names &mine = names.at(index);
    QCOMPARE(countOf(names, &Names::label, mine.label), 1);
    QCOMPARE(countOf(names, &Names::ctlKey, mine.ctlKey), 1);
    QCOMPARE(countOf(names, &Names::stateKey, mine.stateKey), 1);
    QCOMPARE(countOf(names, &Names::sample, mine.sample), 1);

    // Its metric family is one run of samples under one "# HELP", listed in the order of
    // the families' table.
    int first = index;
    while (first > 0 && names.at(first - 1).metric == mine.metric)
        --first;
    int last = index;
    while (last + 1 < names.size() && names.at(last + 1).metric == mine.metric)
        ++last;
    QCOMPARE(countOf(names, &Names::metric, mine.metric), last - first + 1);
    int families = 0;
    int familySlot = -1;
    for (int i = 0; i < Reply::MetricFamilyCount; ++i) {
        if (mine.metric == Reply::MetricFamilies[i].metric) {
            ++families;
            familySlot = i;
        }
    }
    QCOMPARE(families, 1);
    QVERIFY(*Reply::metricHelp(mine.metric) != '\0');
    int familiesBefore = 0;
    for (int i = 0; i < first; ++i)
        familiesBefore += i == 0 || names.at(i).metric != names.at(i - 1).metric;
    QCOMPARE(familySlot, familiesBefore);

    if (!isSetting)
        return;
    // korvane-ctl's `set` name comes back to this setting, at the top of its range, and
    // sends that value on the wire in the setting's scale.
    const Reply::SettingInfo &info = Reply::Settings[slot];
    const bool isSwitch = info.field == Reply::StatusField::Rf;
    QVERIFY(Setting::names().contains(setWords.first(), Qt::CaseInsensitive));
    Setting setting;
    QString error;
    const QString top = isSwitch ? QStringLiteral("on") : QString::number(info.range.high);
    QVERIFY2(Setting::parse(setWords + QStringList{top}, &setting, &error), qPrintable(error));
    QVERIFY(setting.is(Reply::StatusField(field)));
    QCOMPARE(setting.label(), QString::fromUtf8(info.label));
    const Command::Parsed sent = Command::parse(setting.commandText().toLatin1());
    QCOMPARE(int(sent.kind), command);
    QCOMPARE(sent.channel, Reply::channelOf(info.field));
    QCOMPARE(sent.value, std::lround(info.range.high * info.scale));
    const QString beyond = isSwitch ? QStringLiteral("2")
                                    : QString::number(info.range.high + info.range.step);
    QVERIFY(!Setting::parse(setWords + QStringList{beyond}, &setting, &error));
    QVERIFY2(error.contains(QLatin1String(" must be ")), qPrintable(error));
}

void tst_Commands::setNamesInTableOrder()
{
    // The gains share one name and take a channel.
    const QStringList expected
        = {"max-power", "max-cell-temp", "max-driver-temp", "rf", "linearity", "gain"};
    QCOMPARE(Setting::names(), expected);
}

QTEST_GUILESS_MAIN(tst_Commands)
#include "tst_commands.moc"
