#include "frameassembler.h"
#include "replies.h"

#include <QTest>

namespace {

// Feeds bytes and returns every frame completed on the way.
QList<QByteArray> assemble(FrameAssembler &assembler, const QByteArray &bytes)
{
    QList<QByteArray> frames;
    for (const char byte : bytes) {
        if (assembler.push(byte))
            frames.append(assembler.frame());
    }
    return frames;
}

template<int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

const QByteArray MeasExample = bytes("\0Meas, 0, 0253, 0248, 0301, 123, 118, 120\xff");
const QByteArray StatusExample = bytes("\0Status, 065, 055, 060, 1, 010, 021, 021, 021\xff");

} // namespace

// Reply frames: how bytes become frames and frames become readings and settings.
class tst_Replies : public QObject
{
    Q_OBJECT

private slots:
    void assembly_data();
    void assembly();
    void overlongFrameIsDropped();
    void kinds_data();
    void kinds();
    void shortFrames_data();
    void shortFrames();
    void statusExample();
    void fieldConversion_data();
    void fieldConversion();
    void measurementExample();
    void buildersRoundTrip();
    void probe_data();
    void probe();
};

void tst_Replies::assembly_data()
{
    QTest::addColumn<QList<QByteArray>>("bursts");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("pending");
    const QByteArray meas = MeasExample.mid(1);

    QTest::newRow("one frame in three bursts")
        << QList<QByteArray>{MeasExample.left(10), MeasExample.mid(10, 20), MeasExample.mid(30)}
        << QList<QByteArray>{meas} << meas;
    QTest::newRow("partial frame waits")
        << QList<QByteArray>{MeasExample.left(20)} << QList<QByteArray>{} << meas.left(19);
    QTest::newRow("NUL mid-frame forgets what came before")
        << QList<QByteArray>{QByteArray("\0Sta", 4) + MeasExample} << QList<QByteArray>{meas}
        << meas;
    QTest::newRow("two frames in one burst, in order")
        << QList<QByteArray>{StatusExample + MeasExample}
        << QList<QByteArray>{StatusExample.mid(1), meas} << meas;
    QTest::newRow("junk before the NUL is lost")
        << QList<QByteArray>{"xx\r\n" + MeasExample} << QList<QByteArray>{meas} << meas;
    QTest::newRow("frame without its NUL is a frame of its own")
        << QList<QByteArray>{StatusExample + MeasExample.mid(1)}
        << QList<QByteArray>{StatusExample.mid(1), meas} << meas;
}

void tst_Replies::assembly()
{
    QFETCH(QList<QByteArray>, bursts);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, pending);
    FrameAssembler assembler;
    QList<QByteArray> seen;
    for (const QByteArray &burst : bursts)
        seen += assemble(assembler, burst);
    QCOMPARE(seen, frames);
    QCOMPARE(assembler.frame(), pending);
}

void tst_Replies::overlongFrameIsDropped()
{
    FrameAssembler assembler;
    QVERIFY(assemble(assembler, '\0' + QByteArray(5000, 'x')).isEmpty());
    QVERIFY(assembler.frame().size() <= FrameAssembler::MaxFrameSize);
    QVERIFY(assembler.isDiscarding());
    // The end of the overlong frame is not a frame; the next NUL starts afresh.
    QVERIFY(assemble(assembler, "Meas, 0\xff").isEmpty());
    QCOMPARE(assemble(assembler, MeasExample), QList<QByteArray>{MeasExample.mid(1)});

    // A frame of exactly the largest size still counts.
    const QByteArray largest = QByteArray(FrameAssembler::MaxFrameSize - 1, 'y') + '\xff';
    QCOMPARE(assemble(assembler, '\0' + largest), QList<QByteArray>{largest});

    // The limit counts the bytes before the 0xFF: 1024 of them are kept, 1025 are not.
    QCOMPARE(FrameAssembler::MaxFrameSize, 1024);
    const QByteArray atLimit = QByteArray(1024, 'z') + '\xff';
    QCOMPARE(assemble(assembler, '\0' + atLimit), QList<QByteArray>{atLimit});
    QVERIFY(assemble(assembler, '\0' + QByteArray(1025, 'z') + '\xff').isEmpty());
    QVERIFY(assembler.isDiscarding());
}

