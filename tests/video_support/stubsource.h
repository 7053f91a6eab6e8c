// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <vector>

namespace voruna::test {

// A driver that is not a V4L2 camera: fixed picture size and dialog flags, a grey frame
// whenever one is asked for. Stands for drivers listed after the cameras.
struct StubDriver {
    QString name;
    QSize size{160, 120};
    bool source = true;
    bool format = true;
    bool display = true;
    bool opens = true;
    // Tells its size only with the first frame, as a remote camera still connecting does.
    bool sizeLate = false;
    // The size of the pictures it sends from the start, when it is not the size it tells.
    QSize sent{};
    // Draws its pictures, plain red, for the view it was given, as a camera converting on a
    // thread of its own does.
    bool draws = false;
};

class StubSource final : public DriverSource {
public:
    explicit StubSource(std::vector<StubDriver> drivers) : m_drivers(std::move(drivers)) {}
    std::vector<DriverDescription> drivers() override;
    // Drivers are known by their names.
    std::unique_ptr<CaptureDevice> open(const QString &key, QString *error) override;
    std::vector<StubDriver> &scripted() { return m_drivers; }

private:
    std::vector<StubDriver> m_drivers;
};

} // namespace voruna::test
