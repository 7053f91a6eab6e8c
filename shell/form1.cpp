// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/form1.h"

#include "common/ports.h"
#include "resources/resources.h"
#include "settings/settingsfile.h"
#include "shell/consolesurface.h"
#include "shell/lamp.h"
#include "shell/layoutunits.h"
#include "shell/placement.h"
#include "shell/slewbutton.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

namespace voruna {

namespace {
const QString kNotFound = QStringLiteral("Communication Port not found");
const QString kNotInitialized = QStringLiteral("Communication Port not initialized");
const QString kDetected = QStringLiteral("USB Autoguide Adaptor detected");
const QString kNotSaved = QStringLiteral("Settings could not be saved");
constexpr int kCounterRepaintMs = 16;
} // namespace

Form1::Form1(SerialControl &serial, MessageBoxes &messages, QWidget *parent)
    : QMainWindow(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowCloseButtonHint)
    , MSComm1(serial)
    , m_messages(messages)
    , m_surface(new ConsoleSurface(this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Voruna 1.1"));
    setWindowIcon(QIcon(QString::fromLatin1(resources::kWindowIcon)));
    m_surface->setObjectName(QStringLiteral("surface"));
    m_surface->setFixedSize(twips(2460), twips(4380));
    setCentralWidget(m_surface);
    buildLayout();
    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connectHandlers();
    qApp->installEventFilter(this);
    MSComm1.setGoneHandler([this] { portGone(); });

    adjustSize();
    centreOnScreen(*this);
}

void Form1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Centred at load by its own size; the caption and frame are known only once shown.
    if (!std::exchange(m_shownBefore, true))
        recentreOnceFramed(*this);
}

Form1::~Form1()
{
    qApp->removeEventFilter(this);
    MSComm1.setGoneHandler(nullptr);
    // The list's field reports its last edit as it loses the focus while the window goes: by
    // then there is no console left to handle it.
    Combo1->lineEdit()->disconnect(this);
    Combo1->disconnect(this);
    // However the console goes (Exit, its close box, a signal, the display going away), a
    // movement still held is stopped on its own port before the port closes with the console.
    abandonHeldPad();
    MSComm1.setPortOpen(false);
}

void Form1::connectHandlers()
{
    connect(Combo1, &QComboBox::activated, this, &Form1::Form1_Combo1_Click);
    connect(Combo1, &QComboBox::currentIndexChanged, this, &Form1::Combo1_selectionSettled,
            Qt::QueuedConnection);
    connect(Combo1->lineEdit(), &QLineEdit::editingFinished, this, &Form1::Combo1_textTyped);
    connect(Command5, &QPushButton::clicked, this, &Form1::Form1_Command5_Click);
    connect(savesettigsmenu, &QAction::triggered, this, &Form1::Form1_savesettigsmenu_Click);
    connect(exitmenu, &QAction::triggered, this, &Form1::exitmenuClicked);
    connect(videomenu, &QAction::triggered, this, &Form1::videomenuClicked);
    connect(aboutmenu, &QAction::triggered, this, &Form1::aboutmenuClicked);
    connect(nightmenu, &QAction::triggered, this, &Form1::nightmenuClicked);
    connect(Command1, &SlewButton::mouseDown, this, &Form1::Form1_Command1_MouseDown);
    connect(Command1, &SlewButton::mouseUp, this, &Form1::Form1_Command1_MouseUp);
    connect(Command2, &SlewButton::mouseDown, this, &Form1::Form1_Command2_MouseDown);
    connect(Command2, &SlewButton::mouseUp, this, &Form1::Form1_Command2_MouseUp);
    connect(Command3, &SlewButton::mouseDown, this, &Form1::Form1_Command3_MouseDown);
    connect(Command3, &SlewButton::mouseUp, this, &Form1::Form1_Command3_MouseUp);
    connect(Command4, &SlewButton::mouseDown, this, &Form1::Form1_Command4_MouseDown);
    connect(Command4, &SlewButton::mouseUp, this, &Form1::Form1_Command4_MouseUp);
}

void Form1::Form1_Form_Load()
{
    const int saved = readSavedPortIndex();
    fillPortList();
    applySavedIndex(saved);

    ErrorTrap trap;
    trap.arm();
    runOpenSequence(MSComm1, Combo1->currentIndex(), trap);
    if (!trap.clean())
        failurePath(kNotInitialized);
    // On a closed port the probe's write and read fail into the trap, and nothing is heard.
    trap.take(MSComm1.setOutput(kProbe));
    runProbeWait();
    if (readLoadReply(MSComm1, trap)) {
        m_messages.show(this, MessageBoxes::Icon::Information, kDetected);
        Shape1->setFillColor(colorFromRgbInt(kGreen));
    }
}

void Form1::fillPortList()
{
    const QSignalBlocker quiet(Combo1);
    for (int n = 1; n <= kPortCount; ++n)
        Combo1->addItem(QStringLiteral("COM %1:").arg(n));
    // Filling selects nothing: the saved value decides.
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QStringLiteral("Combo1"));
}

