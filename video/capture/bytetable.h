// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace voruna {

// Replaces each of `count` bytes of `in` by its entry in the 256-entry `table`, into `out`
// (which may be `in`). Uses the processor's byte-permute instructions where it has them, so
// that a picture's stretch costs about as much as copying it.
void lookUpBytes(const std::uint8_t *in, std::uint8_t *out, std::size_t count,
                 const std::uint8_t *table);

} // namespace voruna
