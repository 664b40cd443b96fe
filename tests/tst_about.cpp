#include "about.h"
#include "aboutform.h"
#include "appstate.h"
#include "formfonts.h"
#include "mainwindow.h"
#include "scratchsettings.h"
#include "screenscaling.h"
#include "serialports.h"

#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

// The about dialog: one per click, each with the product text and the whole licence.
class tst_About : public QObject
{
    Q_OBJECT

public:
    // Before the application object, as the panel's own entry point does.
    static void initMain() { App::enableHighDpiScaling(); }

private slots:
    void initTestCase();
    void eachClickOpensItsOwnDialog();
    void licenceIsThePublishedText();
    void productText();
};

void tst_About::initTestCase()
{
    App::useFormFonts();
    useScratchSettings();
    Platform::setSerialPortProvider([] { return QList<Platform::SerialPortEntry>(); });
}

void tst_About::eachClickOpensItsOwnDialog()
{
    App::resetState();
    MainWindow window;
    window.show();
    auto *aboutButton = window.findChild<QPushButton *>(QStringLiteral("AboutBtn"));
    QVERIFY(aboutButton);
    for (int i = 0; i < 3; ++i)
        aboutButton->click();

    const QList<about *> dialogs = window.findChildren<about *>();
    QCOMPARE(dialogs.size(), 3);
    for (about *dialog : dialogs) {
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("About"));
        QCOMPARE(dialog->size(), QSize(550, 351));
        auto *licence = dialog->findChild<QTextEdit *>(QStringLiteral("LicenseTB"));
        QVERIFY(licence);
        QVERIFY(licence->isReadOnly());
        const QString text = licence->toPlainText();
        QVERIFY(text.startsWith(
            QStringLiteral("                   GNU LESSER GENERAL PUBLIC LICENSE\n")));
        QVERIFY(text.trimmed().endsWith(QStringLiteral("permanent authorization for you to "
                                                       "choose that version for the\nLibrary.")));
        QVERIFY(!dialog->findChild<QLabel *>(QStringLiteral("OrvaneIcon"))
                     ->pixmap(Qt::ReturnByValue)
                     .isNull());
        QVERIFY(!dialog->findChild<QLabel *>(QStringLiteral("GNUIcon"))
                     ->pixmap(Qt::ReturnByValue)
                     .isNull());
    }
    // Closing one leaves the others open; the window is still usable.
    dialogs.first()->close();
    QCOMPARE(window.findChildren<about *>().size(), 3);
    QVERIFY(dialogs.last()->isVisible());
    aboutButton->click();
    QCOMPARE(window.findChildren<about *>().size(), 4);
}

void tst_About::licenceIsThePublishedText()
{
    QFile published(QStringLiteral(":/licence/LGPL-3"));
    QVERIFY(published.open(QIODevice::ReadOnly));
    const QString plain = QString::fromUtf8(published.readAll());
    QVERIFY(plain.contains(QStringLiteral("Version 3, 29 June 2007")));

    QTextEdit shown;
    shown.setHtml(licenceDocument(plain));
    // One paragraph per line, blank lines included, every space kept.
    QStringList lines = plain.split(QLatin1Char('\n'));
    lines.removeLast();
    QCOMPARE(shown.document()->blockCount(), lines.size());
    QCOMPARE(shown.toPlainText(), lines.join(QLatin1Char('\n')));

    const QTextBlock first = shown.document()->firstBlock();
    const QTextBlock last = shown.document()->lastBlock();
    QCOMPARE(first.blockFormat().topMargin(), 12.0);
    QCOMPARE(first.blockFormat().bottomMargin(), 0.0);
    QCOMPARE(last.blockFormat().bottomMargin(), 12.0);
    const QTextCharFormat line = first.begin().fragment().charFormat();
    QCOMPARE(line.fontPointSize(), 8.0);
    QCOMPARE(line.fontFamily(), QStringLiteral("Courier New,courier"));
    // Shown monospaced, in the family Courier New resolves to, so its indents line up.
    const QFontInfo lineFont(line.font());
    QVERIFY(lineFont.fixedPitch());
    QCOMPARE(lineFont.family(), QFontInfo(QFont(QStringLiteral("Courier New"))).family());
    QCOMPARE(lineFont.family(), QStringLiteral("Liberation Mono"));
    QCOMPARE(line.foreground().color(), QColor(Qt::black));
}

void tst_About::productText()
{
    QWidget parent;
    about dialog(&parent);
    auto *product = dialog.findChild<QLabel *>(QStringLiteral("label"));
    QVERIFY(product);
    QVERIFY(!product->openExternalLinks());
    QVERIFY(product->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    QTextEdit rendered;
    rendered.setHtml(product->text());
    const QStringList paragraphs = rendered.toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(paragraphs.size(), 3);
    QCOMPARE(paragraphs.at(0), QStringLiteral("Orvane Korvane Driver 700140A Software V 0.5"));
    QCOMPARE(paragraphs.at(1), QStringLiteral("  Supported Models: 700122A, 700136A"));
    QVERIFY(paragraphs.at(2).startsWith(QStringLiteral("For more information please visit: ")));
    QVERIFY(!product->text().contains(QStringLiteral("<a ")));

    // Both texts fit their places whole.
    QVERIFY(product->sizeHint().width() <= product->width());
    QVERIFY(product->sizeHint().height() <= product->height());
    auto *notice = dialog.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(notice->heightForWidth(notice->width()) <= notice->height());
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
