#include "platform/TiffDecoder.h"

namespace platform {

// Qt's TIFF reader (an image format plugin) is the only one here.
QImage decodeTiffBySystem(const QByteArray &, QString *whyNot) {
    if (whyNot)
        *whyNot = QStringLiteral("no TIFF decoder is installed");
    return {};
}

} // namespace platform
