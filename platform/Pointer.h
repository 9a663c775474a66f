#pragma once

#include <QPointF>

namespace platform {

// The pointer position in screen coordinates, in logical units.
class Pointer {
public:
    virtual ~Pointer() = default;
    // Where the pointer is now.
    virtual QPointF position() const = 0;
};

} // namespace platform
