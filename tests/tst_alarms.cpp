#include "alarmconfig.h"
#include "alarmengine.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

using Severity = Alarm::Severity;

// A reading of every sensor at `celsius` and every channel at `watts`; "bad" marks the
// cell 1 temperature as no number.
Reply::Measurement reading(double celsius, double watts, bool bad = false, char status = '0')
{
    Reply::MeasValues values;
    values.statusChar = status;
    values.cellTenths[0] = values.cellTenths[1] = values.driverTenths = int(celsius * 10);
    for (int &power : values.powerTenths)
        power = int(watts * 10);
    QByteArray frame = Reply::measFrame(values).mid(1);
    if (bad)
        frame.replace(frame.indexOf(", ") + 5, 4, "x2.5");
    return Reply::decodeMeasurement(frame);
}

QString shown(const AlarmEngine &engine, int i)
{
    const AlarmEngine::State &state = engine.state(i);
    QString text = QLatin1String(Alarm::severityName(state.severity)) + QLatin1Char('/')
                   + QLatin1String(Alarm::severityName(state.reportedUnacknowledged()));
    if (state.shelved)
        text += QStringLiteral("/S");
    return text;
}

int indexOf(const AlarmEngine &engine, const QString &name)
{
    for (int i = 0; i < engine.count(); ++i) {
        if (engine.definition(i).name == name)
            return i;
    }
    return -1;
}

} // namespace

class tst_Alarms : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void keptAcrossRestart();
    void configFile_data();
    void configFile();
};

void tst_Alarms::steps_data()
{
    // Steps at a time in ms: a reading ("50" °C on every sensor, "w40" W on every channel,
    // "bad", "fault"), "limit55" (a Status's cell and driver limits), "ack", "shelve10"
    // (seconds, 0: until clear), "unshelve", "down", "up", "tick". After each, the alarm's
    // severity / unacknowledged severity (/S while shelved), or "error" if refused.
    QTest::addColumn<QString>("alarm");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("expected");
    const QString cell = QStringLiteral("cell1_temperature");
    // Limit 55: MINOR at 50 after 5 s, MAJOR at 55 at once, hysteresis 1.
    QTest::newRow("below the minor level") << cell << ""
                                           << "limit55@0 49.9@0"
                                           << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM";
    QTest::newRow("minor level included, after its delay")
        << cell << ""
        << "limit55@0 50@0 50@4999 50@5000"
        << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM MINOR/MINOR";
    QTest::newRow("delay starts again once the level is left")
        << cell << ""
        << "limit55@0 50@0 48@3000 50@4000 50@8999 50@9000"
        << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM "
           "NO_ALARM/NO_ALARM MINOR/MINOR";
    QTest::newRow("left only below the level less the hysteresis")
        << cell << ""
        << "limit55@0 50@0 50@5000 49@5100 48.9@5200"
        << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM MINOR/MINOR MINOR/MINOR NO_ALARM/MINOR";
    QTest::newRow("major at the limit at once")
        << cell << ""
        << "limit55@0 54.9@0 55@100"
        << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM MAJOR/MAJOR";
    QTest::newRow("levels follow each Status")
        << cell << ""
        << "limit55@0 52@0 limit60@100 52@5100 52@5200"
        << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM "
           "NO_ALARM/NO_ALARM";
    QTest::newRow("no limit read yet, nothing to hold against") << cell << ""
                                                                << "60@0"
                                                                << "NO_ALARM/NO_ALARM";
    QTest::newRow("a reading that is no number is INVALID")
        << cell << ""
        << "limit55@0 bad@0 20@100"
        << "NO_ALARM/NO_ALARM INVALID/INVALID NO_ALARM/INVALID";
    // Latching (MAJOR): until both acknowledged and back to normal, in either order.
    QTest::newRow("latched: acknowledged, then back")
        << cell << ""
        << "limit55@0 56@0 ack@100 56@200 20@300"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR MAJOR/NO_ALARM MAJOR/NO_ALARM NO_ALARM/NO_ALARM";
    QTest::newRow("latched: back, then acknowledged")
        << cell << ""
        << "limit55@0 56@0 20@100 ack@200"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR MAJOR/MAJOR NO_ALARM/NO_ALARM";
    QTest::newRow("not latching: clears, keeps its history until acknowledged")
        << cell << "latch: []"
        << "limit55@0 56@0 20@100 ack@200"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR NO_ALARM/MAJOR NO_ALARM/NO_ALARM";
    QTest::newRow("nothing to acknowledge") << cell << ""
                                            << "limit55@0 20@0 ack@100"
                                            << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM error";
    // Power levels are off until given.
    QTest::newRow("power without levels") << "power_a"
                                          << ""
                                          << "w50@0"
                                          << "NO_ALARM/NO_ALARM";
    QTest::newRow("power levels, hysteresis 0.1 W")
        << "power_a"
        << "minor: 40\n    major: 45\n    minor_delay: 0"
        << "w40@0 w45@100 w44.9@200 w44.8@300 w39.9@400"
        << "MINOR/MINOR MAJOR/MAJOR MAJOR/MAJOR MAJOR/MAJOR MAJOR/MAJOR";
    QTest::newRow("shelved: not unacknowledged, back when its time is up")
        << cell << ""
        << "limit55@0 56@0 shelve10@100 tick@10099 tick@10100"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR MAJOR/NO_ALARM/S MAJOR/NO_ALARM/S MAJOR/MAJOR";
    QTest::newRow("shelved until it clears")
        << cell << "latch: []"
        << "limit55@0 56@0 shelve0@100 20@200"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR MAJOR/NO_ALARM/S NO_ALARM/MAJOR";
    QTest::newRow("unshelved when asked")
        << cell << ""
        << "limit55@0 shelve60@0 unshelve@100 unshelve@200"
        << "NO_ALARM/NO_ALARM NO_ALARM/NO_ALARM/S NO_ALARM/NO_ALARM error";
    QTest::newRow("the fault cannot be shelved") << "fault"
                                                 << ""
                                                 << "fault@0 shelve60@100"
                                                 << "MAJOR/MAJOR error";
    QTest::newRow("fault latched, cleared by acknowledgement once gone")
        << "fault"
        << ""
        << "fault@0 20@100 ack@200"
        << "MAJOR/MAJOR MAJOR/MAJOR NO_ALARM/NO_ALARM";
    QTest::newRow("link: INVALID while down, back when up") << "link"
                                                            << ""
                                                            << "down@0 up@100"
                                                            << "INVALID/INVALID NO_ALARM/INVALID";
    // A link that is down leaves no reading: INVALID, but the link alarm is the one raised.
    QTest::newRow("a reading alarm while the link is down")
        << cell << ""
        << "limit55@0 down@0 up@100 20@200"
        << "NO_ALARM/NO_ALARM INVALID/NO_ALARM INVALID/NO_ALARM NO_ALARM/NO_ALARM";
    QTest::newRow("raised anew after a link loss")
        << cell << "" << "limit55@0 down@0 up@100 56@200"
        << "NO_ALARM/NO_ALARM INVALID/NO_ALARM INVALID/NO_ALARM MAJOR/MAJOR";
    QTest::newRow("a lower raise keeps the higher severity not acknowledged")
        << cell << "latch: []" << "limit55@0 56@0 20@100 50@200 50@5200"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR NO_ALARM/MAJOR NO_ALARM/MAJOR MINOR/MAJOR";
    QTest::newRow("latched alarm held through a link loss")
        << cell << ""
        << "limit55@0 56@0 down@100 ack@200"
        << "NO_ALARM/NO_ALARM MAJOR/MAJOR MAJOR/MAJOR INVALID/NO_ALARM";
}

