#include "commands.h"

#include <QTest>

// Command texts and scalings as they go on the wire, and how the amplifier reads them.
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

QTEST_GUILESS_MAIN(tst_Commands)
#include "tst_commands.moc"
