// Draws the panel's images (lamps, status icons, arrows, logo, badge) into the directory given
// as the only argument.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>
#include <QTextStream>
#include <QTransform>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

const QString FontFamily = QStringLiteral("DejaVu Sans");
const QColor HelpBlue(0x1f, 0x66, 0xc8);
const QColor IconDark(0x1c, 0x22, 0x2b);
const QColor IconLight(0xe8, 0xf4, 0xff);

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
}

// Outline of the text scaled to fill as much of the box as its shape allows, centred on the
// glyphs' own bounds rather than the font's line box so that single symbols sit in the middle.
QPainterPath fittedText(const QString &text, const QRectF &box)
{
    QFont font(FontFamily);
    font.setBold(true);
    font.setPixelSize(200);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF bounds = path.boundingRect();
    const qreal scale = std::min(box.width() / bounds.width(), box.height() / bounds.height());
    QTransform transform;
    transform.translate(box.center().x(), box.center().y());
    transform.scale(scale, scale);
    transform.translate(-bounds.center().x(), -bounds.center().y());
    return transform.map(path);
}

void drawShadedDisc(QPainter &painter, const QPointF &centre, qreal radius, const QColor &colour)
{
    QRadialGradient fill(centre, radius, centre - QPointF(radius * 0.3, radius * 0.35));
    fill.setColorAt(0.0, colour.lighter(130));
    fill.setColorAt(0.75, colour);
    fill.setColorAt(1.0, colour.darker(140));
    painter.setPen(QPen(colour.darker(180), radius * 0.04));
    painter.setBrush(fill);
    painter.drawEllipse(centre, radius, radius);
}

QImage lamp(const QColor &colour)
{
    QImage image = blankImage(300, 300);
    QPainter painter(&image);
    prepare(painter);
    const QPointF centre(150, 150);

    QLinearGradient bezel(0, 0, 0, 300);
    bezel.setColorAt(0.0, QColor(0xd8, 0xd8, 0xd8));
    bezel.setColorAt(1.0, QColor(0x50, 0x50, 0x50));
    painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 4));
    painter.setBrush(bezel);
    painter.drawEllipse(centre, 146, 146);

    QRadialGradient glow(centre, 118, centre + QPointF(-25, -30));
    glow.setColorAt(0.0, colour.lighter(150));
    glow.setColorAt(0.6, colour);
    glow.setColorAt(1.0, colour.darker(200));
    painter.setPen(QPen(colour.darker(250), 4));
    painter.setBrush(glow);
    painter.drawEllipse(centre, 118, 118);

    // The gloss: a soft white cap over the upper half of the lens.
    QLinearGradient gloss(0, 42, 0, 150);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 220));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gloss);
    painter.drawEllipse(QRectF(72, 42, 156, 108));
    return image;
}

QImage greyLamp()
{
    return lamp(QColor(0x8c, 0x8c, 0x8c));
}

QImage greenLamp()
{
    return lamp(QColor(0x1e, 0xc8, 0x32));
}

QImage redLamp()
{
    return lamp(QColor(0xe0, 0x1e, 0x1e));
}

