// stiqlet-jxr: decodes one JPEG XR file for the note with libjxr, in a process of its own. Reads
// the file from standard input and answers on standard output as JxrChild.h says. libjxr crashes
// on some damaged files: that ends this process only, quietly, without a core file.
#include "pictures/JxrOrientation.h"
#include "platform/jxr/JxrChild.h"
#include "platform/jxr/JxrLibrary.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <new>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using platform::jxr::ChildReply;

bool readAll(int fd, void *to, size_t size) {
    char *p = static_cast<char *>(to);
    while (size > 0) {
        const ssize_t got = ::read(fd, p, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        size -= size_t(got);
    }
    return true;
}

bool writeAll(int fd, const void *from, size_t size) {
    const char *p = static_cast<const char *>(from);
    while (size > 0) {
        const ssize_t written = ::write(fd, p, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        p += written;
        size -= size_t(written);
    }
    return true;
}

bool sendFailure(int fd, const QString &reason) {
    const QByteArray text = reason.toUtf8();
    ChildReply reply;
    reply.failed = 1;
    reply.reasonBytes = qint32(text.size());
    return writeAll(fd, &reply, sizeof reply) && writeAll(fd, text.constData(), size_t(text.size()));
}

// Collects the decoded rows into a picture as stored.
class ImageSink : public platform::jxr::Sink {
public:
    bool start(const platform::jxr::Picture &picture) override {
        image_ = QImage(int(picture.width), int(picture.height), QImage::Format_ARGB32);
        return !image_.isNull();
    }
    bool row(const QRgb *pixels) override {
        std::copy_n(pixels, image_.width(), reinterpret_cast<QRgb *>(image_.scanLine(y_++)));
        return true;
    }
    QImage take() { return std::move(image_); }

private:
    QImage image_;
    int y_ = 0;
};

} // namespace

int main() {
    // The program reads what it needs from the pipe; a crash is told by the signal that ended
    // this process, so it leaves no core file.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::signal(SIGPIPE, SIG_DFL);

    qint64 size = 0;
    if (!readAll(STDIN_FILENO, &size, sizeof size) || size <= 0 ||
        size > platform::jxr::kMaxFileBytes)
        return 2;
    QImage image;
    QString why;
    try {
        QByteArray data(size, Qt::Uninitialized);
        if (!readAll(STDIN_FILENO, data.data(), size_t(size)))
            return 2;
        platform::jxr::Picture picture;
        ImageSink sink;
        platform::jxr::Failure failure = platform::jxr::decode(data, &picture, sink);
        if (failure == platform::jxr::Failure::None)
            image = platform::jxr::oriented(sink.take(), picture.orientation);
        // The sink stops only when it has no room for the picture.
        if (failure == platform::jxr::Failure::Stopped ||
            (failure == platform::jxr::Failure::None && image.isNull()))
            failure = platform::jxr::Failure::OutOfMemory;
        if (image.isNull())
            why = platform::jxr::describe(failure, picture);
    } catch (const std::bad_alloc &) {
        why = platform::jxr::describe(platform::jxr::Failure::OutOfMemory, {});
    }
    if (image.isNull())
        return sendFailure(STDOUT_FILENO, why) ? 0 : 2;

    ChildReply reply;
    reply.width = image.width();
    reply.height = image.height();
    if (!writeAll(STDOUT_FILENO, &reply, sizeof reply))
        return 2;
    const size_t rowBytes = size_t(image.width()) * sizeof(QRgb);
    for (int y = 0; y < image.height(); ++y)
        if (!writeAll(STDOUT_FILENO, image.constScanLine(y), rowBytes))
            return 2;
    return 0;
}
