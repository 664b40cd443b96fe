#include "aboutform.h"

#include <QCoreApplication>
#include <QFile>
#include <QPixmap>

namespace {

const char MakerAddress[] = "www.orvane.com";
const char LicenceAddress[] = "https://www.gnu.org/licenses/lgpl-3.0.html";

// Paragraphs keep their spaces, so the leading blanks of a line show as written.
const char ParagraphStyle[] = "margin-top:%1px; margin-bottom:%2px; margin-left:0px; "
                              "margin-right:0px; -qt-block-indent:0; text-indent:0px; "
                              "white-space:pre-wrap;";

// One paragraph per line; edgeMargin sets the space above the first and below the last.
QString richText(const QStringList &lines,
                 const char *bodyStyle,
                 const char *spanStyle,
                 int edgeMargin = 0)
{
    QString html = QStringLiteral("<html><head><meta name=\"qrichtext\" content=\"1\" /></head>"
                                  "<body style=\"%1\">")
                       .arg(QLatin1String(bodyStyle));
    for (int i = 0; i < lines.size(); ++i) {
        const QString style = QString::fromLatin1(ParagraphStyle)
                                  .arg(i == 0 ? edgeMargin : 0)
                                  .arg(i == lines.size() - 1 ? edgeMargin : 0);
        const QString &line = lines.at(i);
        if (line.isEmpty()) {
            html += QStringLiteral("<p style=\"-qt-paragraph-type:empty; %1\"><br /></p>").arg(style);
        } else if (spanStyle) {
            html += QStringLiteral("<p style=\"%1\"><span style=\"%2\">%3</span></p>")
                        .arg(style, QLatin1String(spanStyle), line.toHtmlEscaped());
        } else {
            html += QStringLiteral("<p style=\"%1\">%2</p>").arg(style, line.toHtmlEscaped());
        }
    }
    return html + QStringLiteral("</body></html>");
}

QLabel *makeIcon(QWidget *parent, const char *name, QRect rect, const char *picture)
{
    auto *icon = new QLabel(parent);
    icon->setObjectName(QString::fromLatin1(name));
    icon->setGeometry(rect);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    icon->setSizePolicy(policy);
    icon->setFrameShape(QFrame::NoFrame);
    icon->setPixmap(QPixmap(QString::fromLatin1(picture)));
    icon->setScaledContents(true);
    return icon;
}

QLabel *makeTextLabel(QWidget *parent, const char *name, QRect rect, const QFont &font)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    label->setFont(font);
    label->setFrameShape(QFrame::NoFrame);
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::TextSelectableByKeyboard
                                   | Qt::TextSelectableByMouse);
    return label;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("about", text, nullptr);
}

} // namespace

QString licenceText()
{
    QFile file(QStringLiteral(":/licence/LGPL-3"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString licenceDocument(const QString &plainText)
{
    QStringList lines = plainText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the newline that ends the file opens no line of its own
    return richText(lines,
                    "font-family:'MS Shell Dlg 2'; font-size:8.25pt; font-weight:400; "
                    "font-style:normal;",
                    "font-family:'Courier New,courier'; font-size:8pt; color:#000000;",
                    12);
}

void AboutForm::setup(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("about"));
    dialog->resize(550, 351);

    QFont textFont;
    textFont.setPointSize(10);
    textFont.setBold(false);
    textFont.setWeight(50);

    label = makeTextLabel(dialog, "label", QRect(120, 0, 431, 61), textFont);
    LicenseTB = new QTextEdit(dialog);
    LicenseTB->setObjectName(QStringLiteral("LicenseTB"));
    LicenseTB->setGeometry(QRect(0, 140, 541, 201));
    LicenseTB->setReadOnly(true);
    OrvaneIcon = makeIcon(dialog, "OrvaneIcon", QRect(10, 10, 100, 45), ":/images/Logo.png");
    label_2 = makeTextLabel(dialog, "label_2", QRect(120, 70, 431, 51), textFont);
    label_2->setWordWrap(true);
    GNUIcon = makeIcon(dialog, "GNUIcon", QRect(10, 80, 100, 35), ":/images/lgplv3-147x51.png");

    retranslate(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void AboutForm::retranslate(QDialog *dialog)
{
    const char *const body = "font-family:'MS Shell Dlg 2'; font-size:10pt; font-weight:400; "
                             "font-style:normal;";
    dialog->setWindowTitle(tr("About"));
    label->setText(
        richText({tr("Orvane Korvane Driver 700140A Software V 0.5"),
                  tr("  Supported Models: 700122A, 700136A"),
                  tr("For more information please visit: ") + QLatin1String(MakerAddress)},
                 body,
                 nullptr));
    label_2->setText(richText({tr("This program uses the Qt toolkit under the GNU Lesser General "
                                  "Public License version 3, shown below and published at ")
                               + QLatin1String(LicenceAddress)},
                              body,
                              nullptr));
    LicenseTB->setHtml(licenceDocument(licenceText()));
}
