#pragma once

#include <QImage>

namespace platform::jxr {

// The stored picture shown the way a JPEG XR container's orientation says: 0 as stored,
// 1 flipped vertically, 2 flipped horizontally, 3 both; 4 to 7 the same after a quarter turn
// clockwise, which comes first. Straight-alpha ARGB32.
QImage oriented(QImage stored, int orientation);

} // namespace platform::jxr