void tst_Replies::kinds_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("kind");
    QTest::newRow("identification")
        << QByteArray("?\r\n700136A\xff") << int(Reply::Kind::Identification);
    QTest::newRow("? with Meas is identification")
        << QByteArray("Meas?\xff") << int(Reply::Kind::Identification);
    QTest::newRow("status") << StatusExample.mid(1) << int(Reply::Kind::Status);
    QTest::newRow("status before meas") << QByteArray("MeasStatus\xff") << int(Reply::Kind::Status);
    QTest::newRow("measurement") << MeasExample.mid(1) << int(Reply::Kind::Measurement);
    QTest::newRow("other") << QByteArray("OK\xff") << int(Reply::Kind::Unknown);
    QTest::newRow("wrong case") << QByteArray("meas, 0\xff") << int(Reply::Kind::Unknown);
}

void tst_Replies::kinds()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, kind);
    QCOMPARE(int(Reply::kindOf(frame)), kind);
}

void tst_Replies::shortFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("fields");
    QTest::newRow("no comma") << QByteArray("Meas\xff") << 0;
    QTest::newRow("ends after first comma") << QByteArray("Meas,\xff") << 0;
    QTest::newRow("ends after comma and blank") << QByteArray("Meas, \xff") << 0;
    QTest::newRow("status character only") << QByteArray("Meas, 0\xff") << 1;
    QTest::newRow("three fields") << QByteArray("Meas, 0, 0253, 0248\xff") << 3;
    QTest::newRow("all seven") << MeasExample.mid(1) << 7;
    QTest::newRow("without end byte") << QByteArray("Meas, 1, 2") << 2;
}

void tst_Replies::shortFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, fields);
    const Reply::Measurement m = Reply::decodeMeasurement(frame);
    QCOMPARE(m.fieldCount, fields);
    const QVector<QByteArray> read = Reply::readFields(frame,
                                                       Reply::MeasWidths,
                                                       Reply::MeasFieldCount);
    for (const QByteArray &field : read)
        QVERIFY(!field.contains('\xff'));
}

void tst_Replies::statusExample()
{
    const Reply::Status s = Reply::decodeStatus(StatusExample.mid(1));
    QCOMPARE(s.fieldCount, 8);
    QCOMPARE(s.maxPowerW, 6.5);
    QCOMPARE(s.maxCellTempC, 55);
    QCOMPARE(s.maxDrvTempC, 60);
    QCOMPARE(s.rfOn, true);
    QCOMPARE(s.linearityPct, 10);
    QCOMPARE(s.gainDb[0], 10.5);
    QCOMPARE(s.gainDb[1], 10.5);
    QCOMPARE(s.gainDb[2], 10.5);

    const Reply::Status high = Reply::decodeStatus(
        "Status, 500, 255, 255, 0, 100, 063, 070, 0x1\xff");
    QCOMPARE(high.rfOn, false);
    QCOMPARE(high.gainDb[0], 31.5);
    QCOMPARE(high.gainDb[1], 35.0); // the spin box clamps it
    QCOMPARE(high.gainDb[2], 0.0);  // not a number
    // Only the first bytes of a field count, whatever follows up to the next comma.
    QCOMPARE(Reply::decodeStatus("Status, 0659, 0\xff").maxPowerW, 6.5);
    // The next comma is looked for from the previous field's first byte on.
    const Reply::Status restart = Reply::decodeStatus("Status, 0,1, 055\xff");
    QCOMPARE(restart.fieldCount, 3);
    QCOMPARE(restart.maxCellTempC, 0); // ", 0"
    QCOMPARE(restart.maxDrvTempC, 55);
    // Any RF byte but "0" means on.
    QCOMPARE(Reply::decodeStatus("Status, 0, 0, 0, 2\xff").rfOn, true);
    QCOMPARE(Reply::decodeStatus("Status, 0, 0, 0, x\xff").rfOn, true);
    QCOMPARE(Reply::decodeStatus("Status, 0, 0, 0, 1\xff").rfOn, true);
}

void tst_Replies::fieldConversion_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<double>("tenths");
    QTest::newRow("digits") << QByteArray("0253") << 253.0;
    QTest::newRow("negative") << QByteArray("-100") << -100.0;
    QTest::newRow("nan") << QByteArray("nan") << 0.0;
    QTest::newRow("inf") << QByteArray("inf") << 0.0;
    QTest::newRow("-inf") << QByteArray("-inf") << 0.0;
    QTest::newRow("exponent") << QByteArray("9e99") << 0.0;
    QTest::newRow("hex") << QByteArray("0x1f") << 0.0;
    QTest::newRow("trailing letter") << QByteArray("12a") << 0.0;
    QTest::newRow("plus sign") << QByteArray("+12") << 0.0;
    QTest::newRow("blank") << QByteArray(" 12") << 0.0;
    QTest::newRow("decimal point") << QByteArray("1.5") << 0.0;
    QTest::newRow("minus alone") << QByteArray("-") << 0.0;
}

