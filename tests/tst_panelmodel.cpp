#include "models.h"
#include "panelmodel.h"
#include "replies.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

using Link = PanelModel::Link;
using Lamp = PanelModel::Lamp;

Reply::Status status(const QByteArray &fields)
{
    return Reply::decodeStatus("Status, " + fields + '\xff');
}

const QByteArray Settings = "065, 055, 060, 1, 010, 021, 021, 021";

// One of korvane-agent's frames as the panel's link hands it over.
Extension::Message agentFrame(const QString &verb, const QJsonObject &body)
{
    return Extension::parseFrame(Extension::frame(verb, body).mid(1));
}

// Today at 14:05 local time, as the agent writes its times.
QString fourteenOFive()
{
    return QDateTime(QDate::currentDate(), QTime(14, 5))
        .toOffsetFromUtc(0)
        .toString(Qt::ISODateWithMs);
}

// Plays "link:event" words on the model: tcp:connecting, serial:opened, tcp:identified,
// tcp:answered, tcp:silent, tcp:lost, tcp:closed; "status" reads a whole Status, "short" one
// that stops after its third field, "observer" is the far end refusing this client's settings.
// The agent's frames: tcp:observer and tcp:controller its "@hello", tcp:lease-free and
// tcp:lease-held its "@lease", tcp:refused-calibrate its "@refused" for a calibration.
void play(PanelModel &model, const QStringList &events)
{
    for (const QString &event : events) {
        const QString what = event.section(QLatin1Char(':'), 1);
        const Link link = event.startsWith(QLatin1String("tcp")) ? Link::Tcp : Link::Serial;
        if (event == QLatin1String("status"))
            model.statusRead(status(Settings));
        else if (event == QLatin1String("short"))
            model.statusRead(status("065, 055, 060"));
        else if (event == QLatin1String("observer"))
            model.setMayChange(false);
        else if (what == QLatin1String("observer") || what == QLatin1String("controller"))
            model.agentSaid(link, agentFrame("hello", {{"role", what}, {"agent", "korvane-agent"}}));
        else if (what == QLatin1String("lease-free"))
            model.agentSaid(link, agentFrame("lease", {{"held", false}}));
        else if (what == QLatin1String("lease-held"))
            model.agentSaid(link,
                            agentFrame("lease",
                                       {{"held", true},
                                        {"holder", "ops-desk"},
                                        {"until", fourteenOFive()},
                                        {"yours", false}}));
        else if (what == QLatin1String("refused-calibrate"))
            model.agentSaid(link,
                            agentFrame("refused",
                                       {{"command", "Calibrate 0"}, {"reason", "lease held"}}));
        else if (what == QLatin1String("connecting"))
            model.connecting(link, QStringLiteral("127.0.0.1"));
        else if (what == QLatin1String("opened"))
            model.opened(link, QStringLiteral("127.0.0.1"));
        else if (what == QLatin1String("identified"))
            model.identified(link,
                             QStringLiteral("Korvane Amplifier 700115A"),
                             Reply::decodeIdentity(QByteArray("?\r\n700115A\xff")));
        else if (what == QLatin1String("answered"))
            model.answered(link);
        else if (what == QLatin1String("silent"))
            model.silent(link);
        else if (what == QLatin1String("lost"))
            model.lost(link);
        else if (what == QLatin1String("closed"))
            model.closed(link);
        else
            qFatal("no event %s", qPrintable(event));
    }
}

} // namespace

// What the panel knows of its links, without a window: each rule the window draws by.
class tst_PanelModel : public QObject
{
    Q_OBJECT

private slots:
    void linkRules_data();
    void linkRules();
    void settingsNotTaken_data();
    void settingsNotTaken();
    void agentSays_data();
    void agentSays();
};

