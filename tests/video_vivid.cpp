// SPDX-License-Identifier: GPL-3.0-or-later
// The video window against the kernel's own test camera, vivid: its colour bars in every
// picture format the program offers, unplugging, streams that do not start or break, and the
// Source dialog against every kind of control. Runs where VORUNA_VIDEO_DEVICE=vivid says the
// vivid driver is loaded (scripts/guest-run --vivid does that in a virtual machine).
#include "video_support/formrig.h"

#include "video/fittovideo.h"
#include "video/form3.h"
#include "video/sourcedialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <algorithm>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace voruna;
using namespace voruna::test;

namespace {

// The kernel's calls, counting the control reads and writes that pass.
class CountingSyscalls final : public V4l2Syscalls {
public:
    QStringList nodes() override { return m_kernel->nodes(); }
    int open(const char *path, int flags) override { return m_kernel->open(path, flags); }
    int close(int fd) override { return m_kernel->close(fd); }
    int ioctl(int fd, unsigned long request, void *arg) override
    {
        if (request == VIDIOC_S_CTRL)
            ++sets;
        if (request == VIDIOC_G_CTRL || request == VIDIOC_QUERYCTRL)
            ++reads;
        return m_kernel->ioctl(fd, request, arg);
    }
    void *mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override
    {
        return m_kernel->mmap(length, prot, flags, fd, offset);
    }
    int munmap(void *address, std::size_t length) override
    {
        return m_kernel->munmap(address, length);
    }

    int sets = 0;
    int reads = 0;

private:
    std::shared_ptr<V4l2Syscalls> m_kernel = makeKernelSyscalls();
};

// "Gain, Automatic" -> "gain_automatic", as v4l2-ctl names them.
QString controlKey(const QString &name)
{
    QString key;
    for (QChar c : name.toLower()) {
        if (c.isLetterOrNumber())
            key += c;
        else if (!key.isEmpty() && !key.endsWith(QLatin1Char('_')))
            key += QLatin1Char('_');
    }
    return key;
}

// Sets one of vivid's controls through a descriptor of its own, closed again at once (vivid
// comes back from a simulated unplug only when every descriptor is closed).
bool setVividControl(const QString &key, qint32 value)
{
    const int fd = ::open("/dev/video0", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool done = false;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (!done && ::ioctl(fd, VIDIOC_QUERYCTRL, &query) == 0) {
        if (controlKey(QString::fromUtf8(reinterpret_cast<char *>(query.name))) == key) {
            v4l2_control control{query.id, value};
            done = ::ioctl(fd, VIDIOC_S_CTRL, &control) == 0;
            break;
        }
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    ::close(fd);
    return done;
}

// Descriptors and mappings this process holds on video nodes.
int videoHandles()
{
    int count = 0;
    for (const QFileInfo &entry : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        count += entry.symLinkTarget().startsWith(QLatin1String("/dev/video"));
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly))
        count += maps.readAll().count("/dev/video");
    return count;
}

// vivid's 75 % colour bars, left to right.
const QColor bars[] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                       {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};

// The bar colours of `picture` where they differ from vivid's by more than a tolerance (grey
// pictures are compared with the bars' brightness); empty when all match.
QString wrongBars(const QImage &picture, bool grey)
{
    QString wrong;
    const int y = picture.height() * 3 / 4; // below the text vivid writes into the picture
    for (int bar = 0; bar < 8; ++bar) {
        const QColor shown = picture.pixelColor(picture.width() * (2 * bar + 1) / 16, y);
        QColor expected = bars[bar];
        if (grey) {
            const int luma =
                qRound(0.299 * expected.red() + 0.587 * expected.green() + 0.114 * expected.blue());
            expected = QColor(luma, luma, luma);
        }
        if (std::abs(shown.red() - expected.red()) > 40
            || std::abs(shown.green() - expected.green()) > 40
            || std::abs(shown.blue() - expected.blue()) > 40)
            wrong += QStringLiteral("bar %1 is %2, not %3; ")
                         .arg(bar)
                         .arg(shown.name(), expected.name());
    }
    return wrong;
}

// The picture as the window shows it: read back from the screen where there is one.
QImage shownPicture(PreviewWidget *picture)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return picture->grab().toImage();
    const QPoint at = picture->mapToGlobal(QPoint(0, 0));
    return picture->screen()
        ->grabWindow(0, at.x(), at.y(), picture->width(), picture->height())
        .toImage();
}

// "YUYV", "Y16 BE": the code a format goes by, with the flag of big-endian variants.
QString fourccText(quint32 code)
{
    QString text;
    for (int shift = 0; shift < 32; shift += 8)
        text += QLatin1Char(char((code >> shift) & 0x7f));
    return text.trimmed() + ((code & (1u << 31)) ? QStringLiteral(" BE") : QString());
}

// Keeps what the window shows in VORUNA_SAVE_DIR, when there is one, for people to look at.
void saveShot(PreviewWidget *picture, const QString &name)
{
    const QString folder = qEnvironmentVariable("VORUNA_SAVE_DIR");
    if (!folder.isEmpty())
        shownPicture(picture).save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

struct VividRig : FormRig {
    std::shared_ptr<CountingSyscalls> kernel = std::make_shared<CountingSyscalls>();
    VividRig()
    {
        std::vector<std::unique_ptr<DriverSource>> sources;
        sources.push_back(std::make_unique<V4l2DriverSource>(kernel));
        layer = makeCaptureLayer(std::move(sources));
    }
    bool pictureArrives()
    {
        const qint64 before = picture()->frame().cacheKey();
        return QTest::qWaitFor(
            [&] { return !picture()->frame().isNull() && picture()->frame().cacheKey() != before; },
            20000);
    }
};

} // namespace

class VideoVividTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void listedConnectedAndFitted();
    void coloursInEveryFormat();
    void faintDeepMonoStretched();
    void unplugDuringPreview();
    void streamDoesNotStart_data();
    void streamDoesNotStart();
    void brokenAndDroppedBuffers();
    void sourceDialogOnEveryControlType();
    void savedForAnotherReader();
};

