#include "FakeServices.h"

#include "platform/Services.h"

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

QByteArray encodedImage(const QImage &image, const char *format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
