// SPDX-License-Identifier: GPL-3.0-or-later
// The splash and About windows as the user sees them, and the pictures compiled into the
// program.
#include "resources/resources.h"
#include "shell/form4.h"
#include "shell/form5.h"

#include <QFile>
#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace voruna;

namespace {

struct IcoEntry {
    int width;
    int height;
    int bitsPerPixel;
};

// The directory of an .ico file as stored, read from its bytes.
QList<IcoEntry> icoEntries(const QByteArray &bytes)
{
    auto u16 = [&](int at) { return int(quint8(bytes[at])) | int(quint8(bytes[at + 1])) << 8; };
    QList<IcoEntry> entries;
    if (bytes.size() < 6 || u16(0) != 0 || u16(2) != 1)
        return entries;
    for (int i = 0; i < u16(4) && 6 + 16 * (i + 1) <= bytes.size(); ++i) {
        const int at = 6 + 16 * i;
        entries.append({quint8(bytes[at]), quint8(bytes[at + 1]), u16(at + 6)});
    }
    return entries;
}

QByteArray resourceBytes(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The window as drawn, in its own pixel coordinates.
QImage rendered(QWidget &window)
{
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class ShellSplashAbout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void arrowIconsHoldBothSizes_data();
    void arrowIconsHoldBothSizes();
    void windowIconAndAboutPicture();
    void splashGeometry_data();
    void splashGeometry();
    void splashTextColours_data();
    void splashTextColours();
    void splashReticleAsDrawn_data();
    void splashReticleAsDrawn();
    void textsFitTheirBoxes();
    void splashCentredWithRunningTimer();
    void aboutGeometryAndFrame();
    void aboutPictureAtNaturalSize();
    void closeHidesAndKeepsTheWindow();
    void closeBoxAsksForUnload();
    void tabGoesFromCloseToPicture();
};

void ShellSplashAbout::arrowIconsHoldBothSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("up") << QString::fromLatin1(resources::kArrowUp);
    QTest::newRow("down") << QString::fromLatin1(resources::kArrowDown);
    QTest::newRow("left") << QString::fromLatin1(resources::kArrowLeft);
    QTest::newRow("right") << QString::fromLatin1(resources::kArrowRight);
}

void ShellSplashAbout::arrowIconsHoldBothSizes()
{
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QList<IcoEntry> entries = icoEntries(file.readAll());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].width, 32);
    QCOMPARE(entries[0].height, 32);
    QCOMPARE(entries[0].bitsPerPixel, 4);
    QCOMPARE(entries[1].width, 16);
    QCOMPARE(entries[1].height, 16);
    QCOMPARE(entries[1].bitsPerPixel, 4);

    // Qt must read both images back, with the corners transparent and the centre black.
    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 2);
    for (int size : {32, 16}) {
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(image.pixel(size / 2, size / 2), qRgb(0, 0, 0));
        reader.jumpToNextImage();
    }
    QVERIFY(QIcon(path).availableSizes().contains(QSize(16, 16)));
}

void ShellSplashAbout::windowIconAndAboutPicture()
{
    const QList<IcoEntry> icon = icoEntries(resourceBytes(resources::kWindowIcon));
    QCOMPARE(icon.size(), 1);
    QCOMPARE(icon[0].width, 32);
    QCOMPARE(icon[0].bitsPerPixel, 8);
    const QImage reticle(QString::fromLatin1(resources::kWindowIcon));
    QCOMPARE(reticle.size(), QSize(32, 32));
    QCOMPARE(reticle.pixelColor(1, 1), QColor(Qt::white));
    const QColor centre = reticle.pixelColor(16, 16);
    QVERIFY2(centre.red() > 100 && centre.green() < 30 && centre.blue() < 30,
             qPrintable(centre.name()));

    QImageReader reader(QString::fromLatin1(resources::kAboutPicture));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage about = reader.read();
    QCOMPARE(about.size(), QSize(200, 107));
    QVERIFY(!about.isGrayscale());
}

void ShellSplashAbout::splashGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("frame") << "Frame1" << QRect(8, 4, 369, 153);
    QTest::newRow("black square") << "Shape2" << QRect(16, 12, 121, 125);
    QTest::newRow("outer circle box") << "Shape1(0)" << QRect(12, 24, 129, 101);
    QTest::newRow("inner circle box") << "Shape1(1)" << QRect(44, 44, 65, 61);
    QTest::newRow("vertical line") << "Line1" << QRect(76, 12, 1, 124);
    QTest::newRow("horizontal line") << "Line2" << QRect(16, 76, 120, 1);
    QTest::newRow("name") << "Label1" << QRect(180, 16, 173, 49);
    QTest::newRow("credits") << "Label2(1)" << QRect(272, 68, 73, 17);
    QTest::newRow("for use") << "Label2(0)" << QRect(176, 96, 85, 17);
    QTest::newRow("adaptor") << "Label2(3)" << QRect(176, 108, 181, 17);
    QTest::newRow("version") << "Label2(2)" << QRect(240, 128, 113, 17);
}

void ShellSplashAbout::splashGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    Form5 splash;
    QCOMPARE(splash.size(), QSize(385, 165));
    QWidget *control = splash.findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->geometry(), pixels);
}

void ShellSplashAbout::splashTextColours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("color");
    QTest::newRow("name green") << "Label1" << QColor(0, 255, 0);
    QTest::newRow("for use dark blue") << "Label2(0)" << QColor(0, 0, 192);
    QTest::newRow("adaptor dark blue") << "Label2(3)" << QColor(0, 0, 192);
    QTest::newRow("version teal") << "Label2(2)" << QColor(0, 128, 128);
}

