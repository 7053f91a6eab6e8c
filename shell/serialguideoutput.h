// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "guide/guidesession.h"
#include "link/adaptorprotocol.h"
#include "link/serialcontrol.h"

namespace voruna {

// The slew pad's direction that a guide correction moves.
Direction padDirection(GuideDirection direction);

// Guide corrections over the console's serial control: the same start and stop commands the
// slew pad sends. `serial` must outlive it.
class SerialGuideOutput final : public GuideOutput {
public:
    explicit SerialGuideOutput(SerialControl &serial) : m_serial(serial) {}

    bool startMove(GuideDirection direction) override;
    bool stopMove(GuideDirection direction) override;

private:
    SerialControl &m_serial;
};

} // namespace voruna
