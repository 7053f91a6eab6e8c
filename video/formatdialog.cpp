// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/formatdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

namespace voruna {

namespace {

QString rateText(const FrameInterval &interval)
{
    return QStringLiteral("%1 fps").arg(interval.fps(), 0, 'g', 3);
}

FrameInterval intervalOf(const QVariant &data)
{
    const QPoint rate = data.toPoint();
    return {quint32(rate.x()), quint32(rate.y())};
}

} // namespace

FormatDialog::FormatDialog(const CaptureDevice &device, QWidget *parent)
    : QDialog(parent)
    , m_device(device)
    , m_current(device.format())
    , m_pixelFormat(new QComboBox)
    , m_frameSize(new QComboBox)
    , m_frameRate(new QComboBox)
{
    setWindowTitle(tr("Video Format"));
    m_pixelFormat->setObjectName(QStringLiteral("pixelFormat"));
    m_frameSize->setObjectName(QStringLiteral("frameSize"));
    m_frameRate->setObjectName(QStringLiteral("frameRate"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto *layout = new QFormLayout(this);
    layout->addRow(tr("Pixel format:"), m_pixelFormat);
    layout->addRow(tr("Frame size:"), m_frameSize);
    layout->addRow(tr("Frame rate:"), m_frameRate);
    layout->addRow(buttons);
    for (const PixelFormatChoice &choice : device.pixelFormats())
        m_pixelFormat->addItem(choice.description, choice.pixelFormat);
    m_pixelFormat->setCurrentIndex(std::max(0, m_pixelFormat->findData(m_current.pixelFormat)));
    fillSizes();
    connect(m_pixelFormat, &QComboBox::currentIndexChanged, this, &FormatDialog::fillSizes);
    connect(m_frameSize, &QComboBox::currentIndexChanged, this, &FormatDialog::fillRates);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void FormatDialog::fillSizes()
{
    const QSignalBlocker blocker(m_frameSize);
    const QSize keep = m_frameSize->count() ? m_frameSize->currentData().toSize() : m_current.size;
    m_frameSize->clear();
    const quint32 pixelFormat = m_pixelFormat->currentData().toUInt();
    for (QSize size : m_device.frameSizes(pixelFormat))
        m_frameSize->addItem(m_device.frameSizeText(pixelFormat, size), size);
    m_frameSize->setCurrentIndex(std::max(0, m_frameSize->findData(keep)));
    fillRates();
}

void FormatDialog::fillRates()
{
    const FrameInterval keep =
        m_frameRate->count() ? intervalOf(m_frameRate->currentData()) : m_current.interval;
    m_frameRate->clear();
    const QList<FrameInterval> intervals = m_device.frameIntervals(
        m_pixelFormat->currentData().toUInt(), m_frameSize->currentData().toSize());
    for (const FrameInterval &interval : intervals) {
        m_frameRate->addItem(rateText(interval),
                             QPoint(int(interval.numerator), int(interval.denominator)));
        if (interval == keep)
            m_frameRate->setCurrentIndex(m_frameRate->count() - 1);
    }
}

StreamFormat FormatDialog::chosenFormat() const
{
    StreamFormat format;
    format.pixelFormat = m_pixelFormat->currentData().toUInt();
    format.size = m_frameSize->currentData().toSize();
    format.interval = intervalOf(m_frameRate->currentData());
    return format;
}

} // namespace voruna
