// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/guidestore.h"
#include "guide/window/guidegraph.h"
#include "guide/window/guidewindow.h"
#include "support/tempconfighome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QGroupBox>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTest>

#include <array>
#include <cmath>
#include <memory>

using namespace voruna;

namespace {

// Counts the adaptor's commands; every one goes out.
class FakeOutput : public GuideOutput {
public:
    bool startMove(GuideDirection direction) override
    {
        ++starts[int(direction)];
        return true;
    }
    bool stopMove(GuideDirection direction) override
    {
        ++stops[int(direction)];
        return true;
    }
    std::array<int, 4> starts{}, stops{};
};

// The window over a session, with a configuration home of its own.
struct Fixture {
    TempConfigHome home;
    FakeOutput output;
    GuideSession session{output};
    std::unique_ptr<GuideWindow> window;

    Fixture() { window = std::make_unique<GuideWindow>(session); }
    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString text(const char *label) const { return child<QLabel>(label)->text(); }
};

CameraFacts skyFacts()
{
    CameraFacts facts;
    facts.name = QStringLiteral("Sky");
    facts.pixelWidthMicrons = facts.pixelHeightMicrons = 5.2;
    return facts;
}

Calibration goodCalibration()
{
    Calibration c;
    c.west = QPointF(7.5, 0.4);
    c.north = QPointF(0.4, -7.5);
    return c;
}

// A mnemonic's letter, lower case; none when the text has no '&' before a letter.
QChar accessKey(const QString &text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toLower();
        if (text[i] == QLatin1Char('&'))
            ++i;
    }
    return QChar();
}

} // namespace

class GuideWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void numbers_data();
    void numbers();
    void stopsTheSession_data();
    void stopsTheSession();
    void remembersTheCalibration_data();
    void remembersTheCalibration();
    void saysWhatToDoNext_data();
    void saysWhatToDoNext();
    void accessKeysApart();
    void followsThePalette();
};

void GuideWindowTest::numbers_data()
{
    QTest::addColumn<double>("knownScale");
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<QList<QPointF>>("offsets"); // pixels along RA and Dec
    QTest::addColumn<QStringList>("expected");   // RMS RA, Dec, total, peak, SNR
    QTest::addColumn<int>("drawn");
    QTest::addColumn<int>("idleFirst"); // records that come before guiding starts
    const QList<QPointF> square{{1, 0.5}, {-1, -0.5}, {1, 0.5}, {-1, -0.5}};
    QTest::newRow("pixels without a scale")
        << 0.0 << QList<double>{10, 12, 14, 16} << square
        << QStringList{"RA 1.00 px", "Dec 0.50 px", "Total 1.12 px", "Peak RA 1.00 px, Dec 0.50 px",
                       "SNR 40"}
        << 4 << 0;
    QTest::newRow("arcseconds at the camera's scale")
        << 2.0 << QList<double>{10, 12, 14, 16} << square
        << QStringList{"RA 2.00\"", "Dec 1.00\"", "Total 2.24\"", "Peak RA 2.00\", Dec 1.00\"",
                       "SNR 40"}
        << 4 << 0;
    QTest::newRow("older than the shown five minutes")
        << 2.0 << QList<double>{0, 400, 402} << QList<QPointF>{{9, 9}, {1, 0}, {-1, 0}}
        << QStringList{"RA 2.00\"", "Dec 0.00\"", "Total 2.00\"", "Peak RA 2.00\", Dec 0.00\"",
                       "SNR 40"}
        << 2 << 0;
    QTest::newRow("star lost: its frames skipped, the SNR of the last one found")
        << 2.0 << QList<double>{10, 12, 14}
        << QList<QPointF>{{1, 0.5}, {qQNaN(), qQNaN()}, {qQNaN(), qQNaN()}}
        << QStringList{"RA 2.00\"", "Dec 1.00\"", "Total 2.24\"", "Peak RA 2.00\", Dec 1.00\"",
                       "SNR 40"}
        << 1 << 0;
    QTest::newRow("frames before guiding left out")
        << 2.0 << QList<double>{10, 12, 14} << QList<QPointF>{{5, 5}, {-5, 5}, {1, -0.5}}
        << QStringList{"RA 2.00\"", "Dec 1.00\"", "Total 2.24\"", "Peak RA 2.00\", Dec 1.00\"",
                       "SNR 40"}
        << 1 << 2;
}