void tst_PanelModel::linkRules_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<Link>("link");
    QTest::addColumn<Lamp>("lamp");
    QTest::addColumn<bool>("disconnect");
    QTest::addColumn<bool>("named");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<bool>("live");
    const QStringList up = {"tcp:connecting", "tcp:opened", "tcp:identified", "status"};
    QTest::newRow("nothing yet") << QStringList() << Link::Tcp << Lamp::Grey << false << false
                                 << false << false;
    QTest::newRow("being opened") << QStringList{"tcp:connecting"} << Link::Tcp << Lamp::Grey
                                  << true << false << false << false;
    QTest::newRow("open, not answered")
        << QStringList(up.mid(0, 2)) << Link::Tcp << Lamp::Grey << true << false << false << false;
    QTest::newRow("answering, not identified")
        << up.mid(0, 2) + QStringList{"tcp:answered"} << Link::Tcp << Lamp::Grey << true << false
        << false << true;
    QTest::newRow("identified, settings not read")
        << QStringList(up.mid(0, 3)) << Link::Tcp << Lamp::Green << true << true << false << true;
    QTest::newRow("settings read")
        << up << Link::Tcp << Lamp::Green << true << true << true << true;
    QTest::newRow("a short Status is no whole read")
        << up.mid(0, 3) + QStringList{"short"} << Link::Tcp << Lamp::Green << true << true << false
        << true;
    QTest::newRow("settings not this client's to change")
        << up + QStringList{"observer"} << Link::Tcp << Lamp::Green << true << true << false
        << true;
    // Silent but open: RF off and the rest may still be sent.
    QTest::newRow("silent") << up + QStringList{"tcp:silent"} << Link::Tcp << Lamp::Grey << true
                            << true << true << false;
    QTest::newRow("answers again") << up + QStringList{"tcp:silent", "tcp:answered"} << Link::Tcp
                                   << Lamp::Green << true << true << true << true;
    QTest::newRow("closed by the far end") << up + QStringList{"tcp:lost"} << Link::Tcp
                                           << Lamp::Grey << false << false << false << false;
    QTest::newRow("accepted and closed at once")
        << QStringList{"tcp:connecting", "tcp:opened", "tcp:lost"} << Link::Tcp << Lamp::Grey
        << false << false << false << false;
    QTest::newRow("attempt failed") << QStringList{"tcp:connecting", "tcp:closed"} << Link::Tcp
                                    << Lamp::Grey << false << false << false << false;
    // A new link to a silent device shows nothing of the amplifier before.
    QTest::newRow("opened again, not answered")
        << up + QStringList{"tcp:closed", "tcp:connecting", "tcp:opened"} << Link::Tcp << Lamp::Grey
        << true << false << false << false;
    QTest::newRow("opened again, identified, not read")
        << up + QStringList{"tcp:closed", "tcp:connecting", "tcp:opened", "tcp:identified"}
        << Link::Tcp << Lamp::Green << true << true << false << true;
    QTest::newRow("serial port lost")
        << QStringList{"serial:opened", "serial:identified", "status", "serial:lost"}
        << Link::Serial << Lamp::Red << false << false << false << false;
    // Replies are read from the socket while it is open: the serial side is not known to
    // answer, and what it said before is not the socket's amplifier's.
    QTest::newRow("serial beside an open socket")
        << QStringList{"serial:opened", "serial:identified", "status", "tcp:connecting", "tcp:opened"}
        << Link::Serial << Lamp::Grey << true << false << false << false;
    QTest::newRow("serial again once the socket goes")
        << QStringList{"serial:opened",
                       "serial:identified",
                       "tcp:connecting",
                       "tcp:opened",
                       "tcp:identified",
                       "status",
                       "tcp:closed"}
        << Link::Serial << Lamp::Grey << true << true << false << false;
    QTest::newRow("serial read again, answering")
        << QStringList{"serial:opened",
                       "serial:identified",
                       "tcp:connecting",
                       "tcp:opened",
                       "tcp:closed",
                       "serial:answered",
                       "status"}
        << Link::Serial << Lamp::Green << true << true << true << true;
}

void tst_PanelModel::linkRules()
{
    QFETCH(QStringList, events);
    QFETCH(Link, link);
    QFETCH(Lamp, lamp);
    QFETCH(bool, disconnect);
    QFETCH(bool, named);
    QFETCH(bool, editable);
    QFETCH(bool, live);
    PanelModel model;
    play(model, events);
    QCOMPARE(model.lamp(link), lamp);
    QCOMPARE(model.offersDisconnect(link), disconnect);
    QCOMPARE(model.title(),
             named ? QStringLiteral("Korvane Amplifier 700115A")
                   : QStringLiteral("Korvane Amplifier"));
    QCOMPARE(model.settingsEditable(), editable);
    QCOMPARE(model.readingsLive(), live);
    QVERIFY(!model.lampDescription(link).isEmpty());
}

void tst_PanelModel::settingsNotTaken_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("readBack");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<double>("kept"); // NaN: nothing to tell
    // What korvane-agent said of the setting before its read-back came.
    QTest::addColumn<QString>("refusedBy");
    const double none = std::nan("");
    // Gain B set to 20.5 dB, 41 half steps.
    QTest::newRow("taken") << QByteArray() << QByteArray("065, 055, 060, 1, 010, 021, 041, 021")
                           << true << none << QString();
    QTest::newRow("not taken") << QByteArray() << QByteArray("065, 055, 060, 1, 010, 021, 021, 021")
                               << true << 10.5 << QString();
    QTest::newRow("not passed on by the agent")
        << QByteArray() << QByteArray("065, 055, 060, 1, 010, 021, 021, 021") << true << 10.5
        << QString("lease held by ops-desk until 14:05:00");
    // A Status asked before the setting shows the value from before it; it neither sets the
    // control nor says the setting was not taken.
    QTest::newRow("reply from before the setting")
        << QByteArray("065, 055, 060, 1, 010, 021, 021, 021") << QByteArray() << false << none
        << QString();
    QTest::newRow("read-back without the field")
        << QByteArray() << QByteArray("065, 055, 060, 1, 010, 021") << true << none << QString();
}

