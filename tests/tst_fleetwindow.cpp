#include "fleetmodel.h"
#include "fleetwindow.h"
#include "screenscaling.h"
#include "shelvedialog.h"
#include "extension.h"
#include "tilewidget.h"

#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <memory>

// What a person sees of korvane-fleet: tiles in order, their states in words and colours,
// the filter, the keyboard, the palettes and the screen's scale. The model is fed directly,
// on a clock the test moves.
class tst_FleetWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tilesInOrderWithWords();
    void colours_data();
    void colours();
    void markupShownAsText();
    void filter();
    void keyboardWalk();
    void openPanel();
    void refusalShownWithReason_data();
    void refusalShownWithReason();
    void shelveDialog();
    void darkPalette();
    void atScale();

private:
    void publish(const QString &name, const QByteArray &json);
    TileWidget *tile(const char *name) const { return m_window->tileWidget(QLatin1String(name)); }

    qint64 m_now = QDateTime::currentMSecsSinceEpoch();
    const QPalette m_palette = QApplication::palette();
    std::unique_ptr<FleetModel> m_model;
    std::unique_ptr<FleetWindow> m_window;
};

namespace {

QByteArray stateJson(qint64 madeMs, const char *severity, bool up = true)
{
    QJsonObject state = QJsonDocument::fromJson(R"({
        "interval_ms":1000,"model":"700136A","fault":false,"advertise":"127.0.0.1:1",
        "readings":{"power_a_w":10.5,"power_b_w":11,"power_c_w":12,"cell1_c":31,"cell2_c":32,
                    "driver_c":33},
        "settings":{"cell_limit_c":60,"driver_limit_c":70,"rf_enabled":true},
        "alarms":[{"name":"fault","severity":"MAJOR","unacknowledged":"MAJOR"}],
        "lease":{"held":true,"holder":"ops-desk"}})")
                            .object();
    state.insert(QStringLiteral("time"),
                 QDateTime::fromMSecsSinceEpoch(madeMs).toString(Qt::ISODateWithMs));
    state.insert(QStringLiteral("up"), up);
    state.insert(QStringLiteral("worst_severity"), QLatin1String(severity));
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

// How far apart two colours are in lightness, 0 to 255.
int contrast(const QColor &a, const QColor &b)
{
    return qAbs(a.lightness() - b.lightness());
}

} // namespace

