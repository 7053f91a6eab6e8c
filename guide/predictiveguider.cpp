// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder until the predictive algorithm lands.
#include "guide/axisguider.h"

namespace voruna {

std::unique_ptr<AxisGuider> makePredictiveGuider(const PredictiveSettings &settings)
{
    return makeHysteresisGuider({settings.aggressiveness, 0.0});
}

} // namespace voruna
