#include "platform/JxrDecoder.h"

namespace platform {

QImage decodeJxr(const QByteArray &, QString *whyNot) {
    if (whyNot)
        *whyNot = QStringLiteral("JPEG XR is not supported in this build");
    return {};
}

bool jxrSupported() {
    return false;
}

void stopDecoding() {}

void setDecoderProgram(const QString &) {}

} // namespace platform