void tst_FleetWindow::init()
{
    m_model = std::make_unique<FleetModel>(QStringLiteral("korvane"), [this] { return m_now; });
    m_model->setBrokerConnected(true);
    m_window = std::make_unique<FleetWindow>(m_model.get(), QStringLiteral("korvane-panel"));
    m_window->resize(1400, 900);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_FleetWindow::cleanup()
{
    m_window.reset();
    m_model.reset();
    QApplication::setPalette(m_palette);
}

void tst_FleetWindow::publish(const QString &name, const QByteArray &json)
{
    QVERIFY(m_model->take(QStringLiteral("korvane/%1/status").arg(name), "online"));
    QVERIFY(m_model->take(QStringLiteral("korvane/%1/state").arg(name), json));
}

void tst_FleetWindow::tilesInOrderWithWords()
{
    publish(QStringLiteral("quiet"), stateJson(m_now, "NO_ALARM"));
    publish(QStringLiteral("hot"), stateJson(m_now, "MAJOR"));
    publish(QStringLiteral("warm"), stateJson(m_now, "MINOR"));
    publish(QStringLiteral("old"), stateJson(m_now - 60000, "NO_ALARM"));
    QCOMPARE(m_window->shown(), QStringList({"old", "hot", "warm", "quiet"}));
    const QString hot = tile("hot")->accessibleName();
    for (const char *words : {"hot",
                              "700136A",
                              "MAJOR",
                              "Agent online",
                              "Amplifier answering",
                              "no fault",
                              "RF on",
                              "Power A 10.5 W, B 11.0 W, C 12.0 W",
                              "Cell 1 31.0 of 60 °C",
                              "Driver 33.0 of 70 °C",
                              "Worst alarm MAJOR, 1 not acknowledged",
                              "Lease held by ops-desk"})
        QVERIFY2(hot.contains(QString::fromUtf8(words)), qPrintable(hot));
    QVERIFY(!hot.contains(QLatin1String("Not live")));
    const QString old = tile("old")->accessibleName();
    QVERIFY2(old.contains(QLatin1String("STALE"))
                 && old.contains(QLatin1String("Not live: last state made 60 s ago")),
             qPrintable(old));
    // The broker gone: every tile says so.
    m_model->setBrokerConnected(false);
    for (const QString &name : m_window->shown())
        QVERIFY(m_window->tileWidget(name)->accessibleName().contains(QLatin1String("NO BROKER")));
}

void tst_FleetWindow::colours_data()
{
    QTest::addColumn<QByteArray>("severity");
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QColor>("colour"); // invalid: the palette's own
    QTest::addColumn<bool>("dashed");
    QTest::addColumn<QString>("words");

    const QColor amber(0xff, 0xb0, 0x00), red(0xd0, 0x00, 0x00), magenta(0xd0, 0x00, 0xd0);
    QTest::newRow("no alarm") << QByteArray("NO_ALARM") << qint64(0) << true << QColor() << false
                              << "OK";
    QTest::newRow("minor") << QByteArray("MINOR") << qint64(0) << true << amber << false << "MINOR";
    QTest::newRow("major") << QByteArray("MAJOR") << qint64(0) << true << red << false << "MAJOR";
    QTest::newRow("invalid") << QByteArray("INVALID") << qint64(0) << true << magenta << true
                             << "INVALID";
    QTest::newRow("not answering")
        << QByteArray("NO_ALARM") << qint64(0) << false << magenta << true << "NOT ANSWERING";
    QTest::newRow("stale major") << QByteArray("MAJOR") << qint64(5000) << true << magenta << true
                                 << "STALE";
}

void tst_FleetWindow::colours()
{
    QFETCH(QByteArray, severity);
    QFETCH(qint64, ageMs);
    QFETCH(bool, up);
    QFETCH(QColor, colour);
    QFETCH(bool, dashed);
    QFETCH(QString, words);
    publish(QStringLiteral("lab1"), stateJson(m_now - ageMs, severity.constData(), up));
    TileWidget *widget = tile("lab1");
    QCOMPARE(widget->isDashed(), dashed);
    QVERIFY(widget->accessibleName().contains(words));
    QLabel *headline = nullptr;
    for (QLabel *label : widget->findChildren<QLabel *>()) {
        if (label->text() == words)
            headline = label;
    }
    QVERIFY(headline);
    const QImage shot = headline->grab().toImage();
    const QColor background = shot.pixelColor(2, 2);
    QCOMPARE(background, colour.isValid() ? colour : headline->palette().color(QPalette::Window));
    // Its words stand out from it.
    QVERIFY(contrast(headline->palette().color(QPalette::WindowText), background) > 100);
}

void tst_FleetWindow::markupShownAsText()
{
    publish(QStringLiteral("<b>lab&amp;\u202e<i>"), stateJson(m_now, "NO_ALARM"));
    TileWidget *widget = m_window->tileWidget(QStringLiteral("<b>lab&amp;\u202e<i>"));
    QVERIFY(widget);
    bool found = false;
    for (QLabel *label : widget->findChildren<QLabel *>()) {
        QCOMPARE(label->textFormat(), Qt::PlainText);
        found = found || label->text().startsWith(QStringLiteral("<b>lab&amp;\uFFFD<i>"));
    }
    QVERIFY(found);
}

void tst_FleetWindow::filter()
{
    publish(QStringLiteral("lab-a"), stateJson(m_now, "NO_ALARM"));
    publish(QStringLiteral("lab-b"), stateJson(m_now, "MINOR"));
    publish(QStringLiteral("bench"), stateJson(m_now, "NO_ALARM"));
    auto *text = m_window->findChild<QLineEdit *>();
    auto *onlyAlarms = m_window->findChild<QCheckBox *>();
    QVERIFY(text && onlyAlarms);
    QTest::keyClicks(text, QStringLiteral("LAB"));
    QCOMPARE(m_window->shown(), QStringList({"lab-b", "lab-a"}));
    onlyAlarms->setChecked(true);
    QCOMPARE(m_window->shown(), QStringList({"lab-b"}));
    // A tile that goes into alarm joins at once.
    publish(QStringLiteral("lab-a"), stateJson(m_now, "MAJOR"));
    QCOMPARE(m_window->shown(), QStringList({"lab-a", "lab-b"}));
    text->clear();
    onlyAlarms->setChecked(false);
    QCOMPARE(m_window->shown().size(), 3);
}

void tst_FleetWindow::keyboardWalk()
{
    for (int i = 0; i < 6; ++i)
        publish(QStringLiteral("amp%1").arg(i), stateJson(m_now, "NO_ALARM"));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    tile("amp0")->setFocus();
    QTRY_VERIFY(tile("amp0")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTRY_VERIFY(tile("amp1")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTRY_VERIFY(tile("amp0")->hasFocus());
    // Tab goes on to the tile's buttons, the enabled ones, then to the next tile.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(qobject_cast<QPushButton *>(QApplication::focusWidget()));
    QCOMPARE(QApplication::focusWidget()->parentWidget(), tile("amp0"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(tile("amp1")->hasFocus());
}

void tst_FleetWindow::openPanel()
{
    // A stand-in for the panel that writes down how it was started.
    QTemporaryDir folder;
    const QString panel = folder.filePath(QStringLiteral("panel"));
    const QString said = folder.filePath(QStringLiteral("arguments"));
    QFile script(panel);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"$@\" > " + said.toUtf8() + ".part && mv " + said.toUtf8()
                 + ".part " + said.toUtf8() + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    FleetWindow window(m_model.get(), panel);
    publish(QStringLiteral("lab1"), stateJson(m_now, "NO_ALARM"));
    QPushButton *open = nullptr;
    for (QPushButton *button :
         window.tileWidget(QStringLiteral("lab1"))->findChildren<QPushButton *>()) {
        if (button->text() == QLatin1String("Open panel"))
            open = button;
    }
    QVERIFY(open && open->isEnabled());
    open->click();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(said), 10000);
    QFile arguments(said);
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    QCOMPARE(arguments.readAll(), QByteArray("--connect 127.0.0.1:1 --agent\n"));
}

void tst_FleetWindow::refusalShownWithReason_data()
{
    QTest::addColumn<bool>("tls"); // the window told to speak TLS to the agents
    QTest::addColumn<QString>("shown");

    QTest::newRow("the agent's reason")
        << false << QStringLiteral("ack failed: refused: observers may not <b>ack</b>");
    // Its answer in the clear is no TLS handshake: nothing is asked in the clear either.
    QTest::newRow("an agent that speaks no TLS")
        << true << QStringLiteral("ack failed: cannot reach the agent at 127.0.0.1:");
}

// Acknowledging at an agent that refuses: the tile says so, with the agent's reason.
void tst_FleetWindow::refusalShownWithReason()
{
    QFETCH(bool, tls);
    QFETCH(QString, shown);
    if (tls)
        m_window->useAgentTls(TlsFiles());
    QTcpServer agent;
    QVERIFY(agent.listen(QHostAddress::LocalHost));
    QByteArray asked;
    connect(&agent, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *client = agent.nextPendingConnection();
        connect(client, &QTcpSocket::readyRead, client, [&asked, client] {
            asked += client->readAll();
            if (asked.count('\n') == 2 || !asked.startsWith('@'))
                client->write(
                    Extension::frame(QStringLiteral("hello"))
                    + Extension::frame(QStringLiteral("error"),
                                       {{QStringLiteral("command"), QStringLiteral("ack")},
                                        {QStringLiteral("reason"),
                                         QStringLiteral("observers may not <b>ack</b>")}}));
        });
    });
    QJsonObject state = QJsonDocument::fromJson(stateJson(m_now, "MAJOR")).object();
    state.insert(QStringLiteral("advertise"),
                 QStringLiteral("127.0.0.1:%1").arg(agent.serverPort()));
    publish(QStringLiteral("lab1"), QJsonDocument(state).toJson(QJsonDocument::Compact));
    TileWidget *widget = tile("lab1");
    QPushButton *acknowledge = nullptr;
    for (QPushButton *button : widget->findChildren<QPushButton *>()) {
        if (button->text() == QLatin1String("Acknowledge"))
            acknowledge = button;
    }
    QVERIFY(acknowledge && acknowledge->isEnabled());
    acknowledge->click();
    const auto said = [widget] {
        for (QLabel *label : widget->findChildren<QLabel *>()) {
            if (label->text().startsWith(QLatin1String("ack failed")))
                return label->text();
        }
        return QString();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(said().startsWith(shown), qPrintable(said()), 10000);
    if (tls)
        QVERIFY(!asked.contains("@ack"));
    else
        QCOMPARE(asked, QByteArray("@hello\r\n@ack {\"alarm\":\"all\"}\r\n"));
}

void tst_FleetWindow::shelveDialog()
{
    ShelveDialog dialog(QStringLiteral("lab1"),
                        {QStringLiteral("power_a"), QStringLiteral("fault")});
    auto *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    // No reason, no shelve: the agent journals why.
    QVERIFY(!ok->isEnabled());
    QTest::keyClicks(dialog.findChild<QLineEdit *>(), QStringLiteral("probe on A"));
    QVERIFY(ok->isEnabled());
    QCOMPARE(dialog.request(),
             (QJsonObject{{"alarm", "power_a"}, {"for", 3600}, {"reason", "probe on A"}}));
}

void tst_FleetWindow::darkPalette()
{
    QPalette dark;
    for (const auto role : {QPalette::Window, QPalette::Button, QPalette::Base})
        dark.setColor(role, QColor(40, 40, 40));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, Qt::white);
    QApplication::setPalette(dark);
    publish(QStringLiteral("quiet"), stateJson(m_now, "NO_ALARM"));
    publish(QStringLiteral("hot"), stateJson(m_now, "MAJOR"));
    for (const char *name : {"quiet", "hot"}) {
        for (QLabel *label : tile(name)->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            const QImage shot = label->grab().toImage();
            const QColor text = label->palette().color(QPalette::WindowText);
            const QColor background = label->autoFillBackground()
                                          ? label->palette().color(QPalette::Window)
                                          : tile(name)->palette().color(QPalette::Window);
            QVERIFY2(contrast(text, background) > 100, qPrintable(label->text()));
            QCOMPARE(shot.pixelColor(1, 1), background);
        }
    }
}

void tst_FleetWindow::atScale()
{
    const QByteArray expected = qgetenv("KORVANE_EXPECTED_SCALE");
    publish(QStringLiteral("a-rather-long-amplifier-name-in-the-lab"), stateJson(m_now, "MAJOR"));
    publish(QStringLiteral("old"), stateJson(m_now - 3600000, "MINOR"));
    if (!expected.isEmpty())
        QVERIFY2(qAbs(m_window->devicePixelRatioF() - expected.toDouble()) < 0.01,
                 qPrintable(QString::number(m_window->devicePixelRatioF())));
    QApplication::processEvents();
    // Every line fits its tile, wrapped rather than cut, and every button its text.
    for (const QString &name : m_window->shown()) {
        TileWidget *widget = m_window->tileWidget(name);
        QVERIFY(widget->height() >= widget->minimumSizeHint().height());
        for (QLabel *label : widget->findChildren<QLabel *>()) {
            if (label->isVisible())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->text()));
        }
        for (QPushButton *button : widget->findChildren<QPushButton *>())
            QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
    }
}

int main(int argc, char *argv[])
{
    // As korvane-fleet starts: scaled with the screen.
    App::enableHighDpiScaling();
    QApplication application(argc, argv);
    tst_FleetWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fleetwindow.moc"