void VideoVividTest::initTestCase()
{
    if (qgetenv("VORUNA_VIDEO_DEVICE") != "vivid")
        QSKIP("set VORUNA_VIDEO_DEVICE=vivid where the vivid driver is loaded (scripts/guest-run)");
}

void VideoVividTest::listedConnectedAndFitted()
{
    VividRig rig;
    Form2 &form = rig.open();
    QCOMPARE(rig.layer->driverDescription(0)->name, QStringLiteral("vivid"));
    QVERIFY(!rig.layer->driverDescription(1));
    QVERIFY(rig.pictureArrives());
    QVERIFY2(rig.status().startsWith(QLatin1String("640 x 360 ")), qPrintable(rig.status()));
    QVERIFY(form.mnuSource->isEnabled() && form.mnuFormat->isEnabled()
            && form.mnuDisplay->isEnabled());
    QSize image;
    QVERIFY(rig.sub()->getStatus(&image));
    QCOMPARE(rig.picture()->frame().size(), image);
    QCOMPARE(rig.sub()->size(), fittedSize(image, rig.sub()->frameMetrics()));

    // The driver dialog lists it and preselects it.
    onModal([](QWidget *dialog) {
        auto *list = dialog->findChild<QComboBox *>(QStringLiteral("cmboSource"));
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->currentText(), QStringLiteral("vivid"));
        static_cast<form3 *>(dialog)->cmdSelect->click();
    });
    form.mnuSelect->trigger();
    QCOMPARE(rig.sub()->windowTitle(), QStringLiteral("vivid"));
    QVERIFY(rig.pictureArrives());
}

