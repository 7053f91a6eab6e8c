// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "video/capture/capturedevice.h"

#include <QString>

namespace voruna {

// Ids of the capture layer's notifications. Status and error ids are counted separately.
namespace notice {
constexpr int StreamStarted = 1;    // status: "640 x 480 YUYV at 30 fps"
constexpr int ConnectFailed = 1;    // error: why the driver could not be connected
constexpr int DeviceLost = 2;       // error: the camera went away or its stream broke
constexpr int FormatRefused = 3;    // error: the camera did not take the chosen format
constexpr int StreamNotStarted = 4; // error: the camera was connected but sends no frames
} // namespace notice

// "The camera does not start streaming: <reason>"; `reason` is the system's, may be empty.
QString streamNotStartedText(const QString &reason);

// "640 x 480 YUYV at 30 fps": the stream as the status line names it.
QString streamDescription(const StreamFormat &format);

} // namespace voruna
