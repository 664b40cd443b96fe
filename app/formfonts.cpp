#include "formfonts.h"

#include <QApplication>
#include <QFont>

namespace App {

namespace {

// Arial's widths are the form's sizes only where the form names Arial; the default family
// sets the 12-point labels of the right-hand column, which need Arial Narrow's widths to
// fit their places ("Max Cell Temp (C)" in 131 pixels).
const char DefaultFamily[] = "Liberation Sans Narrow";
// The size Qt itself gives widgets on X11 without a desktop theme. A theme's own size, or
// the 12 points of the offscreen platform, would not fit the form's fixed places.
constexpr int DefaultPointSize = 9;

} // namespace

void useFormFonts()
{
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
    QFont::insertSubstitution(QStringLiteral("Courier"), QStringLiteral("Liberation Mono"));
    // The about dialog's rich text names Windows' dialog font; Liberation Sans has the
    // widths of the family it stands for.
    QFont::insertSubstitution(QStringLiteral("MS Shell Dlg 2"), QStringLiteral("Liberation Sans"));

    QFont font = QApplication::font();
    font.setFamily(QLatin1String(DefaultFamily));
    font.setPointSize(DefaultPointSize);
    QApplication::setFont(font);
}

} // namespace App
