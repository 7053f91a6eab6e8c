// SPDX-License-Identifier: GPL-3.0-or-later
// Draws Voruna's pictures (window icon, desktop icons, slew arrows, About picture) and writes
// them into the folder named on the command line. The results are kept in resources/; run
// scripts/draw-resources after changing a drawing here.
//
//   voruna-draw-resources <output folder>

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>
#include <QTextStream>

#include <cmath>
#include <cstdint>
#include <random>

namespace {

// The sixteen colours of the standard Windows icon palette, in their usual order.
const QList<QRgb> kPalette16 = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};
constexpr int kBlack16 = 0;
constexpr int kGrey16 = 8;

const QColor kReticleRed(128, 0, 0);

// One image of an icon file: palette indices plus the pixels that stay transparent.
struct IconImage {
    QImage indices;       // Format_Indexed8; its colour table is the palette written
    QImage transparent;   // Indexed8 of the same size: 1 where the pixel is transparent
    int bitsPerPixel = 8; // 4 or 8
};

void putU16(QByteArray &out, unsigned v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void putU32(QByteArray &out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xff));
}

int rowStride(int width, int bitsPerPixel)
{
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

// The header and palette of one icon entry's bitmap.
QByteArray dibHeader(const IconImage &img, int imageBytes)
{
    QByteArray out;
    putU32(out, 40);
    putU32(out, std::uint32_t(img.indices.width()));
    putU32(out, std::uint32_t(2 * img.indices.height())); // colour rows and mask rows together
    putU16(out, 1);
    putU16(out, unsigned(img.bitsPerPixel));
    putU32(out, 0);
    putU32(out, std::uint32_t(imageBytes));
    for (int i = 0; i < 4; ++i)
        putU32(out, 0);

    const QList<QRgb> table = img.indices.colorTable();
    for (int i = 0; i < 1 << img.bitsPerPixel; ++i) {
        const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append(char(0));
    }
    return out;
}

// The bitmap of one icon entry: header, palette, colour rows and the AND mask, bottom-up.
QByteArray encodeDib(const IconImage &img)
{
    const int w = img.indices.width();
    const int h = img.indices.height();
    const int bpp = img.bitsPerPixel;
    const int xorStride = rowStride(w, bpp);
    const int andStride = rowStride(w, 1);

    QByteArray out = dibHeader(img, (xorStride + andStride) * h);
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(xorStride, '\0');
        for (int x = 0; x < w; ++x) {
            const int index = img.transparent.pixelIndex(x, y) ? 0 : img.indices.pixelIndex(x, y);
            if (bpp == 8)
                row[x] = char(index);
            else
                row[x / 2] = char(row[x / 2] | (x % 2 ? index : index << 4));
        }
        out.append(row);
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(andStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (img.transparent.pixelIndex(x, y))
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

// A whole .ico file. Qt's own ICO writer stores a single 32-bit image, so the palette
// images are encoded here.
QByteArray encodeIco(const QList<IconImage> &images)
{
    QList<QByteArray> dibs;
    for (const IconImage &img : images)
        dibs.append(encodeDib(img));

    QByteArray out;
    putU16(out, 0);
    putU16(out, 1);
    putU16(out, unsigned(images.size()));
    std::uint32_t offset = 6 + 16 * std::uint32_t(images.size());
    for (int i = 0; i < images.size(); ++i) {
        const IconImage &img = images[i];
        out.append(char(img.indices.width() & 0xff));
        out.append(char(img.indices.height() & 0xff));
        out.append(char(img.bitsPerPixel < 8 ? 1 << img.bitsPerPixel : 0));
        out.append(char(0));
        putU16(out, 1);
        putU16(out, unsigned(img.bitsPerPixel));
        putU32(out, std::uint32_t(dibs[i].size()));
        putU32(out, offset);
        offset += std::uint32_t(dibs[i].size());
    }
    for (const QByteArray &dib : dibs)
        out.append(dib);
    return out;
}

QImage blankIndexed(int size, const QList<QRgb> &palette)
{
    QImage img(size, size, QImage::Format_Indexed8);
    img.setColorTable(palette);
    img.fill(0);
    return img;
}

// The desktop icon's figure on a 256-unit square: a round face, the reticle's two circles and
// its cross, which stops short of the rim.
struct IconFigure {
    qreal centre = 128;
    qreal face = 122; // radius of the face, rim included
    qreal rim = 4;
    qreal outer = 98;
    qreal inner = 50;
    qreal ring = 14;
    qreal line = 9;
    qreal lineFrom = 20;
    qreal lineTo = 236;
    QRgb faceColour = qRgb(255, 255, 255);
    QRgb rimColour = qRgb(150, 150, 150);
};

// The reticle: two concentric circles crossed by a vertical and a horizontal line, in dark
// red on white, antialiased. Used for the window icon.
QImage drawReticle(int size)
{
    QImage img(size, size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal c = size / 2.0;
    const qreal ring = size / 16.0;
    p.setPen(QPen(kReticleRed, ring));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(c, c), size * 0.42, size * 0.42);
    p.drawEllipse(QPointF(c, c), size * 0.21, size * 0.21);
    p.setPen(QPen(kReticleRed, std::max(2.0, size / 32.0), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(c, size * 0.03), QPointF(c, size * 0.97));
    p.drawLine(QPointF(size * 0.03, c), QPointF(size * 0.97, c));
    return img;
}

// Up to this size the desktop icon's strokes are fitted to whole pixels, or they blur.
constexpr int kLargestSnappedIcon = 48;

// A stroke width in pixels: at least one, and whole at the small sizes.
qreal strokePixels(qreal units, qreal scale, bool snap, int multipleOf = 1)
{
    const qreal px = units * scale;
    if (!snap)
        return std::max(px, 1.0);
    return std::max(1.0, std::round(px / multipleOf)) * multipleOf;
}

// A circle's radius in pixels; at the small sizes its stroke then covers whole pixels where
// it crosses the axes.
qreal radiusPixels(qreal units, qreal scale, qreal stroke, bool snap)
{
    const qreal px = units * scale;
    return snap ? std::round(px - stroke / 2) + stroke / 2 : px;
}

// The desktop icon at one size: the reticle on a round white face with a grey rim, the ground
// around it transparent, so that it reads on light and dark panels alike. The SVG below draws
// the same figure.
QImage drawDesktopIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const IconFigure f;
    const qreal k = size / 256.0;
    const bool snap = size <= kLargestSnappedIcon;
    const QPointF c(f.centre * k, f.centre * k);

    const qreal rim = strokePixels(f.rim, k, snap);
    p.setPen(QPen(QColor(f.rimColour), rim));
    p.setBrush(QColor(f.faceColour));
    const qreal face = radiusPixels(f.face - f.rim / 2, k, rim, snap);
    p.drawEllipse(c, face, face);

    const qreal ring = strokePixels(f.ring, k, snap);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kReticleRed, ring));
    // A one-pixel ring fitted to the pixel grid breaks into dots; it is left smooth.
    const bool snapRings = snap && ring > 1;
    const qreal outer = radiusPixels(f.outer, k, ring, snapRings);
    const qreal inner = radiusPixels(f.inner, k, ring, snapRings);
    p.drawEllipse(c, outer, outer);
    p.drawEllipse(c, inner, inner);

    // An even width keeps the cross on whole pixels about the centre of an even-sized icon.
    p.setPen(QPen(kReticleRed, strokePixels(f.line, k, snap, 2), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(c.x(), f.lineFrom * k), QPointF(c.x(), f.lineTo * k));
    p.drawLine(QPointF(f.lineFrom * k, c.y()), QPointF(f.lineTo * k, c.y()));
    return img;
}

QString svgNumber(qreal v)
{
    return QString::number(v, 'g', 6);
}

// The scalable desktop icon, the same figure as drawDesktopIcon().
QByteArray desktopIconSvg()
{
    const IconFigure f;
    const QString c = svgNumber(f.centre);
    const QString red = kReticleRed.name();
    QString svg;
    QTextStream s(&svg);
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
         "viewBox=\"0 0 256 256\">\n"
      << "  <circle cx=\"" << c << "\" cy=\"" << c << "\" r=\"" << svgNumber(f.face - f.rim / 2)
      << "\" fill=\"" << QColor(f.faceColour).name() << "\" stroke=\"" << QColor(f.rimColour).name()
      << "\" stroke-width=\"" << svgNumber(f.rim) << "\"/>\n"
      << "  <g fill=\"none\" stroke=\"" << red << "\" stroke-width=\"" << svgNumber(f.ring)
      << "\">\n"
      << "    <circle cx=\"" << c << "\" cy=\"" << c << "\" r=\"" << svgNumber(f.outer) << "\"/>\n"
      << "    <circle cx=\"" << c << "\" cy=\"" << c << "\" r=\"" << svgNumber(f.inner) << "\"/>\n"
      << "  </g>\n"
      << "  <path d=\"M " << c << " " << svgNumber(f.lineFrom) << " V " << svgNumber(f.lineTo)
      << " M " << svgNumber(f.lineFrom) << " " << c << " H " << svgNumber(f.lineTo)
      << "\" stroke=\"" << red << "\" stroke-width=\"" << svgNumber(f.line)
      << "\" fill=\"none\"/>\n"
      << "</svg>\n";
    s.flush();
    return svg.toUtf8();
}

// The 256-colour window icon. Its palette runs from white to the reticle's red, so every
// antialiased shade of the drawing has an entry of its own.
IconImage reticleIcon()
{
    QList<QRgb> ramp;
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        ramp.append(qRgb(int(std::lround(255 + (kReticleRed.red() - 255) * t)),
                         int(std::lround(255 * (1 - t))), int(std::lround(255 * (1 - t)))));
    }
    const QImage drawn = drawReticle(32);
    IconImage icon{blankIndexed(32, ramp), blankIndexed(32, {0, 1}), 8};
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x)
            icon.indices.setPixel(x, y, uint(255 - qGreen(drawn.pixel(x, y))));
    }
    return icon;
}

