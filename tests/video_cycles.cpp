// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the video window many times leaves nothing behind: no descriptor, no
// mapping, no hook and (in the sanitizer build) no leaked memory.
#include "video_support/formrig.h"

#include <QTest>

using namespace voruna;
using namespace voruna::test;

class VideoCyclesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openAndClose200Times();
};

void VideoCyclesTest::openAndClose200Times()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    for (int cycle = 0; cycle < 200; ++cycle) {
        rig.open();
        QVERIFY(rig.fake->produceFrame(0));
        if (cycle % 2) // every other time the frame is still undelivered at closing
            QTRY_VERIFY(!rig.picture()->frame().isNull());
        if (cycle % 50 == 49)
            rig.fake->unplug(0);
        rig.close();
        QCoreApplication::processEvents();
        QCOMPARE(rig.fake->openDescriptors(), 0);
        QCOMPARE(rig.fake->mappedBuffers(), 0);
        if (!rig.fake->config(0))
            rig.fake->addCamera(0, webcamConfig());
    }
}

QTEST_MAIN(VideoCyclesTest)
#include "video_cycles.moc"
