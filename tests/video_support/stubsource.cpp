// SPDX-License-Identifier: GPL-3.0-or-later
#include "stubsource.h"

#include <QTimer>

#include <algorithm>

namespace voruna::test {

namespace {

class StubDevice final : public CaptureDevice {
public:
    explicit StubDevice(const StubDriver &driver) : m_driver(driver) {}
    bool hasSourceDialog() const override { return m_driver.source; }
    bool hasFormatDialog() const override { return m_driver.format; }
    bool hasDisplayDialog() const override { return m_driver.display; }
    QList<PixelFormatChoice> pixelFormats() const override { return {}; }
    QList<QSize> frameSizes(quint32) const override { return {m_driver.size}; }
    QList<FrameInterval> frameIntervals(quint32, QSize) const override { return {}; }
    StreamFormat format() const override { return {0, m_sized ? m_driver.size : QSize(), {}}; }
    bool setFormat(const StreamFormat &) override { return false; }
    QList<DeviceControl> controls() const override { return {}; }
    bool setControl(quint32, qint32) override { return false; }
    bool start() override
    {
        if (m_driver.sizeLate || m_driver.sent.isValid())
            QTimer::singleShot(0, this, [this] { Q_EMIT frameArrived(); });
        return true;
    }
    bool isLost() const override { return false; }
    bool takeFrame(ShownFrame *shown) override
    {
        m_sized = true;
        const QSize sent = m_driver.sent.isValid() ? m_driver.sent : m_driver.size;
        *shown = {QImage(sent, QImage::Format_RGB888), 8, {}, m_view};
        shown->frame.fill(Qt::gray);
        if (m_driver.draws) {
            shown->picture = QImage(pictureSize(sent, m_view), QImage::Format_RGB32);
            shown->picture.fill(Qt::red);
        }
        return true;
    }
    void setDisplayView(const DisplayView &view) override { m_view = view; }

private:
    StubDriver m_driver;
    DisplayView m_view;
    bool m_sized = !m_driver.sizeLate;
};

} // namespace

std::vector<DriverDescription> StubSource::drivers()
{
    std::vector<DriverDescription> list;
    for (const StubDriver &driver : m_drivers)
        list.push_back({driver.name, QStringLiteral("stub 1.0"), {.key = driver.name}});
    return list;
}

std::unique_ptr<CaptureDevice> StubSource::open(const QString &key, QString *error)
{
    const auto found =
        std::find_if(m_drivers.begin(), m_drivers.end(),
                     [&key](const StubDriver &driver) { return driver.name == key; });
    if (found == m_drivers.end() || !found->opens) {
        *error = QStringLiteral("Stub driver %1 does not open").arg(found - m_drivers.begin());
        return nullptr;
    }
    return std::make_unique<StubDevice>(*found);
}

} // namespace voruna::test
