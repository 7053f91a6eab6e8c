// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ownedfd.h"
#include "mountfeed/mountfeed.h"
#include "support/simprocess.h"
#include "support/skypicture.h"
#include "video/capture/capturedevice.h"
#include "video/capturesubwindow.h"
#include "video/drivers/sky/skycamera.h"
#include "video/form2.h"
#include "video/previewwidget.h"

#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

using namespace voruna;

namespace {

// One camera that is listed and never opens: the sky must come after it.
class OneCamera final : public DriverSource {
public:
    std::vector<DriverDescription> drivers() override
    {
        return {{QStringLiteral("Test Camera"), {}}};
    }
    std::unique_ptr<CaptureDevice> open(const QString &, QString *error) override
    {
        *error = QStringLiteral("not a real camera");
        return nullptr;
    }
};

// No camera attached.
class NoCameras final : public DriverSource {
public:
    std::vector<DriverDescription> drivers() override { return {}; }
    std::unique_ptr<CaptureDevice> open(const QString &, QString *error) override
    {
        *error = QStringLiteral("no camera");
        return nullptr;
    }
};

std::unique_ptr<CaptureLayer> layerWithSky(const QString &home, bool camera = true)
{
    std::vector<std::unique_ptr<DriverSource>> sources;
    if (camera)
        sources.push_back(std::make_unique<OneCamera>());
    else
        sources.push_back(std::make_unique<NoCameras>());
    sources.push_back(
        std::make_unique<SkyDriverSource>(SimProcess::runtimeFolder(home) + "/voruna"));
    return makeCaptureLayer(std::move(sources));
}

QString driverName(CaptureLayer &layer, int index)
{
    const std::optional<DriverDescription> d = layer.driverDescription(index);
    return d ? d->name : QStringLiteral("(none)");
}

QImage shownPicture(CaptureWindow *window)
{
    const QImage &shown = dynamic_cast<QWidget *>(window)->findChild<PreviewWidget *>()->frame();
    return shown.convertToFormat(QImage::Format_RGB888);
}

// The guide star's centre in the picture shown now.
std::optional<QPointF> guideStar(CaptureWindow *window, QPointF around)
{
    return starCentroid(shownPicture(window), around);
}

bool writeTo(const QString &device, const QByteArray &bytes)
{
    const OwnedFd fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    return fd.isValid()
           && ::write(fd.get(), bytes.constData(), std::size_t(bytes.size())) == bytes.size();
}

} // namespace

class SkyDriverTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void listedOnlyWhileSimulatorRuns_data();
    void listedOnlyWhileSimulatorRuns();
    void fileInTheWayIsLeftAlone();
    void holdingNorthMovesTheStarUp();
    void formatsAndControls();
    void lostWhenSimulatorStops();
    void videoWindowShowsTheSkyWithoutCamera();

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

void SkyDriverTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void SkyDriverTest::listedOnlyWhileSimulatorRuns_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGKILL") << SIGKILL;
}

void SkyDriverTest::listedOnlyWhileSimulatorRuns()
{
    QFETCH(int, signal);
    const std::unique_ptr<CaptureLayer> layer = layerWithSky(m_home->path());
    QCOMPARE(driverName(*layer, 0), "Test Camera");
    QCOMPARE(driverName(*layer, 1), "(none)");

    SimProcess sim(m_home->path());
    QVERIFY2(sim.start({"--port", "4"}), qPrintable(sim.errorString()));
    const QString socket = mountFeedPath(SimProcess::runtimeFolder(m_home->path()) + "/voruna", 4);
    QCOMPARE(driverName(*layer, 0), "Test Camera");
    QCOMPARE(driverName(*layer, 1), SkyDriverSource::driverName());
    QCOMPARE(driverName(*layer, 2), "(none)");

    if (signal == SIGKILL)
        sim.kill();
    else
        QVERIFY(signal == SIGINT ? sim.interrupt() : sim.terminate());
    QCOMPARE(QFileInfo::exists(socket), signal == SIGKILL); // only a killed one leaves it
    QCOMPARE(driverName(*layer, 1), "(none)");

    // The next simulator on that port takes the place of a killed one.
    SimProcess next(m_home->path());
    QVERIFY2(next.start({"--port", "4"}), qPrintable(next.errorString()));
    QVERIFY2(next.lines().join('\n').contains("sky: mount published on " + socket),
             qPrintable(next.lines().join('\n')));
    QCOMPARE(driverName(*layer, 1), SkyDriverSource::driverName());
}

