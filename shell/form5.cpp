// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/form5.h"

#include "shell/lamp.h"
#include "shell/layoutunits.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>

namespace voruna {

namespace {

constexpr int kLabelBlue = 12582912;
constexpr int kLabelTeal = 8421376;

QFont comic2625BoldItalic()
{
    return layoutFont({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue")}, 35, true,
                      true);
}

// One piece of the reticle, painted inside its own box: a filled rectangle, a circle outline
// (diameter the smaller side of the box, centred) or a one-pixel line filling the box.
class ReticlePart final : public QWidget {
public:
    enum class Kind { FilledRectangle, Circle, Line };

    ReticlePart(QWidget *parent, const char *name, Kind kind, QColor color, QRect box)
        : QWidget(parent)
        , m_kind(kind)
        , m_color(color)
    {
        setObjectName(QLatin1String(name));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(box);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (m_kind != Kind::Circle) {
            painter.fillRect(rect(), m_color);
            return;
        }
        // The two-pixel outline lies inside the circle's box, like the window's other shapes.
        const int diameter = qMin(width(), height());
        const QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter,
                            diameter);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(m_color, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
    }

private:
    Kind m_kind;
    QColor m_color;
};

// A horizontal or vertical one-pixel line between two points in twips; like the window
// system's lines, it stops one pixel short of its end point.
QWidget *makeLine(QWidget *parent, const char *name, int x1, int y1, int x2, int y2)
{
    const QPoint from(twips(x1), twips(y1));
    const QPoint to(twips(x2), twips(y2));
    const QRect box = from.x() == to.x() ? QRect(from, QSize(1, to.y() - from.y()))
                                         : QRect(from, QSize(to.x() - from.x(), 1));
    return new ReticlePart(parent, name, ReticlePart::Kind::Line, colorFromRgbInt(kRed), box);
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QRect box,
                  const QFont &font)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(box);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(font);
    return label;
}

void setTextColor(QLabel *label, int rgbInt)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colorFromRgbInt(rgbInt));
    label->setPalette(palette);
}

} // namespace

Form5::Form5(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
    , Frame1(new QFrame(this))
    , Timer1(new QTimer(this))
{
    setObjectName(QStringLiteral("Form5"));
    setFixedSize(twips(5775), twips(2475));

    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken); // etched, as a captionless frame
    Frame1->setGeometry(twipsRect(120, 60, 5535, 2295));

    // Created bottom to top: the black square lies beneath the circles and the lines.
    using Kind = ReticlePart::Kind;
    const QColor red = colorFromRgbInt(kRed);
    Shape2 = new ReticlePart(Frame1, "Shape2", Kind::FilledRectangle, Qt::black,
                             twipsRect(240, 180, 1815, 1875));
    Shape1_0 =
        new ReticlePart(Frame1, "Shape1(0)", Kind::Circle, red, twipsRect(180, 360, 1935, 1515));
    Shape1_1 =
        new ReticlePart(Frame1, "Shape1(1)", Kind::Circle, red, twipsRect(660, 660, 975, 915));
    Line1 = makeLine(Frame1, "Line1", 1140, 180, 1140, 2040);
    Line2 = makeLine(Frame1, "Line2", 240, 1140, 2040, 1140);

    Label1 = makeLabel(Frame1, "Label1", QStringLiteral("Voruna"), twipsRect(2700, 240, 2595, 735),
                       comic2625BoldItalic());
    setTextColor(Label1, kGreen);
    const QFont small = arialPixels(kSmallTextPixels);
    // The credits line is 73 pixels wide: room for the maker's name and little else.
    Label2_1 = makeLabel(Frame1, "Label2(1)", QStringLiteral("Voruna team"),
                         twipsRect(4080, 1020, 1095, 255), small);
    Label2_0 = makeLabel(Frame1, "Label2(0)", QStringLiteral("For use with the"),
                         twipsRect(2640, 1440, 1275, 255), small);
    setTextColor(Label2_0, kLabelBlue);
    Label2_3 = makeLabel(Frame1, "Label2(3)", QStringLiteral("Nightwell's USB Autoguide Adaptor"),
                         twipsRect(2640, 1620, 2715, 255), small);
    setTextColor(Label2_3, kLabelBlue);
    Label2_2 = makeLabel(Frame1, "Label2(2)", QStringLiteral("Version 1.1   Nov.2006"),
                         twipsRect(3600, 1920, 1695, 255), small);
    setTextColor(Label2_2, kLabelTeal);

    if (const QScreen *screen = this->screen())
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                 screen->availableGeometry())
                 .topLeft());

    // The timer counts from the moment the window exists.
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(4000);
    Timer1->start();
}

} // namespace voruna
