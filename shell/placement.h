// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace voruna {

// Moves a top-level window so that the whole of it, caption and frame included, is centred on
// the available area of its screen. The frame counts as what the window system reports now:
// nothing before the window is first shown.
void centreOnScreen(QWidget &window);

// Called as the window is first shown: once the window manager has put its frame around it
// (within about a second), centres it again with the frame, unless the user has moved it since.
void recentreOnceFramed(QWidget &window);

} // namespace voruna