void Form1::applySavedIndex(int savedIndex)
{
    if (savedIndex < 0 || savedIndex >= Combo1->count())
        return;
    {
        const QSignalBlocker quiet(Combo1);
        Combo1->setCurrentIndex(savedIndex);
    }
    // A new selection runs the port change at once, as the user's choice would.
    Form1_Combo1_Click();
}

void Form1::Combo1_selectionSettled()
{
    // However the list came to a new selection (a typed text completed, say), the open port
    // follows it, as for a choice: the list and the port never disagree.
    if (Combo1->currentIndex() != m_changedForIndex)
        Form1_Combo1_Click();
}

void Form1::Combo1_textTyped()
{
    // A typed text that names an entry chooses it (the port change follows the selection); one
    // that names none changes nothing, and the field shows the selection again.
    const int match = Combo1->findText(Combo1->currentText(), Qt::MatchFixedString);
    if (match >= 0) {
        if (match != Combo1->currentIndex())
            Combo1->setCurrentIndex(match);
        return;
    }
    Combo1->setEditText(Combo1->currentIndex() >= 0 ? Combo1->itemText(Combo1->currentIndex())
                                                    : QStringLiteral("Combo1"));
}

void Form1::Form1_Combo1_Click()
{
    m_changedForIndex = Combo1->currentIndex();
    // A movement still held goes to the port it started on, before that port closes.
    Q_EMIT linkWanted();
    abandonHeldPad();
    ErrorTrap trap;
    trap.arm();
    runOpenSequence(MSComm1, Combo1->currentIndex(), trap);
    if (!trap.clean())
        failurePath(kNotFound);
}

void Form1::Form1_Command5_Click()
{
    Q_EMIT linkWanted();
    abandonHeldPad();
    ErrorTrap trap;
    trap.arm();
    runOpenSequence(MSComm1, Combo1->currentIndex(), trap);
    if (!trap.clean()) {
        failurePath(kNotFound);
        return;
    }
    trap.take(MSComm1.setOutput(kProbe));
    runProbeWait();
    if (readConnectReply(MSComm1, trap)) {
        m_messages.show(this, MessageBoxes::Icon::Information, kDetected);
        Shape1->setFillColor(colorFromRgbInt(kGreen));
        for (SlewButton *b : {Command1, Command2, Command3, Command4})
            b->setEnabled(true);
    } else {
        Shape1->setFillColor(colorFromRgbInt(kRed));
    }
}

void Form1::failurePath(const QString &message)
{
    m_messages.show(this, MessageBoxes::Icon::Exclamation, message);
    MSComm1.setPortOpen(false);
    Shape1->setFillColor(colorFromRgbInt(kRed));
    for (SlewButton *b : {Command1, Command2, Command3, Command4})
        b->setEnabled(false);
}

void Form1::runProbeWait()
{
    m_lastCounterPaint.invalidate();
    probeWait([this](int value) { printCounter(value); });
    m_surface->setCounter(0);
    m_surface->update(m_surface->counterRect());
}

void Form1::printCounter(int value)
{
    m_surface->setCounter(value);
    // Painting every one of the numbers would make the wait as long as the screen is slow.
    if (m_lastCounterPaint.isValid() && m_lastCounterPaint.elapsed() < kCounterRepaintMs
        && value != kProbeCount)
        return;
    m_lastCounterPaint.start();
    if (m_surface->isVisible())
        m_surface->repaint(m_surface->counterRect());
}

void Form1::Form1_savesettigsmenu_Click()
{
    if (savePortIndex(Combo1->currentIndex()) != SaveResult::Saved)
        m_messages.show(this, MessageBoxes::Icon::Exclamation, kNotSaved);
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->ignore();
    Q_EMIT closeBoxUsed();
}

} // namespace voruna
