// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Paths of the pictures compiled into the program. They are linked in with voruna_core, so
// every program and test that links it can open them without further set-up.
namespace voruna::resources {

// Window icon: 32 x 32, 256 colours, a dark red reticle on white.
inline constexpr char kWindowIcon[] = ":/voruna.ico";
// Slew arrows: each holds a 32 x 32 and a 16 x 16 image of 16 colours.
inline constexpr char kArrowUp[] = ":/arrow-up.ico";
inline constexpr char kArrowDown[] = ":/arrow-down.ico";
inline constexpr char kArrowLeft[] = ":/arrow-left.ico";
inline constexpr char kArrowRight[] = ":/arrow-right.ico";
// About picture: colour JPEG, 200 x 107.
inline constexpr char kAboutPicture[] = ":/about.jpg";

} // namespace voruna::resources
