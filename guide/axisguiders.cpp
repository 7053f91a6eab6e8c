// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder: plain proportional corrections until the real algorithms land.
#include "guide/axisguider.h"

namespace voruna {

namespace {

class Proportional final : public AxisGuider {
public:
    explicit Proportional(double share) : m_share(share) {}
    double correction(double, double error) override { return -m_share * error; }
    void reset() override {}

private:
    double m_share;
};

} // namespace

std::unique_ptr<AxisGuider> makeHysteresisGuider(const HysteresisSettings &settings)
{
    return std::make_unique<Proportional>(settings.aggressiveness);
}

std::unique_ptr<AxisGuider> makeResistSwitchGuider(const ResistSwitchSettings &settings)
{
    return std::make_unique<Proportional>(settings.aggressiveness);
}

} // namespace voruna
