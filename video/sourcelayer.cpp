// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/capture/capturedevice.h"
#include "video/capturesubwindow.h"

#include <QMdiArea>

#include <algorithm>

namespace voruna {

namespace {

// A source's batches fit between those of the sources before and after it.
constexpr int placesPerSource = 1 << 16;

class SourceCaptureLayer final : public CaptureLayer, public DriverOpener {
public:
    explicit SourceCaptureLayer(std::vector<std::unique_ptr<DriverSource>> sources)
        : m_sources(std::move(sources))
    {}

    std::optional<DriverDescription> driverDescription(int index) override
    {
        for (int source = 0; source < int(m_sources.size()) && index >= 0; ++source) {
            const std::vector<DriverDescription> drivers = listed(source);
            if (index < int(drivers.size()))
                return drivers[size_t(index)];
            index -= int(drivers.size());
        }
        return std::nullopt;
    }

    std::vector<DriverDescription> drivers() override
    {
        std::vector<DriverDescription> all;
        for (int source = 0; source < int(m_sources.size()); ++source) {
            const std::vector<DriverDescription> found = listed(source);
            all.insert(all.end(), found.begin(), found.end());
        }
        return all;
    }

    void listDrivers(QObject *context, DriversFound found) override
    {
        for (int source = 0; source < int(m_sources.size()); ++source) {
            m_sources[size_t(source)]->listDrivers(
                context, [source, found](int group, const std::vector<DriverDescription> &batch) {
                    found(source * placesPerSource + std::clamp(group, 0, placesPerSource - 1),
                          tagged(batch, source));
                });
        }
    }

    CaptureWindow *createCaptureWindow(QWidget *parent, const QString &title,
                                       const QRect &geometry) override
    {
        auto *area = qobject_cast<QMdiArea *>(parent);
        if (!area)
            return nullptr;
        auto *window = new CaptureSubWindow(*this);
        area->addSubWindow(window);
        window->setWindowTitle(title);
        window->setGeometry(geometry);
        window->show();
        return window;
    }

    std::optional<DriverId> driverAt(int index) override
    {
        const std::optional<DriverDescription> driver = driverDescription(index);
        return driver ? std::optional(driver->id) : std::nullopt;
    }

    std::unique_ptr<CaptureDevice> openDriver(const DriverId &driver, QString *error) override
    {
        error->clear();
        if (driver.isNull() || driver.source >= int(m_sources.size()))
            return nullptr;
        return m_sources[size_t(driver.source)]->open(driver.key, error);
    }

private:
    static std::vector<DriverDescription> tagged(std::vector<DriverDescription> drivers, int source)
    {
        for (DriverDescription &driver : drivers)
            driver.id.source = source;
        return drivers;
    }
    std::vector<DriverDescription> listed(int source)
    {
        return tagged(m_sources[size_t(source)]->drivers(), source);
    }

    std::vector<std::unique_ptr<DriverSource>> m_sources;
};

} // namespace

std::unique_ptr<CaptureLayer> makeCaptureLayer(std::vector<std::unique_ptr<DriverSource>> sources)
{
    return std::make_unique<SourceCaptureLayer>(std::move(sources));
}

} // namespace voruna