void tst_Alarms::steps()
{
    QFETCH(QString, alarm);
    QFETCH(QString, config);
    QFETCH(QString, steps);
    QFETCH(QString, expected);
    AlarmConfig alarms;
    if (!config.isEmpty()) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("alarms.yml"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("alarms:\n  %1:\n    %2\n").arg(alarm, config).toUtf8());
        file.close();
        QString error;
        QVERIFY2(alarms.load(path, &error), qPrintable(error));
    }
    AlarmEngine engine(alarms);
    const int i = indexOf(engine, alarm);
    QVERIFY(i >= 0);
    QStringList seen;
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const QString what = step.section(QLatin1Char('@'), 0, 0);
        const qint64 at = 1000000 + step.section(QLatin1Char('@'), 1).toLongLong();
        QString error;
        if (what.startsWith(QLatin1String("limit"))) {
            engine.setLimits(what.mid(5).toInt(), what.mid(5).toInt());
        } else if (what == QLatin1String("ack")) {
            error = engine.acknowledge(alarm, QStringLiteral("ops"), QString(), at).error;
        } else if (what.startsWith(QLatin1String("shelve"))) {
            const int seconds = what.mid(6).toInt();
            error = engine
                        .shelve(alarm,
                                QStringLiteral("ops"),
                                QStringLiteral("probe"),
                                seconds ? at + seconds * 1000 : 0,
                                at)
                        .error;
        } else if (what == QLatin1String("unshelve")) {
            error = engine.unshelve(alarm, QStringLiteral("ops"), at).error;
        } else if (what == QLatin1String("down")) {
            engine.linkDown(at);
        } else if (what == QLatin1String("up")) {
            engine.linkUp(at);
        } else if (what == QLatin1String("tick")) {
            engine.tick(at);
        } else if (what == QLatin1String("bad")) {
            engine.measured(reading(25, 1, true), at);
        } else if (what == QLatin1String("fault")) {
            engine.measured(reading(25, 1, false, 'T'), at);
        } else if (what.startsWith(QLatin1Char('w'))) {
            engine.measured(reading(25, what.mid(1).toDouble()), at);
        } else {
            engine.measured(reading(what.toDouble(), 1), at);
        }
        seen << (error.isEmpty() ? shown(engine, i) : QStringLiteral("error"));
    }
    QCOMPARE(seen.join(QLatin1Char(' ')), expected);
}

