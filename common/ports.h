// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace voruna {

// The serial ports the program offers: COM 1 to COM 16, saved as index 0 to 15.
inline constexpr int kPortCount = 16;

} // namespace voruna
