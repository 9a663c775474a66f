// JPEG XR files are decoded by libjxr in a child process. libjxr reads far outside its buffers
// on some damaged files and fails assertions on others; a dropped file must not end the note.
// The child decodes (JxrLibrary.cpp) and sends the pixels back through a pipe; if it dies or
// takes too long, the file is refused.
#include "platform/JxrDecoder.h"

#include "platform/ImageLimits.h"
#include "platform/jxr/JxrLibrary.h"
#include "platform/jxr/JxrOrientation.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

// A child that takes longer is stopped. An 8K picture stored losslessly takes about 5 s, the
// largest one allowed eight times as long.
constexpr int kDecodeTimeoutMs = 300 * 1000;

// What the child sends first. The rows follow when the decode succeeded.
struct Reply {
    qint32 failure;
    qint32 orientation;
    qint64 width;
    qint64 height;
};

QImage fail(QString *whyNot, const QString &reason) {
    if (whyNot)
        *whyNot = reason;
    return {};
}

bool writeAll(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
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

// Reads exactly `size` bytes; false when the pipe ends first or the deadline passes.
bool readAll(int fd, void *out, size_t size, const QDeadlineTimer &deadline) {
    char *p = static_cast<char *>(out);
    while (size > 0) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(deadline.remainingTime()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
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

class PipeSink : public jxr::Sink {
public:
    explicit PipeSink(int fd)
        : fd_(fd) {}
    bool start(const jxr::Picture &picture) override {
        started_ = true;
        width_ = picture.width;
        const Reply reply{qint32(jxr::Failure::None), picture.orientation, picture.width,
                          picture.height};
        return writeAll(fd_, &reply, sizeof reply);
    }
    bool row(const QRgb *pixels) override {
        return writeAll(fd_, pixels, size_t(width_) * sizeof(QRgb));
    }
    bool started() const { return started_; }

private:
    int fd_;
    bool started_ = false;
    qint64 width_ = 0;
};

// Runs in the forked child, which has only this thread: nothing here may wait for another
// thread's lock or work, so the pixels go out as they are and Qt's image conversions, which may
// hand work to a thread pool, stay in the parent. The child ends with _exit(), running none of the
// program's exit handlers.
[[noreturn]] void decodeInChild(const QByteArray &data, int fd) {
    // A crash ends the child quietly: no handler the program installed, no core file, and
    // nothing of what libjxr prints or asserts reaches the terminal.
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPIPE})
        std::signal(signal, SIG_DFL);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const int nowhere = ::open("/dev/null", O_WRONLY);
    if (nowhere >= 0) {
        ::dup2(nowhere, STDOUT_FILENO);
        ::dup2(nowhere, STDERR_FILENO);
    }

    PipeSink sink(fd);
    jxr::Picture picture;
    jxr::Failure failure = jxr::Failure::OutOfMemory;
    try {
        failure = jxr::decode(data, &picture, sink);
    } catch (...) { // a failed allocation of Qt's
    }
    if (failure != jxr::Failure::None && !sink.started()) {
        const Reply reply{qint32(failure), picture.orientation, picture.width, picture.height};
        writeAll(fd, &reply, sizeof reply);
    }
    ::_exit(0);
}

// The child process, stopped and reaped when it is given up on.
class Child {
public:
    explicit Child(pid_t pid)
        : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // Waits for the child to end; its wait status, or -1 if it cannot be had.
    int wait() {
        int status = -1;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_;
};

class Fd {
public:
    explicit Fd(int fd)
        : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// A pipe whose ends are not inherited by programs started later.
bool openPipe(int ends[2]) {
    if (::pipe(ends) != 0)
        return false;
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return true;
}

// Why the child sent less than it should have.
QString lostChild(Child &child, const QDeadlineTimer &deadline) {
    if (deadline.hasExpired())
        return QStringLiteral("decoding the JPEG XR image took too long");
    const int status = child.wait();
    if (status != -1 && WIFSIGNALED(status))
        return QStringLiteral("the JPEG XR decoder crashed on this file (signal %1)")
            .arg(WTERMSIG(status));
    return QStringLiteral("the JPEG XR decoder stopped on this file");
}

} // namespace

QImage decodeJxr(const QByteArray &data, QString *whyNot) {
    if (data.isEmpty())
        return fail(whyNot, QStringLiteral("no data"));

    int ends[2];
    if (!openPipe(ends))
        return fail(whyNot, QStringLiteral("cannot start the JPEG XR decoder"));
    const Fd reading(ends[0]);
    Fd writing(ends[1]);
    const pid_t pid = ::fork();
    if (pid < 0)
        return fail(whyNot, QStringLiteral("cannot start the JPEG XR decoder"));
    if (pid == 0) {
        // Without a reading end of its own, the child gets SIGPIPE if the program goes away.
        ::close(ends[0]);
        decodeInChild(data, ends[1]);
    }
    Child child(pid);
    writing.reset(); // so that the pipe ends when the child's end closes

    const QDeadlineTimer deadline(kDecodeTimeoutMs);
    Reply reply{};
    if (!readAll(reading.get(), &reply, sizeof reply, deadline))
        return fail(whyNot, lostChild(child, deadline));
    const jxr::Picture picture{reply.width, reply.height, reply.orientation};
    if (reply.failure != qint32(jxr::Failure::None))
        return fail(whyNot, jxr::describe(jxr::Failure(reply.failure), picture));

    // The child checked all this; a reply from a damaged child must not size an allocation.
    if (picture.width <= 0 || picture.height <= 0 || picture.width > kMaxImageSide ||
        picture.height > kMaxImageSide || picture.width * picture.height > kMaxImagePixels ||
        picture.orientation < 0 || picture.orientation > 7)
        return fail(whyNot, QStringLiteral("the JPEG XR decoder sent a damaged reply"));
    QImage image(int(picture.width), int(picture.height), QImage::Format_ARGB32);
    if (image.isNull())
        return fail(whyNot, QStringLiteral("out of memory"));
    const size_t rowBytes = size_t(picture.width) * sizeof(QRgb);
    for (int y = 0; y < image.height(); ++y)
        if (!readAll(reading.get(), image.scanLine(y), rowBytes, deadline))
            return fail(whyNot, lostChild(child, deadline));
    child.wait();
    return jxr::oriented(std::move(image), picture.orientation);
}

bool jxrSupported() {
    return true;
}

} // namespace platform