// Acknowledgements and shelves outlive the agent; the severities are evaluated afresh.
void tst_Alarms::keptAcrossRestart()
{
    AlarmConfig config;
    AlarmEngine before(config);
    before.setLimits(55, 60);
    before.measured(reading(56, 1), 1000);
    before.measured(reading(56, 1, false, 'T'), 1000);
    before.acknowledge(QStringLiteral("fault"),
                       QStringLiteral("ops-desk"),
                       QStringLiteral("seen"),
                       2000);
    before.shelve(QStringLiteral("power_a"),
                  QStringLiteral("ops-desk"),
                  QStringLiteral("probe"),
                  900000,
                  3000);

    AlarmEngine after(config);
    QString error;
    QVERIFY2(after.restore(before.saved(), &error), qPrintable(error));
    const int cell = indexOf(after, QStringLiteral("cell1_temperature"));
    const int fault = indexOf(after, QStringLiteral("fault"));
    const int power = indexOf(after, QStringLiteral("power_a"));
    QCOMPARE(after.state(cell).unacknowledged, Severity::Major);
    QCOMPARE(after.state(cell).severity, Severity::None);
    QCOMPARE(after.state(fault).ackBy, QStringLiteral("ops-desk"));
    QCOMPARE(after.state(fault).ackComment, QStringLiteral("seen"));
    QCOMPARE(after.state(fault).unacknowledged, Severity::None);
    QVERIFY(after.state(power).shelved);
    QCOMPARE(after.state(power).shelvedUntilMs, qint64(900000));
    QVERIFY(after.tick(899999).isEmpty());
    QCOMPARE(after.tick(900000).size(), 1);

    QVERIFY(!after.restore({{QStringLiteral("alarms"),
                             QJsonObject{{QStringLiteral("fault"),
                                          QJsonObject{{QStringLiteral("unacknowledged"),
                                                       QStringLiteral("LOUD")}}}}}},
                           &error));
    QCOMPARE(after.state(power).shelved, false); // expired above, and not overwritten
}

void tst_Alarms::configFile_data()
{
    QTest::addColumn<QByteArray>("yaml");
    QTest::addColumn<QString>("error"); // empty: read
    QTest::newRow("empty file") << QByteArray() << QString();
    QTest::newRow("levels") << QByteArray("alarms:\n  power_b: {minor: 10, major: 20}\n")
                            << QString();
    QTest::newRow("unknown alarm")
        << QByteArray("alarms:\n  cell3_temperature: {margin: 2}\n") << "line 2: unknown alarm";
    QTest::newRow("unknown key") << QByteArray("alarms:\n  power_a:\n    minor: 3\n    mjaor: 4\n")
                                 << "line 4: power_a: unknown key \"mjaor\"";
    QTest::newRow("key of another kind")
        << QByteArray("alarms:\n  power_a: {margin: 2}\n") << "unknown key \"margin\"";
    QTest::newRow("minor above major") << QByteArray("alarms:\n  power_a: {minor: 30, major: 20}\n")
                                       << "minor must be below major";
    QTest::newRow("negative hysteresis")
        << QByteArray("alarms:\n  cell1_temperature:\n    hysteresis: -1\n")
        << "line 3: cell1_temperature: hysteresis must be a number";
    QTest::newRow("delay not seconds")
        << QByteArray("alarms:\n  cell1_temperature: {minor_delay: soon}\n")
        << "minor_delay must be seconds";
    QTest::newRow("latch of no severity")
        << QByteArray("alarms:\n  fault: {latch: [LOUD]}\n") << "latch must be a list";
    QTest::newRow("not YAML") << QByteArray("alarms: [\n") << "line";
    QTest::newRow("top level key") << QByteArray("alarm:\n  fault: {}\n") << "line 1: unknown key";
    QFile example(QStringLiteral(KORVANE_ALARMS_EXAMPLE));
    QVERIFY(example.open(QIODevice::ReadOnly));
    QTest::newRow("the example users copy") << example.readAll() << QString();
}

void tst_Alarms::configFile()
{
    QFETCH(QByteArray, yaml);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("alarms.yml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(yaml);
    file.close();
    AlarmConfig config;
    QString why;
    const bool read = config.load(path, &why);
    QCOMPARE(read, error.isEmpty());
    if (!error.isEmpty()) {
        QVERIFY2(why.startsWith(path + QLatin1String(": ")), qPrintable(why));
        QVERIFY2(why.contains(error), qPrintable(why));
    }
}

QTEST_GUILESS_MAIN(tst_Alarms)
#include "tst_alarms.moc"
