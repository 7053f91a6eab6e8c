// SPDX-License-Identifier: GPL-3.0-or-later
// The driver selection dialog: filling, preselection, Select and Cancel, keys.
#include "video_support/formrig.h"

#include "video/fittovideo.h"
#include "video/form3.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace voruna;
using namespace voruna::test;

namespace {

const StubDriver noDisplayDialog{"Sky Simulator", {200, 150}, true, true, false};
const StubDriver neverOpens{"Broken Driver", {160, 120}, true, true, true, false};

QStringList entries(const form3 &dialog)
{
    QStringList list;
    for (int i = 0; i < dialog.cmboSource->count(); ++i)
        list << dialog.cmboSource->itemText(i);
    return list;
}

// Opens the dialog as the Select command does, lets `act` work on it, returns its result.
int runSelect(Form2 &form, std::function<void(form3 &)> act)
{
    int result = -1;
    onModal([&result, act](QWidget *widget) {
        auto *dialog = qobject_cast<form3 *>(widget);
        QVERIFY(dialog);
        act(*dialog);
        if (dialog->isVisible()) // act left it open: close it the way Cancel does
            dialog->cmdCancel->click();
        result = dialog->result();
    });
    form.mnuSelect->trigger();
    return result;
}

} // namespace

class VideoForm3Test : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layout();
    void listsAndPreselects();
    void connectedIndexBeyondList();
    void nothingConnectedNothingPreselected();
    void selectWithoutEntryIsCancel();
    void changeDriverTogglesDisplay();
    void failedConnectChangesNothing();
    void keys();
};

void VideoForm3Test::layout()
{
    FormRig rig;
    Form2 &form = rig.open();
    form3 dialog(form);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Video Source"));
    QCOMPARE(dialog.size(), QSize(277, 72));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.lblDriver->text(), QStringLiteral("Installed Drivers:"));
    QCOMPARE(dialog.cmboSource->geometry(), QRect(8, 24, 265, 21));
    QCOMPARE(dialog.cmdSelect->geometry(), QRect(144, 48, 60, 20));
    QCOMPARE(dialog.cmdCancel->geometry(), QRect(208, 48, 60, 20));
    QCOMPARE(dialog.cmboSource->toolTip(), QStringLiteral("List of available installed drivers"));
    QCOMPARE(dialog.cmdSelect->toolTip(), QStringLiteral("Select this driver"));
    QCOMPARE(dialog.cmdCancel->toolTip(), QStringLiteral("Cancel - Make no change"));
    QVERIFY(dialog.cmdSelect->isDefault());
    QVERIFY(!dialog.cmboSource->isEditable());
    QCOMPARE(dialog.cmboSource->nextInFocusChain(), dialog.cmdSelect);
}

void VideoForm3Test::listsAndPreselects()
{
    FormRig rig({noDisplayDialog});
    for (int node : {0, 1, 2})
        rig.fake->addCamera(node, webcamConfig("cam" + QByteArray::number(node)));
    Form2 &form = rig.open();
    QVERIFY(form.captureWindow()->driverConnect(1));
    QStringList seen;
    int selected = -2;
    const int scansBefore = rig.fake->scans();
    runSelect(form, [&](form3 &dialog) {
        QCOMPARE(rig.fake->scans() - scansBefore, 1); // the nodes are opened once per opening
        seen = entries(dialog);
        selected = dialog.cmboSource->currentIndex();
        QCOMPARE(dialog.focusWidget(), dialog.cmboSource);
    });
    QCOMPARE(seen, (QStringList{"cam0", "cam1", "cam2", "Sky Simulator"}));
    QCOMPARE(selected, 1);
}