void tst_Replies::fieldConversion()
{
    QFETCH(QByteArray, field);
    QFETCH(double, tenths);
    const Reply::Measurement m = Reply::decodeMeasurement("Meas, 0, " + field + ", 0\xff");
    QCOMPARE(m.cellTenths[0], tenths);
    // The same rule for the status fields, three bytes wide.
    const int expected = field.size() > 3 && tenths != 0 ? int(tenths) / 10 : int(tenths);
    QCOMPARE(Reply::decodeStatus("Status, 0, 0, 0, 0, " + field + "\xff").linearityPct, expected);
}

void tst_Replies::measurementExample()
{
    const Reply::Measurement m = Reply::decodeMeasurement(MeasExample.mid(1));
    QCOMPARE(m.fieldCount, 7);
    QCOMPARE(m.statusChar, qint8('0'));
    const QStringList shown = {Reply::displayTenths(m.cellTenths[0]),
                               Reply::displayTenths(m.cellTenths[1]),
                               Reply::displayTenths(m.driverTenths),
                               Reply::displayTenths(m.powerTenths[0]),
                               Reply::displayTenths(m.powerTenths[1]),
                               Reply::displayTenths(m.powerTenths[2])};
    QCOMPARE(shown, (QStringList{"25.3", "24.8", "30.1", "12.3", "11.8", "12.0"}));
    QCOMPARE(qint8(Reply::decodeMeasurement("Meas, \xe9\xff").statusChar), qint8(-23));
}

void tst_Replies::buildersRoundTrip()
{
    QCOMPARE(Reply::identificationFrame("700136A"), QByteArray("\0?\r\n700136A\xff", 12));

    Reply::StatusValues status;
    status.maxPowerTenths = 65;
    status.maxCellTempC = 55;
    status.maxDrvTempC = 60;
    status.rfOn = true;
    status.linearityPct = 10;
    status.gainHalfDb[0] = status.gainHalfDb[1] = status.gainHalfDb[2] = 21;
    QCOMPARE(Reply::statusFrame(status), StatusExample);

    Reply::MeasValues meas;
    meas.cellTenths[0] = 253;
    meas.cellTenths[1] = 248;
    meas.driverTenths = 301;
    meas.powerTenths[0] = 123;
    meas.powerTenths[1] = 118;
    meas.powerTenths[2] = 120;
    QCOMPARE(Reply::measFrame(meas), MeasExample);

    // Values beyond a field's width are clamped, never widen the field; a negative value
    // keeps its sign in the first byte.
    meas.cellTenths[0] = 123456;
    meas.cellTenths[1] = -100;
    meas.driverTenths = -5000;
    meas.powerTenths[2] = -4;
    const QByteArray wire = Reply::measFrame(meas);
    QVERIFY(wire.contains(", 9999, -100, -999, 123, 118, -04\xff"));
    const Reply::Measurement back = Reply::decodeMeasurement(wire.mid(1));
    QCOMPARE(back.cellTenths[0], 9999.0);
    QCOMPARE(back.cellTenths[1], -100.0);
    QCOMPARE(back.driverTenths, -999.0);
    QCOMPARE(back.powerTenths[2], -4.0);
}

void tst_Replies::probe_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("match");
    QTest::addColumn<QString>("model");
    const QByteArray answer = Reply::identificationFrame("700122A");
    QTest::newRow("one answer") << answer << true << "700122A";
    QTest::newRow("seven answers") << answer.repeated(7) << true << "700122A";
    QTest::newRow("model elsewhere")
        << QByteArray("\0?\r\n\r\n700115A\xff", 14) << true << "\r\n70011";
    QTest::newRow("unknown model") << Reply::identificationFrame("700999A") << false << "700999A";
    QTest::newRow("nothing") << QByteArray() << false << "";
    QTest::newRow("NUL cuts the text") << QByteArray("abcd70\0"
                                                     "700136A",
                                                     14)
                                       << true << "70";
}

void tst_Replies::probe()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, match);
    QFETCH(QString, model);
    QCOMPARE(Reply::probeMatches(received), match);
    QCOMPARE(Reply::probeModelText(received), model);
}

QTEST_GUILESS_MAIN(tst_Replies)
#include "tst_replies.moc"