enum class Direction { Up, Down, Left, Right };

// True when the point (u, v) of the unit square lies on an arrow pointing upwards.
bool onUpArrow(double u, double v)
{
    const double headBase = 0.54;
    if (v >= headBase && v <= 0.94)
        return u >= 0.30 && u <= 0.70;
    if (v < 0.05 || v > headBase)
        return false;
    const double halfWidth = 0.45 * (v - 0.05) / (headBase - 0.05);
    return std::abs(u - 0.5) <= halfWidth;
}

bool onArrow(Direction d, double u, double v)
{
    switch (d) {
    case Direction::Up:
        return onUpArrow(u, v);
    case Direction::Down:
        return onUpArrow(u, 1 - v);
    case Direction::Left:
        return onUpArrow(v, u);
    case Direction::Right:
        return onUpArrow(v, 1 - u);
    }
    return false;
}

// A broad black arrow whose outermost pixels are grey; everything else is transparent.
IconImage arrowImage(Direction d, int size)
{
    IconImage img{blankIndexed(size, kPalette16), blankIndexed(size, {0, 1}), 4};
    auto inside = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= size || y >= size)
            return false;
        return onArrow(d, (x + 0.5) / size, (y + 0.5) / size);
    };
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (!inside(x, y)) {
                img.transparent.setPixel(x, y, 1);
                continue;
            }
            const bool edge =
                !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
            img.indices.setPixel(x, y, uint(edge ? kGrey16 : kBlack16));
        }
    }
    return img;
}

