// SPDX-License-Identifier: GPL-3.0-or-later
// The driver selection dialog: filling, preselection, Select and Cancel, keys.
#include "video_support/formrig.h"

#include "video/fittovideo.h"
#include "video/form3.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using namespace voruna;
using namespace voruna::test;

namespace {

const StubDriver noDisplayDialog{"Sky Simulator", {200, 150}, true, true, false};
const StubDriver neverOpens{"Broken Driver", {160, 120}, true, true, true, false};

// A webcam named after its node whose picture tells it apart: 160 x 120 on node 0, 320 x 240 on
// node 1, 640 x 480 on node 2.
void plugIn(FakeV4l2 &fake, int node, const QByteArray &name)
{
    FakeCameraConfig config = webcamConfig(name + QByteArray::number(node));
    config.size = QSize(160, 120) * (1 << node);
    fake.addCamera(node, config);
}

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
    void selectOpensTheListedDriver_data();
    void selectOpensTheListedDriver();
    void preselectionNeedsTheConnectedDriver();
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

void VideoForm3Test::selectOpensTheListedDriver_data()
{
    QTest::addColumn<QList<int>>("nodes");
    QTest::addColumn<int>("connected");      // node of the camera connected, its white point at 100
    QTest::addColumn<QList<int>>("before");  // nodes unplugged before the dialog lists
    QTest::addColumn<QList<int>>("between"); // nodes unplugged between listing and Select
    QTest::addColumn<int>("plugged");        // node of a camera plugged in then, -1 for none
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size"); // of the camera connected after, empty for none
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("whitePoint");
    const QList<int> none;
    const QString streams = QStringLiteral("%1 x %2 YUYV at 30 fps");
    QTest::newRow("another camera")
        << QList<int>{0, 1, 2} << 0 << none << none << -1 << "cam1"
        << "cam1" << QSize(320, 240) << streams.arg(320).arg(240) << 255;
    QTest::newRow("the same camera again")
        << QList<int>{0, 1, 2} << 1 << none << none << -1 << "cam1"
        << "cam1" << QSize(320, 240) << streams.arg(320).arg(240) << 100;
    QTest::newRow("the same camera, higher up the list")
        << QList<int>{0, 1, 2} << 1 << QList<int>{0} << none << -1 << "cam1"
        << "cam1" << QSize(320, 240) << streams.arg(320).arg(240) << 100;
    QTest::newRow("a camera above it unplugged")
        << QList<int>{0, 1, 2} << 1 << none << QList<int>{0} << -1 << "cam2"
        << "cam2" << QSize(640, 480) << streams.arg(640).arg(480) << 255;
    QTest::newRow("a camera plugged in above it")
        << QList<int>{1, 2} << 1 << none << none << 0 << "cam2"
        << "cam2" << QSize(640, 480) << streams.arg(640).arg(480) << 255;
    QTest::newRow("the chosen camera unplugged")
        << QList<int>{0, 1} << 0 << none << QList<int>{1} << -1 << "cam1"
        << "cam0" << QSize() << "Cannot open /dev/video1: No such file or directory" << 255;
    QTest::newRow("another camera on its node")
        << QList<int>{0, 1} << 0 << none << QList<int>{1} << 1 << "cam1"
        << "cam0" << QSize() << "The chosen camera is no longer there" << 255;
}

// Select opens the camera whose name was chosen, whatever happened to the list since it was
// made; the nodes are looked at once per opening of the dialog, Select included.
void VideoForm3Test::selectOpensTheListedDriver()
{
    QFETCH(QList<int>, nodes);
    QFETCH(int, connected);
    QFETCH(QList<int>, before);
    QFETCH(QList<int>, between);
    QFETCH(int, plugged);
    QFETCH(QString, chosen);
    QFETCH(QString, caption);
    QFETCH(QSize, size);
    QFETCH(QString, status);
    QFETCH(int, whitePoint);
    FormRig rig({noDisplayDialog});
    for (int node : nodes)
        plugIn(*rig.fake, node, "cam");
    Form2 &form = rig.open();
    QVERIFY(form.captureWindow()->driverConnect(int(nodes.indexOf(connected))));
    form.captureWindow()->setWindowText(QStringLiteral("cam%1").arg(connected));
    onModal([](QWidget *dialog) {
        dialog->findChild<QSpinBox *>(QStringLiteral("whitePoint"))->setValue(100);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    form.captureWindow()->dlgVideoDisplay();
    for (int node : before)
        rig.fake->unplug(node);
    const int scansBefore = rig.fake->scans();
    runSelect(form, [&](form3 &dialog) {
        dialog.cmboSource->setCurrentIndex(int(entries(dialog).indexOf(chosen)));
        for (int node : between)
            rig.fake->unplug(node);
        if (plugged >= 0)
            plugIn(*rig.fake, plugged, "new");
        dialog.cmdSelect->click();
    });
    QCOMPARE(rig.sub()->windowTitle(), caption);
    QSize connectedSize;
    QCOMPARE(rig.sub()->getStatus(&connectedSize), size.isValid());
    QCOMPARE(connectedSize, size);
    QCOMPARE(rig.status(), status);
    QCOMPARE(rig.sub()->displaySettings().whitePoint, whitePoint);
    QCOMPARE(rig.fake->scans() - scansBefore, 1);
}

// The connected camera is preselected at its place in the list, and nothing is when another
// camera has taken that place.
void VideoForm3Test::preselectionNeedsTheConnectedDriver()
{
    FormRig rig({noDisplayDialog});
    for (int node : {0, 1, 2})
        plugIn(*rig.fake, node, "cam");
    Form2 &form = rig.open();
    QVERIFY(form.captureWindow()->driverConnect(1));
    rig.fake->unplug(0);
    int selected = -2;
    runSelect(form, [&](form3 &dialog) { selected = dialog.cmboSource->currentIndex(); });
    QCOMPARE(selected, -1);
}

QTEST_MAIN(VideoForm3Test)
#include "video_form3.moc"
