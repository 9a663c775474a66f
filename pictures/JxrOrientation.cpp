#include "pictures/JxrOrientation.h"

#include <QTransform>

namespace platform::jxr {

QImage oriented(QImage image, int orientation) {
    if (orientation >= 4)
        image = image.transformed(QTransform().rotate(90));
    switch (orientation % 4) {
    case 1:
        image = image.mirrored(false, true);
        break;
    case 2:
        image = image.mirrored(true, false);
        break;
    case 3:
        image = image.mirrored(true, true);
        break;
    default:
        break;
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace platform::jxr