void GuideWindowTest::numbers()
{
    QFETCH(double, knownScale);
    QFETCH(QList<double>, times);
    QFETCH(QList<QPointF>, offsets);
    QFETCH(QStringList, expected);
    QFETCH(int, drawn);
    QFETCH(int, idleFirst);
    Fixture f;
    f.window->setCamera(QStringLiteral("sky"), QStringLiteral("Sky"), skyFacts(), knownScale);
    f.session.engine().useCalibration(goodCalibration());
    for (int i = 0; i < times.size(); ++i) {
        if (i == idleFirst)
            QVERIFY(f.session.guide(QPointF(100, 100)));
        GuideRecord r;
        r.time = times[i];
        r.raPixels = offsets[i].x();
        r.decPixels = offsets[i].y();
        const bool lost = std::isnan(r.raPixels);
        r.loss = lost ? StarLoss::NoStar : StarLoss::None;
        r.snr = lost ? 0.0 : 40.0;
        Q_EMIT f.session.recorded(r);
    }
    const auto shown = [&f] {
        return QStringList{f.text("lblRmsRa"), f.text("lblRmsDec"), f.text("lblRmsTotal"),
                           f.text("lblPeak"), f.text("lblSnr")};
    };
    QTRY_COMPARE(shown(), expected);
    QCOMPARE(f.child<GuideGraph>("graph")->raPoints().size(), drawn);
}

void GuideWindowTest::stopsTheSession_data()
{
    QTest::addColumn<QString>("start"); // the button that starts
    QTest::addColumn<bool>("close");    // closing the window rather than Stop
    QTest::newRow("Stop while calibrating") << "cmdCalibrate" << false;
    QTest::newRow("closing while calibrating") << "cmdCalibrate" << true;
    QTest::newRow("Stop while guiding") << "cmdGuide" << false;
    QTest::newRow("closing while guiding") << "cmdGuide" << true;
}

void GuideWindowTest::stopsTheSession()
{
    QFETCH(QString, start);
    QFETCH(bool, close);
    Fixture f;
    GuideStore().saveCalibration(QStringLiteral("sky"), 3, goodCalibration());
    f.window->setCamera(QStringLiteral("sky"), QStringLiteral("Sky"), skyFacts(), 2.0);
    f.window->setPort(3);
    f.window->show();
    f.window->setStarPosition(QPointF(120.5, 80.25));
    auto *starter = f.window->findChild<QPushButton *>(start);
    if (start == QLatin1String("cmdCalibrate"))
        starter = f.child<QPushButton>("cmdCalibrateAgain");
    QTRY_VERIFY(starter->isEnabled());
    QTest::mouseClick(starter, Qt::LeftButton);
    QTRY_VERIFY(f.session.isActive());
    QTRY_VERIFY(f.child<QPushButton>("cmdStop")->isEnabled());
    if (close)
        f.window->close();
    else
        QTest::mouseClick(f.child<QPushButton>("cmdStop"), Qt::LeftButton);
    QTRY_VERIFY(!f.session.isActive());
    for (int d = 0; d < 4; ++d)
        QCOMPARE(f.output.stops[d] >= f.output.starts[d], true);
}

void GuideWindowTest::remembersTheCalibration_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("calibrated");
    QTest::newRow("same camera and port") << "sky" << 3 << true;
    QTest::newRow("another port") << "sky" << 4 << false;
    QTest::newRow("another camera") << "v4l2:/dev/video0" << 3 << false;
}

void GuideWindowTest::remembersTheCalibration()
{
    QFETCH(QString, camera);
    QFETCH(int, port);
    QFETCH(bool, calibrated);
    Fixture f;
    GuideStore().saveCalibration(QStringLiteral("sky"), 3, goodCalibration());
    // What the window held before does not carry over to another camera or port.
    f.session.engine().useCalibration(goodCalibration());
    f.window->setCamera(camera, camera, skyFacts(), 0.0);
    f.window->setPort(port);
    f.window->setStarPosition(QPointF(50, 60));
    QCOMPARE(!f.child<QPushButton>("cmdCalibrateAgain")->isHidden(), calibrated);
    QCOMPARE(!f.child<QPushButton>("cmdCalibrate")->isHidden(), !calibrated);
    QCOMPARE(f.child<QPushButton>("cmdGuide")->isEnabled(), calibrated);

    // A calibration found is remembered for the camera and port in use.
    Calibration found = goodCalibration();
    found.west = QPointF(6.25, -1.5);
    Q_EMIT f.session.calibrationFound(found);
    QCOMPARE(GuideStore().calibration(camera, port).value().west, found.west);
}

