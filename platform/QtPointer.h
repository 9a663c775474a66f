#pragma once

#include "platform/Pointer.h"

namespace platform {

// The pointer as Qt reports it, in logical units of the virtual desktop.
class QtPointer final : public Pointer {
public:
    QPointF position() const override;
};

} // namespace platform