void VideoVividTest::coloursInEveryFormat()
{
    VividRig rig;
    rig.open().resize(900, 600); // room for the picture at its own size
    QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
    QVERIFY(rig.pictureArrives());
    CaptureDevice *camera = rig.sub()->device();
    const QList<PixelFormatChoice> offered = camera->pixelFormats();
    QVERIFY(offered.size() >= 10);
    // A camera of each family the program shows: packed and planar YUV, mono at 8 to 16 bits
    // in both byte orders, Bayer at 8 to 16 bits, RGB. (All of vivid's would take the emulated
    // machine too long.)
    const QList<quint32> checked = {
        V4L2_PIX_FMT_YUYV,    V4L2_PIX_FMT_UYVY,    V4L2_PIX_FMT_NV12,    V4L2_PIX_FMT_NV21,
        V4L2_PIX_FMT_NV16,    V4L2_PIX_FMT_YUV420,  V4L2_PIX_FMT_GREY,    V4L2_PIX_FMT_Y10,
        V4L2_PIX_FMT_Y12,     V4L2_PIX_FMT_Y16,     V4L2_PIX_FMT_Y16_BE,  V4L2_PIX_FMT_SBGGR8,
        V4L2_PIX_FMT_SRGGB10, V4L2_PIX_FMT_SGRBG12, V4L2_PIX_FMT_SBGGR16, V4L2_PIX_FMT_RGB24,
        V4L2_PIX_FMT_XBGR32,  V4L2_PIX_FMT_NV12M,   V4L2_PIX_FMT_YUV420M,
    };
    const QList<quint32> mono = {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_Y10, V4L2_PIX_FMT_Y12,
                                 V4L2_PIX_FMT_Y16, V4L2_PIX_FMT_Y16_BE};
    QStringList failures;
    int tried = 0;
    for (const PixelFormatChoice &choice : offered) {
        if (!checked.contains(choice.pixelFormat))
            continue;
        ++tried;
        StreamFormat format = camera->format();
        format.pixelFormat = choice.pixelFormat;
        if (!camera->setFormat(format)) {
            failures << choice.description + QStringLiteral(": refused");
            continue;
        }
        fitToVideo(rig.sub());
        if (!rig.pictureArrives() || !rig.pictureArrives()) {
            failures << choice.description + QStringLiteral(": no picture");
            continue;
        }
        const bool grey = mono.contains(choice.pixelFormat);
        QString wrong;
        // The screen may still show the previous format's picture for a moment.
        const bool shown = QTest::qWaitFor(
            [&] {
                wrong = wrongBars(shownPicture(rig.picture()), grey);
                return wrong.isEmpty();
            },
            5000);
        Q_UNUSED(shown);
        saveShot(rig.picture(), fourccText(choice.pixelFormat));
        if (!wrong.isEmpty())
            failures << choice.description + QStringLiteral(": ") + wrong;
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    QVERIFY(tried >= 10);
}

// vivid's bars at a twentieth of their contrast in 12-bit mono: next to black as sent, the
// bars again once the Display dialog's black and white points frame their few levels.
void VideoVividTest::faintDeepMonoStretched()
{
    VividRig rig;
    Form2 &form = rig.open();
    form.resize(900, 600);
    QVERIFY(rig.pictureArrives());
    StreamFormat format = rig.sub()->device()->format();
    format.pixelFormat = V4L2_PIX_FMT_Y12;
    QVERIFY(rig.sub()->device()->setFormat(format));
    fitToVideo(rig.sub());
    QVERIFY(setVividControl(QStringLiteral("contrast"), 6));
    const auto restore = qScopeGuard([] { setVividControl(QStringLiteral("contrast"), 128); });
    const auto levels = [&] {
        const QImage shown = shownPicture(rig.picture());
        QList<int> grey;
        for (int bar = 0; bar < 8; ++bar)
            grey << qGray(shown.pixel(shown.width() * (2 * bar + 1) / 16, shown.height() * 3 / 4));
        return grey;
    };
    QList<int> faint;
    QVERIFY(QTest::qWaitFor(
        [&] {
            rig.pictureArrives();
            faint = levels();
            return *std::max_element(faint.begin(), faint.end())
                       - *std::min_element(faint.begin(), faint.end())
                   <= 12;
        },
        20000));
    saveShot(rig.picture(), QStringLiteral("Y12 faint"));

    // In the camera's 12 bits, from just below the darkest bar to just above the brightest.
    const int black = qMax(0, (*std::min_element(faint.begin(), faint.end()) - 1) * 4095 / 255);
    const int white = (*std::max_element(faint.begin(), faint.end()) + 1) * 4095 / 255;
    onModal([&](QWidget *dialog) {
        dialog->findChild<QSpinBox *>(QStringLiteral("whitePoint"))->setValue(white);
        dialog->findChild<QSpinBox *>(QStringLiteral("blackPoint"))->setValue(black);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    form.mnuDisplay->trigger();
    QList<int> stretched;
    const bool apart = QTest::qWaitFor(
        [&] {
            rig.pictureArrives();
            stretched = levels();
            // White brightest, black darkest, yellow above green above blue as in the bars.
            return stretched[0] > 150 && stretched[7] < 60 && stretched[1] > stretched[3]
                   && stretched[3] > stretched[6];
        },
        20000);
    saveShot(rig.picture(), QStringLiteral("Y12 stretched"));
    const auto text = [](const QList<int> &grey) {
        QStringList out;
        for (int g : grey)
            out << QString::number(g);
        return out.join(QLatin1Char(' '));
    };
    QVERIFY2(apart, qPrintable(QStringLiteral("bars %1 stretched to %2 (levels %3 to %4)")
                                   .arg(text(faint), text(stretched))
                                   .arg(black)
                                   .arg(white)));
}

void VideoVividTest::unplugDuringPreview()
{
    VividRig rig;
    rig.open();
    QVERIFY(rig.pictureArrives());
    QVERIFY(setVividControl(QStringLiteral("disconnect"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("Video device lost: vivid"), 20000);
    QTRY_COMPARE(videoHandles(), 0);
    QSize image;
    QVERIFY(!rig.sub()->getStatus(&image));

    // Once let go, the camera is back and a new connect shows it.
    QTRY_VERIFY_WITH_TIMEOUT(rig.layer->driverDescription(0), 20000);
    QVERIFY(rig.sub()->driverConnect(0));
    rig.sub()->setPreview(true);
    QVERIFY(rig.pictureArrives());
}

void VideoVividTest::streamDoesNotStart_data()
{
    QTest::addColumn<bool>("afterFormat");
    QTest::newRow("at connect") << false;
    QTest::newRow("after a format change") << true;
}

void VideoVividTest::streamDoesNotStart()
{
    QFETCH(bool, afterFormat);
    VividRig rig;
    if (!afterFormat)
        QVERIFY(setVividControl(QStringLiteral("inject_vidioc_streamon_error"), 1));
    Form2 &form = rig.open();
    if (afterFormat) {
        QVERIFY(rig.pictureArrives());
        QVERIFY(setVividControl(QStringLiteral("inject_vidioc_streamon_error"), 1));
        onModal([](QWidget *dialog) {
            auto *formats = dialog->findChild<QComboBox *>(QStringLiteral("pixelFormat"));
            formats->setCurrentIndex(formats->findData(V4L2_PIX_FMT_UYVY));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        form.mnuFormat->trigger();
    }
    QTRY_VERIFY2_WITH_TIMEOUT(
        rig.status().startsWith(QLatin1String("The camera does not start streaming: ")),
        qPrintable(rig.status()), 20000);
    QVERIFY(rig.status().size() > 40); // with the system's reason
}

void VideoVividTest::brokenAndDroppedBuffers()
{
    VividRig rig;
    rig.open();
    QVERIFY(rig.pictureArrives());
    // Half the buffers dropped: the picture goes on.
    QVERIFY(setVividControl(QStringLiteral("percentage_of_dropped_buffers"), 50));
    QVERIFY(rig.pictureArrives());
    QVERIFY(rig.pictureArrives());
    QVERIFY(setVividControl(QStringLiteral("percentage_of_dropped_buffers"), 0));
    // A fatal error of the stream is named in the status line; nothing is left held.
    QVERIFY(setVividControl(QStringLiteral("inject_fatal_streaming_error"), 1));
    QTRY_VERIFY2_WITH_TIMEOUT(rig.status().startsWith(QLatin1String("Video stream stopped"))
                                  || rig.status().startsWith(QLatin1String("Video device lost")),
                              qPrintable(rig.status()), 20000);
    rig.close();
    QTRY_COMPARE(videoHandles(), 0);
}

void VideoVividTest::sourceDialogOnEveryControlType()
{
    VividRig rig;
    rig.open();
    QVERIFY(rig.pictureArrives());
    SourceDialog dialog(*rig.sub()->device(), rig.form.get());
    dialog.show();
    const auto editor = [&](const char *key) -> QWidget * {
        for (const DeviceControl &control : rig.sub()->device()->controls()) {
            if (controlKey(control.name) == QLatin1String(key))
                return dialog.findChild<QWidget *>(QStringLiteral("control%1").arg(control.id));
        }
        return nullptr;
    };
    // Read-only and inactive controls are shown but cannot be changed; compound ones are left
    // out; the plain kinds are all there.
    QVERIFY(editor("read_only_integer_32_bits")
            && !editor("read_only_integer_32_bits")->isEnabled());
    QVERIFY(editor("gain") && !editor("gain")->isEnabled());
    QVERIFY(!editor("gain")->toolTip().isEmpty()); // it changes by itself
    for (const char *compound :
         {"u32_1_element_array", "u16_8x16_matrix", "area", "string", "u8_pixel_array"})
        QVERIFY2(!editor(compound), compound);
    for (const char *plain :
         {"brightness", "boolean", "menu", "integer_menu", "button", "integer_32_bits"})
        QVERIFY2(editor(plain), plain);

    // A slider drag sends one value, when it is let go, and reads no other control back.
    QVERIFY(editor("brightness"));
    auto *slider = editor("brightness")->findChild<QSlider *>();
    rig.kernel->sets = rig.kernel->reads = 0;
    slider->setSliderDown(true);
    for (int value = 10; value <= 200; value += 10)
        slider->setValue(value);
    QCOMPARE(rig.kernel->sets, 0);
    slider->setSliderDown(false);
    QCOMPARE(rig.kernel->sets, 1);
    QVERIFY2(rig.kernel->reads <= 1, qPrintable(QString::number(rig.kernel->reads)));
    const int fd = ::open("/dev/video0", O_RDWR | O_CLOEXEC);
    v4l2_control brightness{V4L2_CID_BRIGHTNESS, 0};
    QVERIFY(::ioctl(fd, VIDIOC_G_CTRL, &brightness) == 0);
    ::close(fd);
    QCOMPARE(brightness.value, 200);

    // A control that changes others (automatic gain) has them read again: gain becomes active.
    auto *automatic = qobject_cast<QAbstractButton *>(editor("gain_automatic"));
    QVERIFY(automatic);
    automatic->click();
    QTRY_VERIFY(editor("gain")->isEnabled());
}

// "Save picture" in colour and in 12-bit mono, into VORUNA_SAVE_DIR: the files are read there by
// Astropy once the guest has ended (vivid_fits.sh).
void VideoVividTest::savedForAnotherReader()
{
    const QString folder = qEnvironmentVariable("VORUNA_SAVE_DIR");
    if (folder.isEmpty())
        QSKIP("VORUNA_SAVE_DIR names no folder to save into");
    VividRig rig;
    Form2 &form = rig.open();
    QVERIFY(rig.pictureArrives());
    QVERIFY(form.savePicture(folder + QStringLiteral("/vivid-colour.fits")));
    StreamFormat format = rig.sub()->device()->format();
    format.pixelFormat = V4L2_PIX_FMT_Y12;
    QVERIFY(rig.sub()->device()->setFormat(format));
    QTRY_VERIFY_WITH_TIMEOUT(rig.pictureArrives() && rig.sub()->newestFrame().sampleBits == 12,
                             20000);
    QVERIFY(form.savePicture(folder + QStringLiteral("/vivid-y12.fits")));
}

QTEST_MAIN(VideoVividTest)
#include "video_vivid.moc"
