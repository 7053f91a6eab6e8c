// SPDX-License-Identifier: GPL-3.0-or-later
// The guide console's controls, menus and fonts as laid out at design time.
#include "resources/resources.h"
#include "shell/consolesurface.h"
#include "shell/form1.h"
#include "shell/lamp.h"
#include "shell/layoutunits.h"
#include "shell/slewbutton.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>

namespace voruna {

namespace {

SlewButton *makeSlewButton(QWidget *parent, const char *name, const QString &icon,
                           const QString &tip, QRect box)
{
    auto *button = new SlewButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(32, 32));
    button->setToolTip(tip);
    button->setGeometry(box);
    return button;
}

Lamp *makeLamp(QWidget *parent, const char *name, int left, int top, int fill)
{
    auto *lamp = new Lamp(parent);
    lamp->setObjectName(QLatin1String(name));
    lamp->setGeometry(twipsRect(left, top, 195, 195));
    lamp->setFillColor(colorFromRgbInt(fill));
    return lamp;
}

// The stand-in for Arial is a hair wider than Arial on the screens the layout was drawn for;
// narrow the text just enough that it fits its box whole instead of being cut off.
void fitTextToBox(QLabel *label)
{
    QFont font = label->font();
    const int advance = QFontMetrics(font).horizontalAdvance(label->text());
    if (advance > label->width()) {
        font.setStretch(100 * label->width() / advance);
        label->setFont(font);
    }
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QRect box)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(box);
    label->setFont(arialPoints(kSmallTextPoints));
    fitTextToBox(label);
    return label;
}

} // namespace

void Form1::buildLayout()
{
    QWidget *s = m_surface;
    Label1 = makeLabel(s, "Label1", QString(), twipsRect(300, 120, 1875, 435));
    Label1->setFont(arialPoints(15.75, true));
    Label1->setAlignment(Qt::AlignCenter);
    // A single black line around it; the text keeps its own colour.
    Label1->setStyleSheet(QStringLiteral("QLabel#Label1 { border: 1px solid black; }"));
    QPalette purple = Label1->palette();
    purple.setColor(QPalette::WindowText, colorFromRgbInt(12583104));
    Label1->setPalette(purple);
    Label1->setToolTip(QStringLiteral("Shows the direction of the selected slew"));

    Shape2 = makeLamp(s, "Shape2", 1140, 660, kGrey);
    Command1 = makeSlewButton(s, "Command1", QString::fromLatin1(resources::kArrowUp),
                              QStringLiteral("Slew telescope UP"), twipsRect(960, 900, 555, 555));
    Shape4 = makeLamp(s, "Shape4", 180, 1620, kGrey);
    Command3 =
        makeSlewButton(s, "Command3", QString::fromLatin1(resources::kArrowLeft),
                       QStringLiteral("Slew telescope LEFT"), twipsRect(420, 1440, 555, 555));
    Command2 =
        makeSlewButton(s, "Command2", QString::fromLatin1(resources::kArrowRight),
                       QStringLiteral("Slew telescope RIGHT"), twipsRect(1500, 1440, 555, 555));
    Shape3 = makeLamp(s, "Shape3", 2100, 1620, kGrey);
    Command4 =
        makeSlewButton(s, "Command4", QString::fromLatin1(resources::kArrowDown),
                       QStringLiteral("Slew telescope DOWN"), twipsRect(960, 1980, 555, 555));
    Shape5 = makeLamp(s, "Shape5", 1140, 2580, kGrey);

    Label2 = makeLabel(s, "Label2", QStringLiteral("Select Communication Port"),
                       twipsRect(240, 3180, 1935, 195));
    Combo1 = new QComboBox(s);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    // Scrolling past the list must not change the port: the wheel takes no focus (see
    // eventFilter), so it only turns the list that the user has chosen to work in.
    Combo1->setFocusPolicy(Qt::StrongFocus);
    Combo1->setFont(arialPoints(kSmallTextPoints));
    Combo1->setGeometry(twipsRect(240, 3420, 1935, 330));
    Combo1->setEditText(QStringLiteral("Combo1"));
    Combo1->setToolTip(QStringLiteral("Select Communication Port"));

    Command5 = new QPushButton(QStringLiteral("Connect"), s);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->setFont(arialPoints(kSmallTextPoints));
    Command5->setGeometry(twipsRect(240, 3840, 795, 315));
    Command5->setToolTip(QStringLiteral("Try to find the Nightwell's USB Autoguide Adaptor"));

    Label3 = makeLabel(s, "Label3", QStringLiteral("Link:"), twipsRect(1500, 3900, 315, 195));
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label3->setToolTip(
        QStringLiteral("Shows in green when Autoguide Adaptor is found and in red when not"));
    Shape1 = makeLamp(s, "Shape1", 1980, 3900, kBlack);

    // Up, right, left, down, then the port list and Connect.
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Combo1);
    setTabOrder(Combo1, Command5);
}

void Form1::buildMenus()
{
    filenemu = menuBar()->addMenu(QStringLiteral("&File"));
    filenemu->setObjectName(QStringLiteral("filenemu"));
    savesettigsmenu = filenemu->addAction(QStringLiteral("Save Settings"));
    savesettigsmenu->setObjectName(QStringLiteral("savesettigsmenu"));
    bar1 = filenemu->addSeparator();
    bar1->setObjectName(QStringLiteral("bar1"));
    exitmenu = filenemu->addAction(QStringLiteral("Exit"));
    exitmenu->setObjectName(QStringLiteral("exitmenu"));
    videomenu = menuBar()->addAction(QStringLiteral("&Video"));
    videomenu->setObjectName(QStringLiteral("videomenu"));
    aboutmenu = menuBar()->addAction(QStringLiteral("&About..."));
    aboutmenu->setObjectName(QStringLiteral("aboutmenu"));
    bar2 = filenemu->addSeparator();
    bar2->setObjectName(QStringLiteral("bar2"));
    nightmenu = filenemu->addAction(QStringLiteral("Nig&ht mode"));
    nightmenu->setObjectName(QStringLiteral("nightmenu"));
    nightmenu->setCheckable(true);
    nightmenu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
}

} // namespace voruna