QImage okIcon()
{
    QImage image = blankImage(256, 256);
    QPainter painter(&image);
    prepare(painter);
    drawShadedDisc(painter, QPointF(128, 128), 120, QColor(0x2e, 0xa0, 0x3c));

    QPainterPath tick;
    tick.moveTo(70, 132);
    tick.lineTo(110, 172);
    tick.lineTo(188, 88);
    painter.setPen(QPen(Qt::white, 30, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
    return image;
}

QImage errorIcon()
{
    QImage image = blankImage(512, 512);
    QPainter painter(&image);
    prepare(painter);
    drawShadedDisc(painter, QPointF(256, 256), 240, QColor(0xd0, 0x20, 0x20));

    painter.setPen(QPen(Qt::white, 64, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(160, 160), QPointF(352, 352));
    painter.drawLine(QPointF(352, 160), QPointF(160, 352));
    return image;
}

QImage rightArrow()
{
    QImage image = blankImage(527, 527);
    QPainter painter(&image);
    prepare(painter);

    QPainterPath arrow;
    arrow.moveTo(30, 190);
    arrow.lineTo(270, 190);
    arrow.lineTo(270, 60);
    arrow.lineTo(497, 263.5);
    arrow.lineTo(270, 467);
    arrow.lineTo(270, 337);
    arrow.lineTo(30, 337);
    arrow.closeSubpath();

    QLinearGradient fill(0, 60, 0, 467);
    fill.setColorAt(0.0, QColor(0x4f, 0xc3, 0xe8));
    fill.setColorAt(1.0, QColor(0x13, 0x6f, 0xb0));
    painter.setPen(QPen(QColor(0x0c, 0x3f, 0x6a), 14, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    painter.setBrush(fill);
    painter.drawPath(arrow);
    return image;
}

QImage leftArrow()
{
    return rightArrow().mirrored(true, false);
}

QImage helpIcon()
{
    QImage image = blankImage(527, 550);
    QPainter painter(&image);
    prepare(painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(HelpBlue);
    painter.drawEllipse(QPointF(263.5, 275), 258, 258);
    painter.setBrush(Qt::white);
    painter.drawPath(fittedText(QStringLiteral("?"), QRectF(163.5, 120, 200, 310)));
    return image;
}

QImage windowIcon()
{
    QImage image = blankImage(80, 80);
    QPainter painter(&image);
    prepare(painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(IconDark);
    painter.drawRoundedRect(QRectF(0, 0, 80, 80), 10, 10);

    QPainterPath wave;
    const qreal pi = std::acos(-1.0);
    for (int x = 8; x <= 72; ++x) {
        const qreal y = 40 - 24 * std::sin((x - 8) / 64.0 * 2 * pi);
        if (x == 8)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    painter.setPen(QPen(IconLight, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
    return image;
}

// The emblem: a filled disc carrying one period of a wave, with two arcs radiating from it.
void drawEmblem(QPainter &painter, const QPointF &centre, qreal radius)
{
    const QColor blue(0x13, 0x6f, 0xb0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(blue);
    painter.drawEllipse(centre, radius * 0.62, radius * 0.62);

    QPainterPath wave;
    const qreal half = radius * 0.42;
    wave.moveTo(centre.x() - half, centre.y());
    wave.cubicTo(centre + QPointF(-half * 0.5, -half * 1.3),
                 centre + QPointF(-half * 0.1, -half * 1.3),
                 centre);
    wave.cubicTo(centre + QPointF(half * 0.1, half * 1.3),
                 centre + QPointF(half * 0.5, half * 1.3),
                 centre + QPointF(half, 0));
    painter.setPen(QPen(Qt::white, radius * 0.1, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);

    painter.setPen(QPen(blue, radius * 0.09, Qt::SolidLine, Qt::RoundCap));
    for (const qreal r : {radius * 0.8, radius * 0.97}) {
        const QRectF box(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        // Angles in 1/16 degree: a 100 degree arc on the right-hand side.
        painter.drawArc(box, -50 * 16, 100 * 16);
    }
}

QImage logo()
{
    QImage image = blankImage(566, 254);
    QPainter painter(&image);
    prepare(painter);
    drawEmblem(painter, QPointF(112, 127), 100);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x22, 0x2a, 0x35));
    painter.drawPath(fittedText(QStringLiteral("Orvane"), QRectF(232, 62, 318, 130)));
    return image;
}

QImage lgplBadge()
{
    QImage image = blankImage(147, 51);
    QPainter painter(&image);
    prepare(painter);

    QLinearGradient fill(0, 0, 0, 51);
    fill.setColorAt(0.0, QColor(0xfa, 0xfa, 0xfa));
    fill.setColorAt(1.0, QColor(0xd6, 0xd9, 0xde));
    painter.setPen(QPen(QColor(0x3a, 0x3f, 0x47), 2.5));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(1.5, 1.5, 144, 48), 9, 9);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1e, 0x23, 0x2a));
    painter.drawPath(fittedText(QStringLiteral("LGPLv3"), QRectF(14, 12, 119, 27)));
    return image;
}

// Colours an antialiased drawing in the given inks can take: each ink fading out to
// transparent, and each pair of inks mixed, in a few steps. Enough for smooth edges in a palette
// image without the dither noise of a generic quantiser.
QVector<QRgb> blendPalette(const QVector<QColor> &inks)
{
    const int steps = 16;
    QVector<QRgb> palette{qRgba(0, 0, 0, 0)};
    for (const QColor &ink : inks) {
        for (int i = 1; i <= steps; ++i)
            palette.append(qRgba(ink.red(), ink.green(), ink.blue(), 255 * i / steps));
    }
    for (int a = 0; a < inks.size(); ++a) {
        for (int b = a + 1; b < inks.size(); ++b) {
            for (int i = 1; i < steps; ++i) {
                const auto mix = [&](int from, int to) { return from + (to - from) * i / steps; };
                palette.append(qRgb(mix(inks[a].red(), inks[b].red()),
                                    mix(inks[a].green(), inks[b].green()),
                                    mix(inks[a].blue(), inks[b].blue())));
            }
        }
    }
    return palette;
}

QImage indexed(const QImage &image, const QVector<QColor> &inks)
{
    return image.convertToFormat(QImage::Format_ARGB32)
        .convertToFormat(QImage::Format_Indexed8, blendPalette(inks));
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (image.save(path, "PNG"))
        return true;
    QTextStream(stderr) << "cannot write " << path << '\n';
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: " << argv[0] << " OUTPUT_DIR\n";
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        QTextStream(stderr) << "cannot create " << dir.path() << '\n';
        return 1;
    }

    bool ok = true;
    ok &= save(greyLamp(), dir, QStringLiteral("LED_Grey.png"));
    ok &= save(greenLamp(), dir, QStringLiteral("LED_Green.png"));
    ok &= save(redLamp(), dir, QStringLiteral("LED_Red.png"));
    ok &= save(okIcon(), dir, QStringLiteral("OK.png"));
    ok &= save(errorIcon(), dir, QStringLiteral("Error.png"));
    ok &= save(rightArrow(), dir, QStringLiteral("Arrow.png"));
    ok &= save(leftArrow(), dir, QStringLiteral("Arrow-Left.png"));
    ok &= save(indexed(helpIcon(), {HelpBlue, Qt::white}), dir, QStringLiteral("HelpIcon.png"));
    ok &= save(indexed(windowIcon(), {IconDark, IconLight}),
               dir,
               QStringLiteral("Sine-Wave Inv.png"));
    ok &= save(logo(), dir, QStringLiteral("Logo.png"));
    ok &= save(lgplBadge(), dir, QStringLiteral("lgplv3-147x51.png"));
    return ok ? 0 : 1;
}
