// SPDX-License-Identifier: GPL-3.0-or-later
#include "guide/window/guidewindow.h"

#include "guide/window/guidegraph.h"
#include "guide/window/guideparameters.h"
#include "guide/window/pixelscalebox.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace voruna {

namespace {

// The longest time the graph can show, seconds; older records are let go.
constexpr double kLongestShown = 600.0;
// The least time between two drawings of the graph for new records, milliseconds.
constexpr qint64 kRedrawMs = 200;

template<typename Widget>
Widget *named(const char *name, QWidget *parent)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton *button(const char *name, const QString &text, QWidget *parent)
{
    auto *b = named<QPushButton>(name, parent);
    b->setText(text);
    return b;
}

// The pixel size the scale is computed from: binning included, the mean of the two sides.
double pixelMicrons(const CameraFacts &facts)
{
    const double w = facts.pixelWidthMicrons * std::max(1, facts.binX);
    const double h = facts.pixelHeightMicrons * std::max(1, facts.binY);
    if (w > 0.0 && h > 0.0)
        return std::sqrt(w * h);
    return std::max({w, h, 0.0});
}

} // namespace

GuideWindow::GuideWindow(GuideSession &session, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , lblState(named<QLabel>("lblState", this))
    , cmdCalibrate(button("cmdCalibrate", tr("&Calibrate"), this))
    , cmdCalibrateAgain(button("cmdCalibrateAgain", tr("Calibrate agai&n"), this))
    , cmdGuide(button("cmdGuide", tr("&Guide"), this))
    , cmdStop(button("cmdStop", tr("&Stop"), this))
    , lblCalibration(named<QLabel>("lblCalibration", this))
    , lblWarnings(named<QLabel>("lblWarnings", this))
    , graph(named<GuideGraph>("graph", this))
    , lblRmsRa(named<QLabel>("lblRmsRa", this))
    , lblRmsDec(named<QLabel>("lblRmsDec", this))
    , lblRmsTotal(named<QLabel>("lblRmsTotal", this))
    , lblPeak(named<QLabel>("lblPeak", this))
    , lblSnr(named<QLabel>("lblSnr", this))
    , cmboShown(named<QComboBox>("cmboShown", this))
    , parameters(new GuideParameters(this))
    , pixelScale(new PixelScaleBox(this))
    , m_session(session)
{
    setObjectName(QStringLiteral("GuideWindow"));
    setWindowTitle(tr("Voruna Guiding"));
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(8.25);
    setFont(font);
    QFont bold = font;
    bold.setPointSizeF(11.0);
    bold.setBold(true);
    lblState->setFont(bold);
    for (QLabel *label : {lblCalibration, lblWarnings})
        label->setWordWrap(true);
    cmdStop->setToolTip(tr("Stops calibrating or guiding; every correction under way stops"));
    for (int minutes : {1, 2, 5, 10})
        cmboShown->addItem(tr("%n minute(s)", nullptr, minutes), minutes * 60);
    cmboShown->setCurrentIndex(2);
    layOut();

    parameters->setSettings(session.engine().guideSettings());
    connect(cmdCalibrate, &QPushButton::clicked, this, &GuideWindow::cmdCalibrate_Click);
    connect(cmdCalibrateAgain, &QPushButton::clicked, this, &GuideWindow::cmdCalibrate_Click);
    connect(cmdGuide, &QPushButton::clicked, this, &GuideWindow::cmdGuide_Click);
    connect(cmdStop, &QPushButton::clicked, this, &GuideWindow::cmdStop_Click);
    connect(&session, &GuideSession::recorded, this, &GuideWindow::onRecorded);
    connect(&session, &GuideSession::stateChanged, this, &GuideWindow::onStateChanged);
    connect(&session, &GuideSession::calibrationFound, this, &GuideWindow::onCalibrationFound);
    connect(parameters, &GuideParameters::changed, this,
            [this] { m_session.engine().setGuideSettings(parameters->settings()); });
    connect(pixelScale, &PixelScaleBox::changed, this, &GuideWindow::scaleEdited);
    connect(cmboShown, &QComboBox::currentIndexChanged, this, &GuideWindow::showNumbers);
    onStateChanged(session.engine().state(), session.engine().stateText());
    showCalibration();
    showNumbers();
}

GuideWindow::~GuideWindow() = default;

void GuideWindow::layOut()
{
    // From the top: the state, the buttons, the calibration, the graph and its numbers, then
    // the parameters beside the pixel scale.
    auto *shown = new QLabel(tr("S&hown:"), this);
    shown->setBuddy(cmboShown);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {cmdCalibrate, cmdCalibrateAgain, cmdGuide, cmdStop}) {
        // Room on both sides of the words: the style's own hint leaves the longest touching
        // the frame.
        const QFontMetrics metrics = b->fontMetrics();
        const int words = metrics.horizontalAdvance(QString(b->text()).remove(QLatin1Char('&')));
        b->setMinimumWidth(std::max(b->sizeHint().width(), words + 4 * metrics.averageCharWidth()));
        buttons->addWidget(b);
    }
    buttons->addStretch();
    auto *numbers = new QHBoxLayout;
    numbers->addWidget(new QLabel(tr("RMS"), this));
    for (QLabel *label : {lblRmsRa, lblRmsDec, lblRmsTotal, lblPeak, lblSnr})
        numbers->addWidget(label);
    numbers->addStretch();
    numbers->addWidget(shown);
    numbers->addWidget(cmboShown);
    auto *boxes = new QHBoxLayout;
    boxes->addWidget(parameters, 3);
    boxes->addWidget(pixelScale, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblState);
    layout->addLayout(buttons);
    layout->addWidget(lblCalibration);
    layout->addWidget(lblWarnings);
    layout->addWidget(graph, 1);
    layout->addLayout(numbers);
    layout->addLayout(boxes);
    graph->setMinimumHeight(300);
    resize(760, 680);
}

