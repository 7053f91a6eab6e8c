// SPDX-License-Identifier: GPL-3.0-or-later
#include "video/capturedevice.h"
#include "video/capturesubwindow.h"

#include <QMdiArea>

namespace voruna {

namespace {

class SourceCaptureLayer final : public CaptureLayer, public DriverOpener {
public:
    explicit SourceCaptureLayer(std::vector<std::unique_ptr<DriverSource>> sources)
        : m_sources(std::move(sources))
    {}

    std::optional<DriverDescription> driverDescription(int index) override
    {
        for (const auto &source : m_sources) {
            if (index < 0)
                break;
            const std::vector<DriverDescription> drivers = source->drivers();
            if (index < int(drivers.size()))
                return drivers[index];
            index -= int(drivers.size());
        }
        return std::nullopt;
    }

    std::vector<DriverDescription> drivers() override
    {
        std::vector<DriverDescription> all;
        for (const auto &source : m_sources) {
            const std::vector<DriverDescription> found = source->drivers();
            all.insert(all.end(), found.begin(), found.end());
        }
        return all;
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

    std::unique_ptr<CaptureDevice> openDriver(int index, QString *error) override
    {
        for (const auto &source : m_sources) {
            if (index < 0)
                break;
            const int count = int(source->drivers().size());
            if (index < count)
                return source->open(index, error);
            index -= count;
        }
        // No driver there: nothing to tell the user, the window simply shows no picture.
        error->clear();
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<DriverSource>> m_sources;
};

} // namespace

std::unique_ptr<CaptureLayer> makeCaptureLayer(std::vector<std::unique_ptr<DriverSource>> sources)
{
    return std::make_unique<SourceCaptureLayer>(std::move(sources));
}

} // namespace voruna
