#include "FakeServices.h"

#include "pictures/ImageDecode.h"
#include "platform/JxrDecoder.h"
#include "platform/Services.h"
#include "platform/TiffDecoder.h"

#include <QBuffer>

#include <memory>

FakeServices::FakeServices() {
    using namespace platform::services;
    auto k = std::make_unique<FakeKeyState>();
    auto c = std::make_unique<FakeClipboard>();
    auto d = std::make_unique<FakeDialogs>();
    keys = k.get();
    clipboard = c.get();
    dialogs = d.get();
    setKeyState(std::move(k));
    setClipboard(std::move(c));
    setDialogs(std::move(d));
}

FakeServices::~FakeServices() {
    platform::services::clear();
}

void useProgramFileDecoders() {
    platform::setFileDecoders(platform::decodeJxr, platform::decodeTiffBySystem);
}

QByteArray encodedImage(const QImage &image, const char *format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
