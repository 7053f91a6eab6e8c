// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/form4.h"

#include "resources/resources.h"
#include "shell/layoutunits.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QWindow>

namespace voruna {

namespace {

// One line of the description, centred in a box as wide as the window and a little more.
QLabel *makeLine(QWidget *parent, int index, int top, const QString &text, const QFont &font)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("Label1(%1)").arg(index));
    label->setGeometry(twipsRect(0, top, 3495, 255));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFont(font);
    return label;
}

} // namespace

Form4::Form4(QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("About..."));
    setFixedSize(twips(3450), twips(4680));
    // The window has no icon of its own; a blank one keeps window managers from drawing a
    // generic one in its place.
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    setWindowIcon(QIcon(blank));

    // Created first, so it comes first in the tab order, before the picture.
    Command1 = new QPushButton(QStringLiteral("Close"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(1200, 4260, 915, 315));
    Command1->setToolTip(QStringLiteral("Closes this window"));

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipsRect(180, 180, 3015, 1635));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(QPixmap(QString::fromLatin1(resources::kAboutPicture)));
    Picture1->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(Command1, Picture1);

    const QFont regular = arialPixels(kSmallTextPixels);
    Label1_0 = makeLine(this, 0, 2040, QStringLiteral("Voruna 1.1"), arialPixels(13, true, true));
    Label1_1 =
        makeLine(this, 1, 2460, QStringLiteral("Voruna is a utility for use with the"), regular);
    Label1_2 =
        makeLine(this, 2, 2700, QStringLiteral("Nightwell's USB Autoguide Adaptor"), regular);
    Label1_3 = makeLine(this, 3, 3060, QStringLiteral("Written by the Voruna developers"), regular);
    Label1_4 =
        makeLine(this, 4, 3300, QStringLiteral("Video capture through Video4Linux2"), regular);
    Label1_5 = makeLine(this, 5, 3780, QStringLiteral("Software ver 1.1"), regular);

    connect(Command1, &QPushButton::clicked, this, &Form4::Form4_Command1_Click);
}

void Form4::Form4_Command1_Click()
{
    hide();
}

void Form4::hideEvent(QHideEvent *event)
{
    // Hidden, the window keeps its place: shown again, it goes back where the user left it.
    // A place set by the program is one the window manager keeps at the next showing, rather
    // than placing the window as a new one.
    if (QWindow *window = windowHandle())
        window->setFramePosition(window->framePosition());
    QWidget::hideEvent(event);
}

void Form4::closeEvent(QCloseEvent *event)
{
    // Closing through the close box unloads the window rather than hiding it; the owner does
    // the unloading, so the window itself stays untouched here.
    event->ignore();
    Q_EMIT closeBoxUsed();
}

} // namespace voruna
