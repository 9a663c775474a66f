#include "platform/QtPointer.h"

#include <QCursor>

namespace platform {

QPointF QtPointer::position() const {
    return QCursor::pos();
}

} // namespace platform