void GuideWindowTest::saysWhatToDoNext_data()
{
    QTest::addColumn<QString>("camera"); // the calibration remembered is sky's on port 3
    QTest::addColumn<bool>("star");
    QTest::addColumn<bool>("held");  // the loop holds a calibration of its own
    QTest::addColumn<bool>("guide"); // guided, then Stop
    QTest::addColumn<QString>("expected");
    const QString calibrate = QStringLiteral("Ready to calibrate");
    const QString guide = QStringLiteral("Calibrated: ready to guide");
    QTest::newRow("no star") << "sky" << false << false << false
                             << "No guide star: pick one in the video window";
    QTest::newRow("never calibrated") << "v4l2:/dev/video0" << true << false << false << calibrate;
    QTest::newRow("another camera's calibration")
        << "v4l2:/dev/video0" << true << true << false << calibrate;
    QTest::newRow("remembered") << "sky" << true << false << false << guide;
    QTest::newRow("guided, then stopped") << "sky" << true << false << true << guide;
}

void GuideWindowTest::saysWhatToDoNext()
{
    QFETCH(QString, camera);
    QFETCH(bool, star);
    QFETCH(bool, held);
    QFETCH(bool, guide);
    QFETCH(QString, expected);
    Fixture f;
    GuideStore().saveCalibration(QStringLiteral("sky"), 3, goodCalibration());
    if (held)
        f.session.engine().useCalibration(goodCalibration());
    f.window->setCamera(camera, camera, skyFacts(), 2.0);
    f.window->setPort(3);
    f.window->show();
    // The star is chosen with the window open.
    if (star)
        f.window->setStarPosition(QPointF(120.5, 80.25));
    if (guide) {
        QTRY_VERIFY(f.child<QPushButton>("cmdGuide")->isEnabled());
        QTest::mouseClick(f.child<QPushButton>("cmdGuide"), Qt::LeftButton);
        QTRY_COMPARE(f.text("lblState"), QStringLiteral("Guiding"));
        QTest::mouseClick(f.child<QPushButton>("cmdStop"), Qt::LeftButton);
    }
    QTRY_COMPARE(f.text("lblState"), expected);
}

void GuideWindowTest::accessKeysApart()
{
    Fixture f;
    QStringList texts;
    for (const QAbstractButton *b : f.window->findChildren<QAbstractButton *>())
        texts << b->text();
    for (const QLabel *l : f.window->findChildren<QLabel *>())
        if (l->buddy())
            texts << l->text();
    for (const QGroupBox *g : f.window->findChildren<QGroupBox *>())
        texts << g->title();
    QHash<QChar, QString> seen;
    for (const QString &text : texts) {
        const QChar key = accessKey(text);
        if (key.isNull())
            continue;
        QVERIFY2(!seen.contains(key),
                 qPrintable(QStringLiteral("%1 and %2").arg(seen.value(key), text)));
        seen.insert(key, text);
    }
    QVERIFY(seen.size() >= 12);
}

void GuideWindowTest::followsThePalette()
{
    Fixture f;
    const QPalette before = QApplication::palette();
    QPalette night(QColor(160, 0, 0), QColor(0, 0, 0));
    night.setColor(QPalette::Base, QColor(10, 0, 0));
    night.setColor(QPalette::Text, QColor(200, 0, 0));
    night.setColor(QPalette::Highlight, QColor(120, 0, 0));
    QApplication::setPalette(night);
    QChart *chart = f.child<QChartView>("errorChart")->chart();
    QTRY_COMPARE(chart->plotAreaBackgroundBrush().color(), QColor(10, 0, 0));
    const auto series = chart->series();
    const QPen ra = static_cast<QLineSeries *>(series.at(0))->pen();
    const QPen dec = static_cast<QLineSeries *>(series.at(1))->pen();
    QApplication::setPalette(before);
    QCOMPARE(ra.color(), QColor(120, 0, 0));
    QCOMPARE(dec.color(), QColor(200, 0, 0));
    QVERIFY(ra.style() != dec.style());
}

QTEST_MAIN(GuideWindowTest)
#include "guide_window.moc"
