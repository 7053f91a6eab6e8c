// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/serialguideoutput.h"

namespace voruna {

Direction padDirection(GuideDirection direction)
{
    switch (direction) {
    case GuideDirection::North:
        return Direction::North;
    case GuideDirection::South:
        return Direction::South;
    case GuideDirection::West:
        return Direction::West;
    case GuideDirection::East:
        return Direction::East;
    }
    return Direction::North;
}

bool SerialGuideOutput::startMove(GuideDirection direction)
{
    return m_serial.setOutput(commandsFor(padDirection(direction)).start) == CommError::Ok;
}

bool SerialGuideOutput::stopMove(GuideDirection direction)
{
    return m_serial.setOutput(commandsFor(padDirection(direction)).stop) == CommError::Ok;
}

} // namespace voruna