void drawTelescope(QPainter &p)
{
    const QColor ink(6, 6, 12);
    p.setPen(QPen(ink, 2.2, Qt::SolidLine, Qt::RoundCap));
    // tripod legs from the mount head down to the hillside
    p.drawLine(QPointF(62, 72), QPointF(46, 101));
    p.drawLine(QPointF(62, 72), QPointF(78, 101));
    p.drawLine(QPointF(62, 72), QPointF(63, 100));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(58, 64, 8, 9)); // mount head
    // the tube, aimed up and to the right at the guide star
    p.save();
    p.translate(62, 62);
    p.rotate(-25);
    p.drawRoundedRect(QRectF(-24, -5, 62, 10), 2, 2);
    p.drawRect(QRectF(36, -6.5, 9, 13));  // dew shield
    p.drawRect(QRectF(-30, -2.5, 7, 5));  // focuser
    p.drawRect(QRectF(-36, -4, 7, 8));    // guide camera
    p.drawRect(QRectF(-6, -10, 20, 3.5)); // finder
    p.restore();
}

void drawStars(QPainter &p, int width, int height)
{
    std::mt19937 rng(20061101u); // fixed seed: the same sky on every run
    for (int i = 0; i < 190; ++i) {
        const double x = rng() % (width * 10) / 10.0;
        const double y = rng() % (height * 8) / 10.0;
        const int brightness = 90 + int(rng() % 166);
        const int tint = int(rng() % 3);
        const QColor c(tint == 1 ? brightness : brightness * 9 / 10, brightness * 19 / 20,
                       tint == 2 ? brightness : brightness * 9 / 10);
        const double r = rng() % 7 == 0 ? 0.9 : 0.5;
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QPointF(x, y), r, r);
    }
}

