#pragma once

namespace platform {

// Widest or tallest picture decoded: an 8K screenshot (7680 x 4320) passes with room to spare.
constexpr int kMaxImageSide = 16384;
// Most pixels decoded (1 GiB as 32-bit): headers claiming more are refused before allocating.
constexpr long long kMaxImagePixels = 268435456;

} // namespace platform