void VideoForm3Test::connectedIndexBeyondList()
{
    FormRig rig;
    for (int node : {0, 1, 2})
        rig.fake->addCamera(node, webcamConfig("cam" + QByteArray::number(node)));
    Form2 &form = rig.open();
    QVERIFY(form.captureWindow()->driverConnect(2));
    rig.fake->unplug(1); // the list shrinks to two entries; the connected camera stays
    int selected = -2;
    QStringList seen;
    runSelect(form, [&](form3 &dialog) {
        seen = entries(dialog);
        selected = dialog.cmboSource->currentIndex();
    });
    QCOMPARE(seen, (QStringList{"cam0", "cam2"}));
    QCOMPARE(selected, -1);
}

void VideoForm3Test::nothingConnectedNothingPreselected()
{
    FormRig rig({noDisplayDialog});
    FakeCameraConfig h264 = webcamConfig("H264 Camera");
    h264.formats = {{V4L2_PIX_FMT_H264, "H.264", {{640, 480}}, {{1, 30}}}};
    h264.fourcc = V4L2_PIX_FMT_H264;
    rig.fake->addCamera(0, h264);
    Form2 &form = rig.open();
    int selected = -2;
    runSelect(form, [&](form3 &dialog) { selected = dialog.cmboSource->currentIndex(); });
    QCOMPARE(selected, -1);
}

void VideoForm3Test::selectWithoutEntryIsCancel()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    const QSize size = rig.sub()->size();
    const QString status = rig.status();
    runSelect(form, [](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(-1);
        dialog.cmdSelect->click();
    });
    QCOMPARE(rig.sub()->size(), size);
    QCOMPARE(rig.status(), status); // not reconnected: no new stream notice either
    QCOMPARE(rig.fake->openDescriptors(), 1);
    QVERIFY(rig.sub()->device());
}

void VideoForm3Test::changeDriverTogglesDisplay()
{
    FormRig rig({noDisplayDialog});
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    form.mnuScale->trigger(); // check marks stay as they are across a change
    runSelect(form, [](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(1);
        dialog.cmdSelect->click();
    });
    QVERIFY(!form.mnuDisplay->isEnabled());
    QVERIFY(form.mnuSource->isEnabled() && form.mnuFormat->isEnabled());
    QCOMPARE(rig.sub()->windowTitle(), QStringLiteral("Sky Simulator"));
    QCOMPARE(rig.sub()->size(), fittedSize({200, 150}, rig.sub()->frameMetrics()));
    QVERIFY(!form.mnuScale->isChecked());
    QCOMPARE(rig.fake->openDescriptors(), 0); // the camera was let go
    runSelect(form, [](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(0);
        dialog.cmdSelect->click();
    });
    QVERIFY(form.mnuDisplay->isEnabled());
    QCOMPARE(rig.sub()->windowTitle(), QStringLiteral("Fake Camera"));
    QCOMPARE(rig.sub()->size(), fittedSize({320, 240}, rig.sub()->frameMetrics()));
}

void VideoForm3Test::failedConnectChangesNothing()
{
    FormRig rig({noDisplayDialog, neverOpens});
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    const QSize size = rig.sub()->size();
    runSelect(form, [](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(2);
        dialog.cmdSelect->click();
    });
    QCOMPARE(rig.sub()->windowTitle(), QStringLiteral("Fake Camera"));
    QVERIFY(form.mnuDisplay->isEnabled());
    QCOMPARE(rig.sub()->size(), size);
    QCOMPARE(rig.status(), QStringLiteral("Stub driver 1 does not open"));
}

void VideoForm3Test::keys()
{
    FormRig rig({noDisplayDialog});
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    // Esc does nothing; Enter in the list selects.
    int result = runSelect(form, [](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(1);
        QTest::keyClick(dialog.cmboSource, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QTest::keyClick(dialog.cmboSource, Qt::Key_Return);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(rig.sub()->windowTitle(), QStringLiteral("Sky Simulator"));
    // Enter on Cancel cancels.
    result = runSelect(form, [](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(0);
        dialog.cmdCancel->setFocus();
        QTest::keyClick(dialog.cmdCancel, Qt::Key_Return);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(rig.sub()->windowTitle(), QStringLiteral("Sky Simulator"));
}

QTEST_MAIN(VideoForm3Test)
#include "video_form3.moc"