void GuideWindow::setCamera(const QString &cameraKey, const QString &cameraName,
                            const CameraFacts &facts, double knownArcsecPerPixel)
{
    const QSize binning(facts.binX, facts.binY);
    if (cameraKey != m_cameraKey || binning != m_binning)
        m_calibrationFits = false;
    m_cameraKey = cameraKey;
    m_binning = binning;
    pixelScale->setTitle(cameraName.isEmpty() ? tr("Pixel scale")
                                              : tr("Pixel scale of %1").arg(cameraName));
    pixelScale->setCamera(pixelMicrons(facts), knownArcsecPerPixel, m_store.pixelScale(cameraKey));
    m_session.engine().setPlateScale(pixelScale->scale());
    useRememberedCalibration();
    showNumbers();
}

void GuideWindow::setPort(int port)
{
    if (port != m_port)
        m_calibrationFits = false;
    m_port = port;
    useRememberedCalibration();
}

void GuideWindow::setStarPosition(std::optional<QPointF> position)
{
    const bool changed = position.has_value() != m_star.has_value();
    m_star = position;
    if (changed)
        onStateChanged(m_session.engine().state(), m_stateText);
    else
        updateButtons();
}

double GuideWindow::shownSeconds() const
{
    return cmboShown->currentData().toDouble();
}

void GuideWindow::closeEvent(QCloseEvent *event)
{
    if (m_session.isActive())
        m_session.stop();
    updateButtons();
    event->accept();
}

void GuideWindow::cmdCalibrate_Click()
{
    if (!m_star)
        return;
    m_session.calibrate(*m_star);
    onStateChanged(m_session.engine().state(), m_session.engine().stateText());
}

void GuideWindow::cmdGuide_Click()
{
    if (!m_star)
        return;
    if (!calibrated() || !m_session.guide(*m_star)) {
        lblState->setText(tr("Guiding needs a calibration first: press Calibrate"));
        return;
    }
    onStateChanged(m_session.engine().state(), m_session.engine().stateText());
}

void GuideWindow::cmdStop_Click()
{
    m_session.stop();
    onStateChanged(m_session.engine().state(), m_session.engine().stateText());
}

void GuideWindow::onRecorded(const GuideRecord &record)
{
    // Only guiding's frames say how well the star is held: calibration moves it on purpose, and
    // before or after guiding nothing holds it.
    const GuideState state = m_session.engine().state();
    if (state != GuideState::Guiding && state != GuideState::StarLost
        && state != GuideState::CameraSilent)
        return;
    // A new session's clock starts again: its records do not continue the old ones.
    if (!m_records.empty() && record.time < m_records.back().time)
        m_records.clear();
    m_records.push_back(record);
    while (m_records.front().time < record.time - kLongestShown)
        m_records.pop_front();
    // The record comes on the guide loop's path to its corrections: the graph is drawn after
    // it, once for all the records that came meanwhile, and a camera of many frames a second
    // has it drawn a few times a second only.
    if (!m_redrawQueued) {
        m_redrawQueued = true;
        const qint64 wait =
            m_sinceRedraw.isValid() ? std::max<qint64>(0, kRedrawMs - m_sinceRedraw.elapsed()) : 0;
        QTimer::singleShot(int(wait), this, [this] {
            m_redrawQueued = false;
            m_sinceRedraw.start();
            showNumbers();
        });
    }
}

void GuideWindow::onCalibrationFound(const Calibration &calibration)
{
    const bool saved = m_cameraKey.isEmpty() || m_port < 0
                       || m_store.saveCalibration(m_cameraKey, m_port, calibration, m_binning)
                              == StoreResult::Saved;
    m_calibrationFits = true;
    showCalibration();
    if (!saved) {
        QStringList warnings = m_session.engine().calibrationWarnings();
        warnings << tr("This calibration is used now but could not be remembered: %1 cannot be "
                       "written.")
                        .arg(m_store.path());
        lblWarnings->setText(warnings.join(QLatin1Char('\n')));
        lblWarnings->show();
    }
    // The state may have come before the calibration was known to be this camera's.
    onStateChanged(m_session.engine().state(), m_stateText);
}

void GuideWindow::scaleEdited()
{
    if (!m_cameraKey.isEmpty())
        m_store.savePixelScale(m_cameraKey, pixelScale->settings());
    m_session.engine().setPlateScale(pixelScale->scale());
    showNumbers();
}

void GuideWindow::useRememberedCalibration()
{
    if (m_cameraKey.isEmpty() || m_port < 0 || m_session.isActive())
        return;
    m_session.setCamera(m_cameraKey, m_port);
    if (const auto remembered = m_store.calibration(m_cameraKey, m_port, m_binning)) {
        m_session.engine().useCalibration(*remembered);
        m_calibrationFits = true;
    }
    onStateChanged(m_session.engine().state(), m_session.engine().stateText());
    showCalibration();
}

bool GuideWindow::calibrated() const
{
    // The engine keeps the calibration it had; one of another camera, port or binning would
    // turn the corrections the wrong way.
    const auto calibration = m_session.engine().calibration();
    return m_calibrationFits && calibration && calibration->isValid();
}

QString GuideWindow::unit() const
{
    return pixelScale->scale() > 0.0 ? tr("arcseconds") : tr("pixels");
}

} // namespace voruna
