// SPDX-License-Identifier: GPL-3.0-or-later
// What the status line shows of the capture layer's notifications.
#include "video_support/formrig.h"

#include "video/notificationtext.h"

#include <QStatusTipEvent>
#include <QTest>

using namespace voruna;
using namespace voruna::test;

using Notices = QList<QPair<int, QString>>;

class VideoNotificationsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void notifications_data();
    void notifications();
    void notificationTextCut_data();
    void notificationTextCut();
    void menuHoverKeepsText();
};

void VideoNotificationsTest::notifications_data()
{
    QTest::addColumn<bool>("error");
    QTest::addColumn<Notices>("sent");
    QTest::addColumn<QString>("shown");
    using Sent = Notices;
    for (bool error : {false, true}) {
        const QByteArray kind = error ? "error " : "status ";
        QTest::newRow(kind + "id 0 keeps text")
            << error << Sent{{1, "first"}, {0, "ignored"}} << "first";
        QTest::newRow(kind + "empty text empties") << error << Sent{{1, "first"}, {5, ""}} << "";
        QTest::newRow(kind + "second of two")
            << error << Sent{{1, "first"}, {2, "second"}} << "second";
        QTest::newRow(kind + "overlong cut")
            << error << Sent{{3, QString(600, 'x')}} << QString(508, 'x');
    }
}

void VideoNotificationsTest::notifications()
{
    QFETCH(bool, error);
    QFETCH(Notices, sent);
    QFETCH(QString, shown);
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    rig.open();
    CaptureDevice *device = rig.sub()->device();
    for (const auto &[id, text] : sent) {
        if (error)
            Q_EMIT device->failed(id, text);
        else
            Q_EMIT device->statusNotice(id, text);
    }
    QCOMPARE(rig.status(), shown);
    // Removed at unload: nothing reaches the status line any more.
    rig.form->Form2_Form_Unload();
    Q_EMIT device->statusNotice(1, QStringLiteral("late"));
    QCOMPARE(rig.status(), shown);
}

void VideoNotificationsTest::notificationTextCut_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << QByteArray("Video device lost") << "Video device lost";
    QTest::newRow("exactly 508") << QByteArray(508, 'a') << QString(508, 'a');
    QTest::newRow("509 cut") << QByteArray(509, 'a') << QString(508, 'a');
    QTest::newRow("split character dropped")
        << QByteArray(507, 'a') + "\xc3\xa9" + "zz" << QString(507, 'a');
    QTest::newRow("whole character at the end")
        << QByteArray(506, 'a') + "\xc3\xa9" + "zz" << QString(506, 'a') + QChar(0xe9);
}

void VideoNotificationsTest::notificationTextCut()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(notificationText(bytes.constData()), text);
    QCOMPARE(notificationText(nullptr), QString());
}

void VideoNotificationsTest::menuHoverKeepsText()
{
    FormRig rig;
    rig.fake->addCamera(0, webcamConfig());
    Form2 &form = rig.open();
    QStatusTipEvent hover{QString()}; // what a menu sends for an item under the mouse
    QApplication::sendEvent(&form, &hover);
    QCOMPARE(rig.status(), QStringLiteral("320 x 240 YUYV at 30 fps"));
}

QTEST_MAIN(VideoNotificationsTest)
#include "video_notifications.moc"