void ShellSplashAbout::splashTextColours()
{
    QFETCH(QString, name);
    QFETCH(QColor, color);
    Form5 splash;
    auto *label = splash.findChild<QLabel *>(name);
    QVERIFY2(label, qPrintable(name));
    QCOMPARE(label->palette().color(QPalette::WindowText), color);
}

void ShellSplashAbout::splashReticleAsDrawn_data()
{
    // Window pixels: the frame sits at (8, 4), so a frame point (x, y) is (x + 8, y + 4).
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("red");
    const QPoint frame(8, 4);
    QTest::newRow("outer ring, left") << QPoint(26, 74) + frame << true;
    QTest::newRow("outer ring, top") << QPoint(76, 24) + frame << true;
    QTest::newRow("outer box edge: a circle, no ellipse") << QPoint(13, 74) + frame << false;
    QTest::newRow("inner ring, left") << QPoint(46, 74) + frame << true;
    QTest::newRow("inner box edge: a circle, no ellipse") << QPoint(76, 104) + frame << true;
    QTest::newRow("between the rings") << QPoint(36, 60) + frame << false;
    QTest::newRow("line drawn over the square") << QPoint(76, 20) + frame << true;
    QTest::newRow("horizontal line") << QPoint(20, 76) + frame << true;
    QTest::newRow("vertical line, last pixel") << QPoint(76, 135) + frame << true;
    QTest::newRow("vertical line, past its end") << QPoint(76, 137) + frame << false;
}

void ShellSplashAbout::splashReticleAsDrawn()
{
    QFETCH(QPoint, at);
    QFETCH(bool, red);
    Form5 splash;
    const QColor c = rendered(splash).pixelColor(at);
    QVERIFY2((c.red() > 200 && c.green() < 60 && c.blue() < 60) == red, qPrintable(c.name()));
}

void ShellSplashAbout::textsFitTheirBoxes()
{
    // A stand-in font that runs wider than the layout's would cut the texts off at the right.
    Form5 splash;
    Form4 about;
    QList<QLabel *> labels = splash.findChildren<QLabel *>();
    labels += about.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^Label1")));
    QCOMPARE(labels.size(), 5 + 6);
    for (const QLabel *label : labels) {
        const QFontMetrics metrics(label->font());
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->objectName()));
        QVERIFY2(metrics.height() <= label->height(), qPrintable(label->objectName()));
    }
}

void ShellSplashAbout::splashCentredWithRunningTimer()
{
    Form5 splash;
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    const QPoint offCentre =
        splash.geometry().center() - splash.screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 2, qPrintable(QString::number(offCentre.x())));
    QVERIFY(splash.Timer1->isActive());
    QCOMPARE(splash.Timer1->interval(), 4000);
    QVERIFY(!splash.Timer1->isSingleShot());
}

void ShellSplashAbout::aboutGeometryAndFrame()
{
    Form4 about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About..."));
    QCOMPARE(about.minimumSize(), QSize(230, 312));
    QCOMPARE(about.maximumSize(), QSize(230, 312));
    const Qt::WindowFlags flags = about.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(about.Picture1->geometry(), QRect(12, 12, 201, 109));
    QCOMPARE(about.Label1_0->geometry(), QRect(0, 136, 233, 17));
    QCOMPARE(about.Label1_5->geometry(), QRect(0, 252, 233, 17));
    QCOMPARE(about.Command1->geometry(), QRect(80, 284, 61, 21));
    QCOMPARE(about.Command1->text(), QStringLiteral("Close"));
    QVERIFY(about.Label1_0->font().bold() && about.Label1_0->font().italic());
}

void ShellSplashAbout::aboutPictureAtNaturalSize()
{
    Form4 about;
    const QImage window = rendered(about);
    const QImage picture(QString::fromLatin1(resources::kAboutPicture));
    // The picture's last pixel lands at (12 + 199, 12 + 106), unscaled.
    for (const QPoint p : {QPoint(0, 0), QPoint(199, 106), QPoint(150, 20)})
        QCOMPARE(window.pixel(p + QPoint(12, 12)),
                 picture.convertToFormat(QImage::Format_RGB32).pixel(p));
}

void ShellSplashAbout::closeHidesAndKeepsTheWindow()
{
    QPointer<Form4> about(new Form4);
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    about->Label1_3->setProperty("marker", 1);
    QTest::mouseClick(about->Command1, Qt::LeftButton);
    QVERIFY(about);
    QVERIFY(about->isHidden());
    about->show();
    QCOMPARE(about->Label1_3->property("marker").toInt(), 1);
    delete about;
}

void ShellSplashAbout::closeBoxAsksForUnload()
{
    Form4 about;
    QSignalSpy unload(&about, &Form4::closeBoxUsed);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QVERIFY(!about.close());
    QCOMPARE(unload.size(), 1);
    QVERIFY(about.isVisible());
}

void ShellSplashAbout::tabGoesFromCloseToPicture()
{
    Form4 about;
    about.show();
    about.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QCOMPARE(QApplication::focusWidget(), about.Command1);
    QTest::keyClick(about.Command1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about.Picture1);
    QTest::keyClick(about.Picture1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), about.Command1);
}

QTEST_MAIN(ShellSplashAbout)
#include "shell_splash_about.moc"