void SkyDriverTest::fileInTheWayIsLeftAlone()
{
    // Something that is not a simulator's socket where the socket would go: the simulator
    // still serves the port, publishes nothing and does not touch the file.
    const QString folder = SimProcess::runtimeFolder(m_home->path()) + "/voruna";
    QVERIFY(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile file(mountFeedPath(folder, 5));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start({"--port", "5"}), qPrintable(sim.errorString()));
    QVERIFY2(sim.lines().join('\n').contains("sky: not published: " + file.fileName()
                                             + " is there and is not a socket"),
             qPrintable(sim.lines().join('\n')));
    const std::unique_ptr<CaptureLayer> layer = layerWithSky(m_home->path());
    QCOMPARE(driverName(*layer, 1), "(none)");
    QVERIFY(sim.terminate());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void SkyDriverTest::holdingNorthMovesTheStarUp()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start({"--guide-rate", "15"}), qPrintable(sim.errorString()));
    const std::unique_ptr<CaptureLayer> layer = layerWithSky(m_home->path());
    QMdiArea area;
    area.resize(900, 700);
    CaptureWindow *window = layer->createCaptureWindow(&area, "sky", QRect(0, 0, 700, 560));
    QVERIFY(window->driverConnect(1));
    window->setPreviewRate(20);
    window->setPreview(true);
    QTRY_VERIFY(!shownPicture(window).isNull());
    const QSize size = shownPicture(window).size();
    const std::optional<QPointF> start =
        guideStar(window, QPointF(size.width() / 2, size.height() / 2));
    QVERIFY(start);

    // About a second north at 15"/s is some 7.5 px up at 2"/px; the slow drift adds well under one.
    QVERIFY(writeTo(sim.devicePath(), ":Mn#"));
    QVERIFY(!sim.waitForLine(":Mn# DEC+ start", 1000).isEmpty());
    QTest::qWait(1000);
    QVERIFY(writeTo(sim.devicePath(), ":Qn#"));
    const QString stopped = sim.waitForLine(":Qn# DEC+ stop after", 1000);
    QVERIFY(!stopped.isEmpty());
    const double dec = stopped.section("Dec ", 1).section('"', 0, 0).toDouble();
    QVERIFY2(dec > 10.0, qPrintable(stopped));
    QTest::qWait(200); // a frame or more after the stop
    const std::optional<QPointF> end = guideStar(window, *start - QPointF(0, dec / 2));
    QVERIFY(end);
    const QString moved = QStringLiteral("from %1, %2 to %3, %4 after %5")
                              .arg(start->x())
                              .arg(start->y())
                              .arg(end->x())
                              .arg(end->y())
                              .arg(stopped);
    QVERIFY2(std::abs((start->y() - end->y()) - dec / 2) < 1.0, qPrintable(moved));
    QVERIFY2(std::abs(end->x() - start->x()) < 0.5, qPrintable(moved));
}

void SkyDriverTest::formatsAndControls()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<CaptureLayer> layer = layerWithSky(m_home->path());
    QMdiArea area;
    auto *window = dynamic_cast<CaptureSubWindow *>(
        layer->createCaptureWindow(&area, "sky", QRect(0, 0, 160, 120)));
    QVERIFY(window);
    QStringList statuses;
    window->setStatusHook([&](CaptureWindow *, int, const char *text) {
        statuses << QString::fromLocal8Bit(text);
        return 0;
    });
    QVERIFY(window->driverConnect(1));
    QVERIFY2(statuses.join('\n').contains("2.0\"/px"), qPrintable(statuses.join('\n')));
    CaptureDevice *camera = window->device();
    QCOMPARE(camera->frameSizes(camera->format().pixelFormat),
             (QList<QSize>{{320, 240}, {640, 480}, {800, 600}, {1280, 720}}));
    StreamFormat wanted = camera->format();
    wanted.size = QSize(1280, 720);
    QVERIFY(camera->setFormat(wanted));
    wanted.size = QSize(100, 100);
    QVERIFY(!camera->setFormat(wanted));
    QSize size;
    QVERIFY(window->getStatus(&size));
    QCOMPARE(size, QSize(1280, 720));
    window->setPreview(true);
    QTRY_COMPARE(shownPicture(window).size(), QSize(1280, 720));

    QVERIFY(camera->setControl(SkyCamera::exposureControl, 500));
    QVERIFY2(statuses.last().contains(" at 2 fps"), qPrintable(statuses.last()));
    QVERIFY(!camera->setControl(SkyCamera::exposureControl, 0));
    QVERIFY(!camera->setControl(SkyCamera::gainControl, 101));
    QCOMPARE(camera->controls().at(0).value, 500);

    // With the telescope covered the guide star is gone from the pictures shown.
    QVERIFY(guideStar(window, QPointF(640, 360)));
    QVERIFY(!camera->setControl(SkyCamera::coverControl, 2));
    QVERIFY(camera->setControl(SkyCamera::coverControl, 1));
    QTRY_VERIFY(!guideStar(window, QPointF(640, 360)));
}

void SkyDriverTest::lostWhenSimulatorStops()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<CaptureLayer> layer = layerWithSky(m_home->path());
    QMdiArea area;
    CaptureWindow *window = layer->createCaptureWindow(&area, "sky", QRect(0, 0, 160, 120));
    QList<int> errors;
    window->setErrorHook([&](CaptureWindow *, int id, const char *) {
        errors << id;
        return 0;
    });
    QVERIFY(window->driverConnect(1));
    window->setPreview(true);
    QTRY_VERIFY(!shownPicture(window).isNull());
    sim.kill();
    QTRY_COMPARE(errors, QList<int>{2}); // the camera is lost, once
    QSize size;
    QVERIFY(!window->getStatus(&size));
    QVERIFY(!shownPicture(window).isNull()); // the last picture stays
    // Nothing to connect now: the driver is gone from the list.
    QVERIFY(!window->driverConnect(1));
}

void SkyDriverTest::videoWindowShowsTheSkyWithoutCamera()
{
    SimProcess sim(m_home->path());
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<CaptureLayer> layer = layerWithSky(m_home->path(), false);
    Form2 form(*layer);
    form.Form2_Form_Load();
    form.show();
    CaptureWindow *window = form.captureWindow();
    QVERIFY(window);
    QCOMPARE(dynamic_cast<QWidget *>(window)->windowTitle(), SkyDriverSource::driverName());
    QVERIFY(form.mnuSource->isEnabled() && form.mnuFormat->isEnabled()
            && form.mnuDisplay->isEnabled());
    QTRY_VERIFY(!shownPicture(window).isNull());
    const QImage picture = shownPicture(window);
    QCOMPARE(picture.size(), QSize(320, 240));
    QVERIFY(guideStar(window, QPointF(160, 120)));
    QVERIFY2(form.StatusBar->currentMessage().contains("320 x 240"),
             qPrintable(form.StatusBar->currentMessage()));
    form.Form2_Form_Unload();
}

QTEST_MAIN(SkyDriverTest)
#include "sky_driver.moc"