void drawGuideStar(QPainter &p, QPointF at)
{
    QRadialGradient glow(at, 6);
    glow.setColorAt(0, QColor(255, 255, 240, 255));
    glow.setColorAt(0.25, QColor(255, 240, 200, 170));
    glow.setColorAt(1, QColor(120, 150, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(at, 6, 6);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(235, 50, 50), 1));
    p.drawEllipse(at, 8, 8);
    p.drawLine(at + QPointF(-13, 0), at + QPointF(-5, 0));
    p.drawLine(at + QPointF(5, 0), at + QPointF(13, 0));
    p.drawLine(at + QPointF(0, -13), at + QPointF(0, -5));
    p.drawLine(at + QPointF(0, 5), at + QPointF(0, 13));
}

// The About picture: a telescope on a hill under the night sky, aimed at a guide star held
// in a red reticle.
QImage drawAboutPicture()
{
    const int w = 200;
    const int h = 107;
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(4, 6, 26));
    sky.setColorAt(0.65, QColor(16, 26, 70));
    sky.setColorAt(1, QColor(52, 46, 92));
    p.fillRect(img.rect(), sky);

    // a faint band of the Milky Way across the sky
    p.save();
    p.translate(100, 40);
    p.rotate(-18);
    QLinearGradient band(0, -16, 0, 16);
    band.setColorAt(0, QColor(120, 130, 190, 0));
    band.setColorAt(0.5, QColor(120, 130, 190, 46));
    band.setColorAt(1, QColor(120, 130, 190, 0));
    p.fillRect(QRectF(-130, -16, 260, 32), band);
    p.restore();

    drawStars(p, w, h);
    drawGuideStar(p, QPointF(148, 22));

    QPainterPath hill;
    hill.moveTo(0, h);
    hill.lineTo(0, 96);
    hill.cubicTo(40, 88, 90, 94, 130, 97);
    hill.cubicTo(160, 99, 185, 92, w, 90);
    hill.lineTo(w, h);
    hill.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(8, 8, 14));
    p.drawPath(hill);

    drawTelescope(p);
    return img;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

bool writeImage(const QString &path, const QImage &img, const char *format, int quality)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && img.save(&file, format, quality) && file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: voruna-draw-resources <output folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists()) {
        err << "voruna-draw-resources: no such folder: " << out.path() << "\n";
        return 1;
    }

    bool ok = writeFile(out.filePath("voruna.ico"), encodeIco({reticleIcon()}));
    ok = out.mkpath(QStringLiteral("icons")) && ok;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString name = QStringLiteral("icons/voruna-%1.png").arg(size);
        ok = writeImage(out.filePath(name), drawDesktopIcon(size), "PNG", -1) && ok;
    }
    ok = writeFile(out.filePath("icons/voruna.svg"), desktopIconSvg()) && ok;
    const struct {
        const char *name;
        Direction direction;
    } arrows[] = {{"arrow-up.ico", Direction::Up},
                  {"arrow-down.ico", Direction::Down},
                  {"arrow-left.ico", Direction::Left},
                  {"arrow-right.ico", Direction::Right}};
    for (const auto &a : arrows) {
        const QByteArray ico =
            encodeIco({arrowImage(a.direction, 32), arrowImage(a.direction, 16)});
        ok = writeFile(out.filePath(QString::fromLatin1(a.name)), ico) && ok;
    }
    ok = writeImage(out.filePath("about.jpg"), drawAboutPicture(), "JPEG", 92) && ok;

    if (!ok) {
        err << "voruna-draw-resources: could not write every picture into " << out.path() << "\n";
        return 1;
    }
    return 0;
}