void tst_PanelModel::settingsNotTaken()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, readBack);
    QFETCH(bool, applied);
    QFETCH(double, kept);
    QFETCH(QString, refusedBy);
    PanelModel model;
    play(model, {"tcp:connecting", "tcp:opened", "tcp:identified"});
    QSignalSpy told(&model, &PanelModel::settingNotTaken);
    QVERIFY(told.isValid());
    model.statusAsked(); // at connect
    model.statusRead(status(Settings));
    if (!before.isEmpty())
        model.statusAsked(); // the periodic read-back, under way as the setting goes
    model.statusAsked();     // the setting's read-back
    model.settingSent(Reply::StatusField::GainB, 20.5);
    if (!refusedBy.isEmpty())
        model.agentSaid(Link::Tcp,
                        agentFrame("refused", {{"command", "SetGain 1 41"}, {"reason", refusedBy}}));
    if (!before.isEmpty())
        model.statusRead(status(before));
    if (!readBack.isEmpty())
        model.statusRead(status(readBack));
    QCOMPARE(model.mayApply(Reply::StatusField::GainB), applied);
    QCOMPARE(model.mayApply(Reply::StatusField::GainA), true);
    QCOMPARE(told.count(), std::isnan(kept) ? 0 : 1);
    if (std::isnan(kept))
        return;
    const auto refusal = told.first().first().value<PanelModel::Refusal>();
    QCOMPARE(refusal.field, Reply::StatusField::GainB);
    QCOMPARE(refusal.wanted, 20.5);
    QCOMPARE(refusal.kept, kept);
    QCOMPARE(refusal.reason, refusedBy);
}

void tst_PanelModel::agentSays_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("shown");   // the role and the lease in the status bar
    QTest::addColumn<QString>("refused"); // a command without a control, not passed on
    const QStringList up = {"tcp:connecting", "tcp:opened", "tcp:identified", "status"};
    QTest::newRow("no agent") << up << true << QString() << QString();
    QTest::newRow("controller") << up + QStringList{"tcp:controller"} << true << "Controller"
                                << QString();
    QTest::newRow("observer") << up + QStringList{"tcp:observer"} << false << "Observer (read only)"
                              << QString();
    QTest::newRow("lease free") << up + QStringList{"tcp:controller", "tcp:lease-free"} << true
                                << "Controller, lease free" << QString();
    QTest::newRow("lease held by another")
        << up + QStringList{"tcp:controller", "tcp:lease-held"} << true
        << "Controller, lease: ops-desk until 14:05:00" << QString();
    // An answer from before the silence may be over by now: the lease is not told.
    QTest::newRow("lease, link silent")
        << up + QStringList{"tcp:controller", "tcp:lease-held", "tcp:silent"} << true
        << "Controller" << QString();
    // A lease answer without "@hello" first is none of ours.
    QTest::newRow("lease before hello")
        << up + QStringList{"tcp:lease-held"} << true << QString() << QString();
    // What the agent said held for its connection only.
    QTest::newRow("observer, connected again")
        << up + QStringList{"tcp:observer", "tcp:closed"} + up << true << QString() << QString();
    QTest::newRow("observer, link lost")
        << up + QStringList{"tcp:observer", "tcp:lost"} << false << QString() << QString();
    QTest::newRow("calibration refused")
        << up + QStringList{"tcp:controller", "tcp:refused-calibrate"} << true << "Controller"
        << "Calibrate 0: lease held";
}

void tst_PanelModel::agentSays()
{
    QFETCH(QStringList, events);
    QFETCH(bool, editable);
    QFETCH(QString, shown);
    QFETCH(QString, refused);
    PanelModel model;
    QSignalSpy told(&model, &PanelModel::commandRefused);
    play(model, events);
    QCOMPARE(model.settingsEditable(), editable);
    QCOMPARE(model.agentText(), shown);
    QCOMPARE(told.count(), refused.isEmpty() ? 0 : 1);
    if (!refused.isEmpty())
        QCOMPARE(told.first().value(0).toString() + ": " + told.first().value(1).toString(),
                 refused);
}

QTEST_GUILESS_MAIN(tst_PanelModel)
#include "tst_panelmodel.moc"
